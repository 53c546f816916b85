#pragma once

// CMD5Checksum: the digest engine behind computer IDs and installation markers.
//
// It is RFC 1321's MD5 in every respect but one: BytesToWords widens the bytes of each message
// word as signed characters, so a byte of 0x80 or more at offset 0, 1 or 2 of a word sets every
// bit above it. IDs already issued depend on that, so a standard MD5 cannot stand in for it.
//
// Feed bytes with Update (in one call or in pieces: the result is the same), then call
// FinishText or FinishBytes once; the engine is spent afterwards. One object per digest, used by
// one thread; distinct objects are independent. The object holds no pointers to the caller's data.

#include <cstdint>

#include "support/veltrane_string.h"

class CMD5Checksum {
public:
    enum { DIGEST_SIZE = 16, BLOCK_SIZE = 64 };

    CMD5Checksum();
    virtual ~CMD5Checksum() {}

    // Takes nLength bytes into the digest. A null pointer adds nothing.
    void Update(const unsigned char* pData, std::uint32_t nLength);

    // Completes the digest: its 16 bytes (A, B, C, D, each least significant byte first).
    void FinishBytes(unsigned char (&digest)[DIGEST_SIZE]);

    // Completes the digest: 32 lowercase hexadecimal digits, two per byte, high digit first.
    CVeltraneString FinishText();

    // The digest text of one buffer, from a fresh engine.
    static CVeltraneString DigestOf(const unsigned char* pData, std::uint32_t nLength);

    // The text form of 16 digest bytes, as FinishText gives it.
    static CVeltraneString DigestToText(const unsigned char (&digest)[DIGEST_SIZE]);

protected:
    void ProcessBlock(const unsigned char* pBlock);
    static void BytesToWords(std::uint32_t* pWords, const unsigned char* pBytes,
                             std::uint32_t nLength);

private:
    unsigned char m_aBlock[BLOCK_SIZE];
    std::uint32_t m_nBitCountLow;
    std::uint32_t m_nBitCountHigh;
    std::uint32_t m_nA;
    std::uint32_t m_nB;
    std::uint32_t m_nC;
    std::uint32_t m_nD;
};
