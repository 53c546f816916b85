#pragma once

// CTextBuilder: the console program's output, appended piece by piece.
//
// The console program keeps clear of std::string: its exceptions pull a large part of the C++
// runtime into a static executable. A failed allocation is remembered instead of thrown; an
// incomplete text must not be printed as an answer (IsComplete).
//
// Owns its buffer alone; copying is not needed and deleted. One thread at a time.

#include <cstddef>

class CTextBuilder {
public:
    CTextBuilder() {}
    ~CTextBuilder();
    CTextBuilder(const CTextBuilder&) = delete;
    CTextBuilder& operator=(const CTextBuilder&) = delete;

    // A null or empty text adds nothing.
    void Append(const char* pszText);
    void Append(const char* pText, std::size_t nLength);
    void Append(char c) { Append(&c, 1); }
    // In decimal, with a minus sign when negative.
    void AppendNumber(long nNumber);
    // The prefix, then the byte as two lowercase hexadecimal digits.
    void AppendHexByte(const char* pszPrefix, unsigned char uc);

    // Drops the text; an earlier failure is forgotten.
    void Clear();

    // The text so far; "" before the first append. Stays valid until the next change.
    const char* GetText() const { return m_pBuffer ? m_pBuffer : ""; }
    std::size_t GetLength() const { return m_nLength; }
    // False once an append could not get the memory it needed.
    bool IsComplete() const { return !m_bFailed; }

private:
    bool Reserve(std::size_t nLength);

    char* m_pBuffer = nullptr;
    std::size_t m_nLength = 0;
    std::size_t m_nCapacity = 0;  // bytes, terminator included
    bool m_bFailed = false;
};
