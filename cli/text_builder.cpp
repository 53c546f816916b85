#include "cli/text_builder.h"

#include <cstring>
#include <new>

namespace {

const std::size_t kFirstCapacity = 256;
const char kHexDigits[] = "0123456789abcdef";

}  // namespace

CTextBuilder::~CTextBuilder() {
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}

void CTextBuilder::Append(const char* pszText) {
    if (pszText != nullptr)
        Append(pszText, std::strlen(pszText));
}

void CTextBuilder::Append(const char* pText, std::size_t nLength) {
    if (nLength == 0 || m_bFailed || !Reserve(m_nLength + nLength))
        return;
    std::memcpy(m_pBuffer + m_nLength, pText, nLength);
    m_nLength += nLength;
    m_pBuffer[m_nLength] = '\0';
}

void CTextBuilder::AppendNumber(long nNumber) {
    char szDigits[24];
    char* p = szDigits + sizeof(szDigits);
    *--p = '\0';
    // Works on the magnitude as unsigned, so that the most negative value has one as well.
    unsigned long nMagnitude = nNumber < 0 ? 0UL - static_cast<unsigned long>(nNumber)
                                           : static_cast<unsigned long>(nNumber);
    do {
        *--p = static_cast<char>('0' + nMagnitude % 10);
        nMagnitude /= 10;
    } while (nMagnitude != 0);
    if (nNumber < 0)
        *--p = '-';
    Append(p);
}

void CTextBuilder::AppendHexByte(const char* pszPrefix, unsigned char uc) {
    Append(pszPrefix);
    Append(kHexDigits[uc >> 4]);
    Append(kHexDigits[uc & 0x0F]);
}

void CTextBuilder::Clear() {
    m_nLength = 0;
    if (m_pBuffer != nullptr)
        m_pBuffer[0] = '\0';
    m_bFailed = false;
}

bool CTextBuilder::Reserve(std::size_t nLength) {
    if (nLength < m_nCapacity)
        return true;
    std::size_t nCapacity = m_nCapacity == 0 ? kFirstCapacity : m_nCapacity;
    while (nCapacity <= nLength)
        nCapacity *= 2;
    char* pBuffer = new (std::nothrow) char[nCapacity];
    if (pBuffer == nullptr) {
        m_bFailed = true;
        return false;
    }
    if (m_pBuffer != nullptr)
        std::memcpy(pBuffer, m_pBuffer, m_nLength + 1);
    delete[] m_pBuffer;
    m_pBuffer = pBuffer;
    m_nCapacity = nCapacity;
    return true;
}
