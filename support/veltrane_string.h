// CVeltraneString: the program's text type. One object owns one heap buffer that
// holds either narrow text (8-bit, zero-terminated) or wide text (16-bit VWCHAR,
// ended by a 16-bit zero), and converts between the two on demand.
//
// Length rule: the length is derived from the buffer size, not from the
// terminator's position: m_nSize - 1 for narrow, m_nSize / 2 - 1 for wide, 0
// when m_nSize <= 0. Storing a text allocates exactly one terminator more than
// the text; only Reserve and Grow leave a larger buffer, and then GetLength is
// the capacity until FitToText refits it. Every buffer is zero-filled.
//
// Ownership: each object owns its buffer alone; copies allocate their own.
// An object is without a buffer (m_pBuffer null, m_nSize 0, narrow) only after
// an allocation failed; the next successful assignment gives it one again.
//
// Failures are reported through results (false, -1) and leave a defined state;
// nothing throws. Null text arguments are refused with false.
//
// Text arguments may point into the object's own buffer (GetBuffer, GetText,
// GetWideText): every operation then works on a copy of that text, read up to
// its terminator or the buffer's end, and gives what the same text from
// elsewhere gives. Only when that copy cannot be allocated does the operation
// return false, with nothing changed.
//
// Threading: no locking. One thread at a time per object; distinct objects are
// independent.
#ifndef IDROVAN_SUPPORT_VELTRANE_STRING_H_
#define IDROVAN_SUPPORT_VELTRANE_STRING_H_

#include <cstdint>
#include <memory>

#include "platform/wide_char.h"

#if defined(__clang__)
// clang knows no gnu_printf; its printf checks are the same rules.
#define VELTRANE_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define VELTRANE_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define VELTRANE_PRINTF_FORMAT(fmt, args)
#endif

class CVeltraneString {
public:
    // Size of the working buffer of Format and LoadResourceText, terminator
    // included: at most 4095 characters come out of either.
    static const int kWorkBufferSize = 4096;

    CVeltraneString();
    CVeltraneString(const CVeltraneString& source);
    // The empty string, then Assign(*pSource) when pSource is not null.
    explicit CVeltraneString(const CVeltraneString* pSource);
    // The one-character narrow string c; '\0' gives the empty string.
    explicit CVeltraneString(char c);
    // The empty string, then SetText(pText) when pText is not null.
    CVeltraneString(const char* pText);
    virtual ~CVeltraneString();

    // Buffer primitives.
    int GetLength() const;
    bool IsWide() const { return m_bWide; }
    // The raw buffer in its current form (null without a buffer). Callers may
    // read GetLength() characters, or write up to m_nSize bytes and then call
    // FitToText.
    char* GetBuffer() { return m_pBuffer; }
    const char* GetBuffer() const { return m_pBuffer; }
    // Frees the buffer, then allocates nBytes zero bytes (narrow). nBytes <= 0 or
    // a failed allocation: false, and the object is without a buffer.
    bool Allocate(int nBytes);
    // The empty narrow string (m_nSize 1); false, without a buffer, if that
    // allocation fails.
    bool Empty();
    // Copies pText and its terminator to the start of the buffer when it fits in
    // GetLength() characters; size and form stay.
    bool CopyText(const char* pText);
    // Makes the object wide, then copies pText and its terminator when it fits
    // in the wide capacity (m_nSize / 2 - 1); the wide flag stays set either way.
    bool CopyWideText(const VWCHAR* pText);
    // Replaces the buffer by a zero-filled one of nChars characters plus
    // terminator holding the current text; false when nChars <= GetLength().
    bool Grow(int nChars);
    // Makes room for at least nChars characters; true also when the buffer was
    // large enough already; false for nChars <= 0.
    bool Reserve(int nChars);
    // Stores the text again so that m_nSize is exactly text plus terminator;
    // false only when that allocation fails (the object is then without a buffer).
    bool FitToText();

