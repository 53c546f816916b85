// The digest engine and calculator against two references built on OpenSSL:
//  - for every input, the program's digest variant, assembled here from the padded message (each
//    block's words widened as the variant widens them) and OpenSSL's MD5 block transform;
//  - for inputs where the variant and RFC 1321 agree (no byte of 0x80 or more at offset 0, 1 or
//    2 of a word in any processed block), OpenSSL's standard MD5 itself.
// Any split of the input over Update calls, with empty and null pieces between them, must give
// the digest of the whole, and the calculator must report the same text and bytes.
//
// Input: one control byte (low bits: number of cuts; bit 6: repeat the data up to a length given
// by the next two bytes, so that long messages come early; bit 7: make the data 7-bit and trim it
// to a length where the variant equals RFC 1321), two bytes per cut, then the data.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "identification/md5_checksum.h"
#include "identification/md5_checksum_calculator.h"

namespace {

typedef std::vector<unsigned char> Bytes;

#define EXPECT(condition)                                                                  \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "digest mismatch: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// The message as the blocks see it: data, 0x80, zeros to 56 mod 64, the bit count (64 bits,
// least significant byte first).
Bytes PaddedMessage(const Bytes& data) {
    Bytes padded = data;
    padded.push_back(0x80);
    while (padded.size() % 64 != 56) {
        padded.push_back(0);
    }
    const uint64_t nBits = static_cast<uint64_t>(data.size()) * 8;
    for (int i = 0; i < 8; ++i) {
        padded.push_back(static_cast<unsigned char>(nBits >> (8 * i)));
    }
    return padded;
}

// The variant's word from four bytes: the little-endian word, with every bit above a byte of
// 0x80 or more at offset 0, 1 or 2 set.
uint32_t VariantWord(const unsigned char* b) {
    uint32_t nWord = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                     static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    if (b[0] >= 0x80) {
        nWord |= 0xFFFFFF00u;
    }
    if (b[1] >= 0x80) {
        nWord |= 0xFFFF0000u;
    }
    if (b[2] >= 0x80) {
        nWord |= 0xFF000000u;
    }
    return nWord;
}

void VariantDigest(const Bytes& data, unsigned char (&digest)[16]) {
    const Bytes padded = PaddedMessage(data);
    MD5_CTX context;
    MD5_Init(&context);
    for (size_t nBlock = 0; nBlock < padded.size(); nBlock += 64) {
        unsigned char aWords[64];
        for (int i = 0; i < 16; ++i) {
            const uint32_t nWord = VariantWord(&padded[nBlock + 4 * i]);
            for (int j = 0; j < 4; ++j) {
                aWords[4 * i + j] = static_cast<unsigned char>(nWord >> (8 * j));
            }
        }
        MD5_Transform(&context, aWords);
    }
    const uint32_t aState[4] = {context.A, context.B, context.C, context.D};
    for (int i = 0; i < 16; ++i) {
        digest[i] = static_cast<unsigned char>(aState[i / 4] >> (8 * (i % 4)));
    }
}

bool VariantEqualsStandard(const Bytes& data) {
    const Bytes padded = PaddedMessage(data);
    for (size_t i = 0; i < padded.size(); ++i) {
        if (i % 4 != 3 && padded[i] >= 0x80) {
            return false;
        }
    }
    return true;
}

void StandardDigest(const Bytes& data, unsigned char (&digest)[16]) {
    unsigned int nSize = 0;
    EXPECT(EVP_Digest(data.data(), data.size(), digest, &nSize, EVP_md5(), nullptr) == 1);
    EXPECT(nSize == 16);
}

std::string HexOf(const unsigned char* pDigest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        text.push_back(kDigits[pDigest[i] >> 4]);
        text.push_back(kDigits[pDigest[i] & 15]);
    }
    return text;
}

std::string TextOf(CVeltraneString text) {
    EXPECT(text.GetLength() == 32);
    return text.GetText();
}

