#pragma once

// CMD5ChecksumCalculator: digests one byte buffer and keeps the result as text and as bytes.
//
// Made on the stack for one digest: Compute, then copy GetDigestText out after a true result.
// Each Compute runs a fresh CMD5Checksum, so the calculator holds no engine between calls.
// Used by one thread at a time.

#include "identification/md5_checksum.h"
#include "support/veltrane_string.h"

class CMD5ChecksumCalculator {
public:
    CMD5ChecksumCalculator();
    virtual ~CMD5ChecksumCalculator() {}

    // Digests nLength bytes at pData. False, with nothing changed, for a null pointer or a length
    // of zero or less; false too when the digest text could not be made (no memory for it).
    bool Compute(const void* pData, int nLength);

    // 32 lowercase hexadecimal digits after a true Compute; empty before the first one.
    CVeltraneString GetDigestText() const { return m_strDigestText; }

    // The 16 digest bytes after a true Compute; zeros before the first one.
    const unsigned char* GetDigestBytes() const { return m_aDigest; }

private:
    CVeltraneString m_strDigestText;
    unsigned char m_aDigest[CMD5Checksum::DIGEST_SIZE];
};