    // Assignment.
    bool SetText(const char* pText);
    bool SetWideText(const VWCHAR* pText);
    // Copies the source's buffer size, text and form. Assigning an object to
    // itself is refused with false.
    bool Assign(const CVeltraneString& source);
    CVeltraneString& operator=(const CVeltraneString& source);
    // SetText; a null text leaves the object unchanged.
    CVeltraneString& operator=(const char* pText);

    // Formats with printf rules into a kWorkBufferSize working buffer and stores
    // the result narrow. An empty result, a formatting error, or a result longer
    // than kWorkBufferSize - 1 characters gives false and keeps the previous
    // text: an overlong result is refused rather than cut.
    bool Format(const char* pFormat, ...) VELTRANE_PRINTF_FORMAT(2, 3);
    // Stores the string-table text nID of hModule (an HMODULE on Windows; null
    // for the program's own executable). nID <= 0, a missing or empty text:
    // false, and the previous text stays.
    bool LoadResourceText(int nID, void* hModule);

    // Form conversion (see platform/wide_char.h for the character mapping).
    // Both return false when the object already has the target form.
    bool MakeNarrow();
    bool MakeWide();
    // Converts the object in place and returns its text; never null (an object
    // without a buffer yields an empty text). A buffer whose terminator was
    // written over through GetBuffer is stored again with one.
    const char* GetText();
    const VWCHAR* GetWideText();
    // Wide: whether one of the first GetLength() characters is above 127.
    // Narrow: always false.
    bool HasNonAscii() const;

    // Comparison; neither object changes.
    bool IsEqual(const CVeltraneString& other) const;
    // Negative, 0 or positive, ignoring the case of A-Z.
    int CompareNoCase(CVeltraneString other) const;

    // Search and editing. Positions are character indices. Find and ReplaceAll
    // search a wide object through its narrow form.
    int Find(const char* pPattern, int nStart, bool bIgnoreCase) const;
    // Characters nFirst to nLast inclusive (-1: to the end), in this object's form.
    CVeltraneString Substring(int nFirst, int nLast) const;
    bool AppendText(const char* pText);
    bool AppendWideText(const VWCHAR* pText);
    bool Append(const CVeltraneString& other);
    CVeltraneString& operator+=(const char* pText);
    CVeltraneString& operator+=(CVeltraneString other);
    CVeltraneString operator+(CVeltraneString other) const;
    // Appends a backslash unless the text already ends with one.
    bool AddBackslash();
    // Replaces every occurrence of pPattern from left to right; the search goes
    // on behind each inserted replacement. False when nothing was replaced.
    bool ReplaceAll(const char* pPattern, const char* pReplacement, bool bIgnoreCase);

private:
    void Free();
    // Installs pBuffer (nSize bytes) in place of the current buffer.
    void Adopt(char* pBuffer, long long nSize, bool bWide);
    // Characters before the terminator, never more than GetLength(): a caller
    // may have filled the whole buffer through GetBuffer.
    int TextLength() const;
    unsigned int CharAt(int nIndex) const;
    // Replaces the buffer by one holding exactly nLength characters of pText.
    bool StoreText(const char* pText, int nLength, bool bWide);
    // Appends nCount characters of pText (in form bWide) behind the current text.
    bool AppendBytes(const char* pText, int nCount, bool bWide);
    // pText itself, or, when it lies inside this object's buffer, a copy of its
    // text kept alive by pHolder: the editing operations replace the buffer
    // before they have finished reading their arguments. Null when pText is
    // null or that copy cannot be allocated.
    const char* OutsideBuffer(const char* pText, std::unique_ptr<char[]>& pHolder) const;
    const VWCHAR* OutsideBuffer(const VWCHAR* pText, std::unique_ptr<char[]>& pHolder) const;

    char* m_pBuffer;
    int32_t m_nSize;
    bool m_bWide;
};

#endif  // IDROVAN_SUPPORT_VELTRANE_STRING_H_