// Trims to the longest prefix whose length makes the final blocks agree with RFC 1321 for 7-bit
// data: 3 mod 4 and below 16 mod 32 (and, for long data, no high bit in the count's next byte).
size_t StandardLength(size_t nLength) {
    while (nLength > 0) {
        const uint64_t nBits = static_cast<uint64_t>(nLength) * 8;
        if (nLength % 4 == 3 && ((nBits >> 0) & 0x80) == 0 && ((nBits >> 8) & 0x80) == 0 &&
            ((nBits >> 16) & 0x80) == 0) {
            return nLength;
        }
        --nLength;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pInput, size_t nInput) {
    if (nInput == 0) {
        return 0;
    }
    const unsigned nControl = pInput[0];
    const size_t nCuts = std::min<size_t>(nControl & 7, (nInput - 1) / 2);
    std::vector<size_t> cuts;
    for (size_t i = 0; i < nCuts; ++i) {
        cuts.push_back(static_cast<size_t>(pInput[1 + 2 * i]) << 8 | pInput[2 + 2 * i]);
    }
    size_t nOffset = 1 + 2 * nCuts;
    size_t nRepeatTo = 0;
    if ((nControl & 0x40) && nInput >= nOffset + 2) {
        nRepeatTo = (static_cast<size_t>(pInput[nOffset]) << 8 | pInput[nOffset + 1]) % 12288;
        nOffset += 2;
    }
    Bytes data(pInput + nOffset, pInput + nInput);
    if (!data.empty()) {
        for (size_t i = 0; data.size() < nRepeatTo; ++i) {
            data.push_back(data[i]);
        }
    }
    if (nControl & 0x80) {
        for (unsigned char& b : data) {
            b &= 0x7F;
        }
        data.resize(StandardLength(data.size()));
    }
    const unsigned char* pData = data.empty() ? nullptr : data.data();
    const uint32_t nLength = static_cast<uint32_t>(data.size());
    static const unsigned char kAnyByte = 0;

    // One call; the text is 32 lowercase hexadecimal digits.
    const std::string whole =
        TextOf(CMD5Checksum::DigestOf(data.empty() ? &kAnyByte : pData, nLength));
    EXPECT(whole.find_first_not_of("0123456789abcdef") == std::string::npos);

    // The variant, assembled independently.
    unsigned char expected[16];
    VariantDigest(data, expected);
    EXPECT(whole == HexOf(expected));

    // Where the variant equals RFC 1321, OpenSSL's MD5 gives the same digest.
    bool bAllSevenBit = true;
    for (unsigned char b : data) {
        bAllSevenBit = bAllSevenBit && b < 0x80;
    }
    if (VariantEqualsStandard(data)) {
        unsigned char standard[16];
        StandardDigest(data, standard);
        EXPECT(whole == HexOf(standard));
    }
    // For 7-bit texts below 4096 bytes that happens exactly at lengths of 3 mod 4 and below 16
    // mod 32.
    if (bAllSevenBit && data.size() < 4096) {
        EXPECT(VariantEqualsStandard(data) == (data.size() % 4 == 3 && data.size() % 32 < 16));
    }

    // Split over several Update calls, with empty and null pieces between them.
    std::sort(cuts.begin(), cuts.end());
    CMD5Checksum pieces;
    size_t nDone = 0;
    for (size_t nCut : cuts) {
        nCut = std::min(nCut, data.size());
        pieces.Update(pData + nDone, static_cast<uint32_t>(nCut - nDone));
        pieces.Update(nullptr, 5);
        pieces.Update(&kAnyByte, 0);
        nDone = nCut;
    }
    pieces.Update(pData + nDone, static_cast<uint32_t>(data.size() - nDone));
    unsigned char split[16];
    pieces.FinishBytes(split);
    EXPECT(HexOf(split) == whole);

    // Byte by byte, for short inputs.
    if (data.size() <= 300) {
        CMD5Checksum single;
        for (unsigned char b : data) {
            single.Update(&b, 1);
        }
        EXPECT(TextOf(single.FinishText()) == whole);
    }

    // The calculator: the same text and bytes, or a refusal of nothing.
    CMD5ChecksumCalculator calculator;
    const bool bComputed = calculator.Compute(pData, static_cast<int>(nLength));
    EXPECT(bComputed == !data.empty());
    if (bComputed) {
        EXPECT(TextOf(calculator.GetDigestText()) == whole);
        EXPECT(HexOf(calculator.GetDigestBytes()) == whole);
    } else {
        EXPECT(calculator.GetDigestText().GetLength() == 0);
        EXPECT(HexOf(calculator.GetDigestBytes()) == std::string(32, '0'));
    }
    CMD5ChecksumCalculator refused;
    EXPECT(!refused.Compute(nullptr, static_cast<int>(nLength)));
    EXPECT(!refused.Compute(data.data(), -static_cast<int>(nLength) - 1));
    EXPECT(refused.GetDigestText().GetLength() == 0);
    return 0;
}
