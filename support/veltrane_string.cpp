#include "support/veltrane_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/resource_text.h"

namespace {

const int kMaxSize = 0x7FFFFFFF;

const char kEmptyNarrow[1] = {'\0'};
const VWCHAR kEmptyWide[1] = {0};

// A zero-filled block of nBytes, or null when nBytes is not a positive int or
// the allocation fails. Buffers come only from here, so every failure takes one path.
char* AllocateZeroed(long long nBytes) {
    if (nBytes <= 0 || nBytes > kMaxSize) {
        return nullptr;
    }
    char* pBlock = new (std::nothrow) char[static_cast<size_t>(nBytes)];
    if (pBlock != nullptr) {
        std::memset(pBlock, 0, static_cast<size_t>(nBytes));
    }
    return pBlock;
}

// Bytes that nChars characters and their terminator take in the given form.
long long BufferSize(int nChars, bool bWide) {
    return bWide ? 2 * static_cast<long long>(nChars) + 2 : static_cast<long long>(nChars) + 1;
}

// Wide units are read and written through memcpy: the buffer is byte storage.
VWCHAR ReadUnit(const char* pBuffer, int nIndex) {
    VWCHAR unit;
    std::memcpy(&unit, pBuffer + 2 * static_cast<size_t>(nIndex), sizeof(unit));
    return unit;
}

void WriteUnit(char* pBuffer, int nIndex, VWCHAR unit) {
    std::memcpy(pBuffer + 2 * static_cast<size_t>(nIndex), &unit, sizeof(unit));
}

// Whether a wide reading of the nSize bytes at pBuffer finds a 16-bit zero.
bool HoldsWideTerminator(const char* pBuffer, int32_t nSize) {
    for (int i = 0; i < nSize / 2; ++i) {
        if (ReadUnit(pBuffer, i) == 0) {
            return true;
        }
    }
    return false;
}

// A copy of the text at pText when pText lies inside the nSize bytes at pBuffer; pText
// itself otherwise. The copy ends at the text's terminator or at the buffer's end, so
// that a buffer written over through GetBuffer is never read beyond. Null when pText is
// null or the copy cannot be allocated.
const char* CopyIfInBuffer(const char* pText, bool bWide, const char* pBuffer, int32_t nSize,
                           std::unique_ptr<char[]>& pHolder) {
    // Compared as integers: ordering pointers into different blocks is unspecified.
    const std::uintptr_t nText = reinterpret_cast<std::uintptr_t>(pText);
    const std::uintptr_t nBegin = reinterpret_cast<std::uintptr_t>(pBuffer);
    if (pBuffer == nullptr || nSize <= 0 || nText < nBegin ||
        nText - nBegin >= static_cast<std::uintptr_t>(nSize)) {
        return pText;
    }
    const int nRoom = nSize - static_cast<int>(nText - nBegin);
    int nCount = 0;
    if (bWide) {
        while (nCount < nRoom / 2 && ReadUnit(pText, nCount) != 0) {
            ++nCount;
        }
    } else {
        const void* pEnd = std::memchr(pText, 0, static_cast<size_t>(nRoom));
        nCount = pEnd != nullptr ? static_cast<int>(static_cast<const char*>(pEnd) - pText) : nRoom;
    }
    const long long nCopySize = BufferSize(nCount, bWide);
    char* pCopy = AllocateZeroed(nCopySize);
    if (pCopy == nullptr) {
        return nullptr;
    }
    std::memcpy(pCopy, pText, static_cast<size_t>(nCopySize) - (bWide ? 2 : 1));
    pHolder.reset(pCopy);
    return pCopy;
}

unsigned int LowerAscii(unsigned int c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

}  // namespace

CVeltraneString::CVeltraneString() : m_pBuffer(nullptr), m_nSize(0), m_bWide(false) {
    Empty();
}

CVeltraneString::CVeltraneString(const CVeltraneString& source)
    : m_pBuffer(nullptr), m_nSize(0), m_bWide(false) {
    Empty();
    Assign(source);
}

CVeltraneString::CVeltraneString(const CVeltraneString* pSource)
    : m_pBuffer(nullptr), m_nSize(0), m_bWide(false) {
    Empty();
    if (pSource != nullptr) {
        Assign(*pSource);
    }
}

CVeltraneString::CVeltraneString(char c) : m_pBuffer(nullptr), m_nSize(0), m_bWide(false) {
    if (c == '\0') {
        Empty();
    } else if (Allocate(2)) {
        m_pBuffer[0] = c;
    }
}

CVeltraneString::CVeltraneString(const char* pText)
    : m_pBuffer(nullptr), m_nSize(0), m_bWide(false) {
    Empty();
    if (pText != nullptr) {
        SetText(pText);
    }
}

CVeltraneString::~CVeltraneString() {
    Free();
}

void CVeltraneString::Free() {
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_nSize = 0;
    m_bWide = false;
}

void CVeltraneString::Adopt(char* pBuffer, long long nSize, bool bWide) {
    delete[] m_pBuffer;
    m_pBuffer = pBuffer;
    m_nSize = static_cast<int32_t>(nSize);
    m_bWide = bWide;
}

int CVeltraneString::GetLength() const {
    if (m_nSize <= 0) {
        return 0;
    }
    const int nLength = (m_bWide ? m_nSize / 2 : m_nSize) - 1;
    // A wide flag on a one-byte buffer would otherwise give -1.
    return nLength > 0 ? nLength : 0;
}

int CVeltraneString::TextLength() const {
    if (m_pBuffer == nullptr) {
        return 0;
    }
    const int nLength = GetLength();
    if (!m_bWide) {
        const void* pEnd = std::memchr(m_pBuffer, 0, static_cast<size_t>(nLength));
        return pEnd != nullptr ? static_cast<int>(static_cast<const char*>(pEnd) - m_pBuffer)
                               : nLength;
    }
    for (int i = 0; i < nLength; ++i) {
        if (ReadUnit(m_pBuffer, i) == 0) {
            return i;
        }
    }
    return nLength;
}

const char* CVeltraneString::OutsideBuffer(const char* pText,
                                           std::unique_ptr<char[]>& pHolder) const {
    return CopyIfInBuffer(pText, false, m_pBuffer, m_nSize, pHolder);
}

const VWCHAR* CVeltraneString::OutsideBuffer(const VWCHAR* pText,
                                             std::unique_ptr<char[]>& pHolder) const {
    return reinterpret_cast<const VWCHAR*>(
        CopyIfInBuffer(reinterpret_cast<const char*>(pText), true, m_pBuffer, m_nSize, pHolder));
}

bool CVeltraneString::Allocate(int nBytes) {
    Free();
    char* pBlock = AllocateZeroed(nBytes);
    if (pBlock == nullptr) {
        return false;
    }
    Adopt(pBlock, nBytes, false);
    return true;
}

bool CVeltraneString::Empty() {
    return Allocate(1);
}

bool CVeltraneString::CopyText(const char* pText) {
    if (pText == nullptr || m_pBuffer == nullptr) {
        return false;
    }
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    const size_t nLength = std::strlen(pText);
    if (nLength > static_cast<size_t>(GetLength())) {
        return false;
    }
    std::memmove(m_pBuffer, pText, nLength + 1);
    return true;
}

bool CVeltraneString::CopyWideText(const VWCHAR* pText) {
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    m_bWide = true;
    if (m_pBuffer == nullptr) {
        return false;
    }
    const int nLength = WideTextLength(pText);
    if (nLength > m_nSize / 2 - 1) {
        return false;
    }
    std::memmove(m_pBuffer, pText, (static_cast<size_t>(nLength) + 1) * sizeof(VWCHAR));
    return true;
}

bool CVeltraneString::Grow(int nChars) {
    if (nChars <= GetLength()) {
        return false;
    }
    const long long nNewSize = BufferSize(nChars, m_bWide);
    char* pBlock = AllocateZeroed(nNewSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    if (m_pBuffer != nullptr) {
        std::memcpy(pBlock, m_pBuffer, static_cast<size_t>(m_nSize));
    }
    Adopt(pBlock, nNewSize, m_bWide);
    return true;
}

bool CVeltraneString::Reserve(int nChars) {
    if (nChars <= 0) {
        return false;
    }
    if (nChars <= GetLength()) {
        return true;
    }
    return Grow(nChars);
}

bool CVeltraneString::FitToText() {
    const int nLength = TextLength();
    return StoreText(m_pBuffer, nLength, m_bWide);
}

bool CVeltraneString::StoreText(const char* pText, int nLength, bool bWide) {
    // The new block is filled before the old one is released, so pText may point
    // into this object's own buffer.
    const long long nSize = BufferSize(nLength, bWide);
    char* pBlock = AllocateZeroed(nSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    if (nLength > 0) {
        std::memcpy(pBlock, pText, static_cast<size_t>(nSize) - (bWide ? 2 : 1));
    }
    Adopt(pBlock, nSize, bWide);
    return true;
}

bool CVeltraneString::SetText(const char* pText) {
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    const size_t nLength = std::strlen(pText);
    if (nLength >= static_cast<size_t>(kMaxSize)) {
        Free();
        return false;
    }
    return StoreText(pText, static_cast<int>(nLength), false);
}

bool CVeltraneString::SetWideText(const VWCHAR* pText) {
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    return StoreText(reinterpret_cast<const char*>(pText), WideTextLength(pText), true);
}

bool CVeltraneString::Assign(const CVeltraneString& source) {
    if (&source == this) {
        return false;
    }
    const bool bThisEmpty = m_pBuffer == nullptr || GetLength() == 0;
    const bool bSourceEmpty = source.m_pBuffer == nullptr || source.GetLength() == 0;
    if (bThisEmpty && bSourceEmpty && m_bWide == source.m_bWide) {
        return true;
    }
    if (source.m_pBuffer == nullptr) {
        return Empty();
    }
    // The buffer size is copied, not only the text, so a reserved buffer stays reserved.
    char* pBlock = AllocateZeroed(source.m_nSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    const size_t nUnit = source.m_bWide ? sizeof(VWCHAR) : 1;
    std::memcpy(pBlock, source.m_pBuffer, static_cast<size_t>(source.TextLength()) * nUnit);
    Adopt(pBlock, source.m_nSize, source.m_bWide);
    return true;
}

CVeltraneString& CVeltraneString::operator=(const CVeltraneString& source) {
    Assign(source);
    return *this;
}

CVeltraneString& CVeltraneString::operator=(const char* pText) {
    if (pText != nullptr) {
        SetText(pText);
    }
    return *this;
}

bool CVeltraneString::Format(const char* pFormat, ...) {
    if (pFormat == nullptr) {
        return false;
    }
    char szWork[kWorkBufferSize];
    va_list args;
    va_start(args, pFormat);
    const int nWritten = std::vsnprintf(szWork, sizeof(szWork), pFormat, args);
    va_end(args);
    // Negative: an error, or a cut result on a runtime that reports cutting that way.
    if (nWritten <= 0 || nWritten >= kWorkBufferSize) {
        return false;
    }
    return SetText(szWork);
}

bool CVeltraneString::LoadResourceText(int nID, void* hModule) {
    if (nID <= 0) {
        return false;
    }
    char szWork[kWorkBufferSize];
    if (LoadStringTableText(hModule, nID, szWork, kWorkBufferSize) <= 0) {
        return false;
    }
    return SetText(szWork);
}

bool CVeltraneString::MakeNarrow() {
    if (!m_bWide) {
        return false;
    }
    // The new size keeps the length (GetLength + 1 bytes), even for a reserved buffer.
    const int nLength = GetLength();
    const int nText = TextLength();
    const long long nSize = BufferSize(nLength, false);
    char* pBlock = AllocateZeroed(nSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    for (int i = 0; i < nText; ++i) {
        pBlock[i] = WideCharToNarrow(ReadUnit(m_pBuffer, i));
    }
    Adopt(pBlock, nSize, false);
    return true;
}

bool CVeltraneString::MakeWide() {
    if (m_bWide) {
        return false;
    }
    const int nLength = GetLength();
    const int nText = TextLength();
    const long long nSize = BufferSize(nLength, true);
    char* pBlock = AllocateZeroed(nSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    for (int i = 0; i < nText; ++i) {
        WriteUnit(pBlock, i, NarrowCharToWide(m_pBuffer[i]));
    }
    Adopt(pBlock, nSize, true);
    return true;
}

const char* CVeltraneString::GetText() {
    MakeNarrow();
    // A caller may have written over the terminator through GetBuffer; storing the text
    // again gives the caller a terminated one.
    if (m_pBuffer != nullptr &&
        std::memchr(m_pBuffer, 0, static_cast<size_t>(m_nSize)) == nullptr) {
        FitToText();
    }
    return m_pBuffer != nullptr ? m_pBuffer : kEmptyNarrow;
}

const VWCHAR* CVeltraneString::GetWideText() {
    MakeWide();
    // A refused CopyWideText leaves narrow bytes marked wide, and they need not hold a 16-bit
    // terminator; storing the text again gives the caller a terminated one.
    if (m_pBuffer != nullptr && !HoldsWideTerminator(m_pBuffer, m_nSize)) {
        FitToText();
    }
    return m_pBuffer != nullptr ? reinterpret_cast<const VWCHAR*>(m_pBuffer) : kEmptyWide;
}

bool CVeltraneString::HasNonAscii() const {
    if (!m_bWide || m_pBuffer == nullptr) {
        return false;
    }
    const int nLength = GetLength();
    for (int i = 0; i < nLength; ++i) {
        if (static_cast<unsigned int>(ReadUnit(m_pBuffer, i)) > 127) {
            return true;
        }
    }
    return false;
}

bool CVeltraneString::IsEqual(const CVeltraneString& other) const {
    if (GetLength() != other.GetLength()) {
        return false;
    }
    if (GetLength() == 0) {
        return true;
    }
    if (m_bWide == other.m_bWide) {
        // Equal lengths can still differ by one byte in size (an odd wide buffer);
        // compare only the bytes that both buffers have.
        const int32_t nBytes = m_nSize < other.m_nSize ? m_nSize : other.m_nSize;
        return std::memcmp(m_pBuffer, other.m_pBuffer, static_cast<size_t>(nBytes)) == 0;
    }
    CVeltraneString converted(*this);
    if (other.m_bWide) {
        converted.MakeWide();
    } else {
        converted.MakeNarrow();
    }
    return converted.m_pBuffer != nullptr && converted.m_nSize == other.m_nSize &&
           std::memcmp(converted.m_pBuffer, other.m_pBuffer, static_cast<size_t>(other.m_nSize)) ==
               0;
}

unsigned int CVeltraneString::CharAt(int nIndex) const {
    if (m_bWide) {
        return static_cast<unsigned int>(ReadUnit(m_pBuffer, nIndex));
    }
    return static_cast<unsigned char>(m_pBuffer[nIndex]);
}

int CVeltraneString::CompareNoCase(CVeltraneString other) const {
    if (GetLength() == 0) {
        return other.GetLength() == 0 ? 0 : -1;
    }
    if (other.GetLength() == 0) {
        return 1;
    }
    if (m_bWide) {
        other.MakeWide();
    } else {
        other.MakeNarrow();
    }
    const int nThis = TextLength();
    const int nOther = other.TextLength();
    for (int i = 0;; ++i) {
        const unsigned int a = i < nThis ? LowerAscii(CharAt(i)) : 0;
        const unsigned int b = i < nOther ? LowerAscii(other.CharAt(i)) : 0;
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
    }
}

int CVeltraneString::Find(const char* pPattern, int nStart, bool bIgnoreCase) const {
    const int nLength = GetLength();
    if (nLength == 0 || nStart < 0 || nStart >= nLength || pPattern == nullptr) {
        return -1;
    }
    if (m_bWide) {
        // Positions of the narrow form are the same character indices.
        CVeltraneString narrow(*this);
        if (!narrow.MakeNarrow()) {
            return -1;
        }
        return narrow.Find(pPattern, nStart, bIgnoreCase);
    }
    const int nText = TextLength();
    const int nPattern = static_cast<int>(std::strlen(pPattern));
    if (!bIgnoreCase) {
        // Behind the terminator the text is empty, where only the empty pattern matches.
        if (nPattern == 0) {
            return nStart;
        }
        for (int p = nStart; p + nPattern <= nText; ++p) {
            if (std::memcmp(m_pBuffer + p, pPattern, static_cast<size_t>(nPattern)) == 0) {
                return p;
            }
        }
        return -1;
    }
    if (nPattern == 0) {
        return -1;
    }
    for (int p = nStart;; ++p) {
        int i = 0;
        for (; i < nPattern; ++i) {
            if (p + i >= nText) {
                return -1;
            }
            const unsigned int c = static_cast<unsigned char>(m_pBuffer[p + i]);
            if (LowerAscii(c) != LowerAscii(static_cast<unsigned char>(pPattern[i]))) {
                break;
            }
        }
        if (i == nPattern) {
            return p;
        }
    }
}

CVeltraneString CVeltraneString::Substring(int nFirst, int nLast) const {
    CVeltraneString result;
    const int nLength = GetLength();
    if (nLength == 0 || nFirst < 0 || nFirst >= nLength) {
        return result;
    }
    if (nLast == -1 || nLast > nLength - 1) {
        nLast = nLength - 1;
    }
    if (nLast < 0 || nLast < nFirst) {
        return result;
    }
    const int nCount = nLast - nFirst + 1;
    const size_t nUnit = m_bWide ? sizeof(VWCHAR) : 1;
    result.StoreText(m_pBuffer + static_cast<size_t>(nFirst) * nUnit, nCount, m_bWide);
    return result;
}

bool CVeltraneString::AppendBytes(const char* pText, int nCount, bool bWide) {
    const size_t nUnit = bWide ? sizeof(VWCHAR) : 1;
    // A buffer too small to hold a terminator of this form counts as no buffer.
    const long long nUnitBytes = static_cast<long long>(nUnit);
    const long long nBase = m_nSize < nUnitBytes ? nUnitBytes : m_nSize;
    const long long nNewSize = nBase + static_cast<long long>(nCount) * nUnitBytes;
    const int nOld = TextLength();
    char* pBlock = AllocateZeroed(nNewSize);
    if (pBlock == nullptr) {
        Free();
        return false;
    }
    // The new text goes behind the old text's terminator; pText may point into
    // this object's buffer, which is still alive here.
    if (m_pBuffer != nullptr) {
        std::memcpy(pBlock, m_pBuffer, static_cast<size_t>(nOld) * nUnit);
    }
    std::memcpy(pBlock + static_cast<size_t>(nOld) * nUnit, pText,
                static_cast<size_t>(nCount) * nUnit);
    Adopt(pBlock, nNewSize, bWide);
    return true;
}

bool CVeltraneString::AppendText(const char* pText) {
    if (pText == nullptr || pText[0] == '\0') {
        return false;
    }
    // MakeNarrow may replace the buffer that pText points into.
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    const size_t nLength = std::strlen(pText);
    if (nLength >= static_cast<size_t>(kMaxSize)) {
        return false;
    }
    MakeNarrow();
    return AppendBytes(pText, static_cast<int>(nLength), false);
}

bool CVeltraneString::AppendWideText(const VWCHAR* pText) {
    // MakeWide may replace the buffer that pText points into.
    std::unique_ptr<char[]> pHolder;
    pText = OutsideBuffer(pText, pHolder);
    if (pText == nullptr) {
        return false;
    }
    MakeWide();
    const int nLength = WideTextLength(pText);
    if (nLength == 0) {
        return false;
    }
    return AppendBytes(reinterpret_cast<const char*>(pText), nLength, true);
}

bool CVeltraneString::Append(const CVeltraneString& other) {
    if (other.m_pBuffer == nullptr || other.GetLength() == 0) {
        return false;
    }
    if (m_bWide != other.m_bWide) {
        if (other.m_bWide) {
            MakeWide();
        } else {
            MakeNarrow();
        }
    }
    const int nCount = other.TextLength();
    if (nCount == 0) {
        return false;
    }
    return AppendBytes(other.m_pBuffer, nCount, other.m_bWide);
}

CVeltraneString& CVeltraneString::operator+=(const char* pText) {
    if (pText != nullptr) {
        AppendText(pText);
    }
    return *this;
}

CVeltraneString& CVeltraneString::operator+=(CVeltraneString other) {
    Append(other);
    return *this;
}

CVeltraneString CVeltraneString::operator+(CVeltraneString other) const {
    CVeltraneString result(*this);
    result.Append(other);
    return result;
}

bool CVeltraneString::AddBackslash() {
    const int nText = TextLength();
    if (nText > 0 && CharAt(nText - 1) == '\\') {
        return false;
    }
    return Append(CVeltraneString('\\'));
}

bool CVeltraneString::ReplaceAll(const char* pPattern, const char* pReplacement, bool bIgnoreCase) {
    if (pPattern == nullptr || pReplacement == nullptr || pPattern[0] == '\0') {
        return false;
    }
    // Each step stores the joined text, which releases the buffer the arguments may point into.
    std::unique_ptr<char[]> pPatternHolder;
    std::unique_ptr<char[]> pReplacementHolder;
    pPattern = OutsideBuffer(pPattern, pPatternHolder);
    pReplacement = OutsideBuffer(pReplacement, pReplacementHolder);
    if (pPattern == nullptr || pReplacement == nullptr) {
        return false;
    }
    int nPos = Find(pPattern, 0, bIgnoreCase);
    if (nPos == -1) {
        return false;
    }
    const int nPattern = static_cast<int>(std::strlen(pPattern));
    const int nReplacement = static_cast<int>(std::strlen(pReplacement));
    while (nPos != -1) {
        const CVeltraneString left = nPos > 0 ? Substring(0, nPos - 1) : CVeltraneString();
        const CVeltraneString right = Substring(nPos + nPattern, -1);
        CVeltraneString joined(left);
        joined.AppendText(pReplacement);
        joined.Append(right);
        const char* pJoined = joined.GetText();
        // A failed allocation on the way would drop part of the text; stop rather
        // than store it.
        if (left.m_pBuffer == nullptr || right.m_pBuffer == nullptr ||
            joined.m_pBuffer == nullptr || !SetText(pJoined)) {
            return false;
        }
        // Resume behind the replacement, so a replacement holding the pattern is left alone.
        nPos = Find(pPattern, nPos + nReplacement, bIgnoreCase);
    }
    return true;
}
