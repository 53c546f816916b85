// The platform's keyed hash against RFC 4231's HMAC-SHA256 vectors. The same test runs natively
// (OpenSSL) and under Wine (CNG), so both sides of the seam answer to one set of values.
#include "platform/hmac_sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ToHex(const unsigned char* pBytes, std::size_t nSize) {
    static const char kDigits[] = "0123456789abcdef";
    std::string strHex;
    for (std::size_t i = 0; i < nSize; ++i) {
        strHex += kDigits[pBytes[i] >> 4];
        strHex += kDigits[pBytes[i] & 0x0F];
    }
    return strHex;
}

std::string Bytes(std::size_t nCount, unsigned char nValue) {
    return std::string(nCount, static_cast<char>(nValue));
}

std::string Counting(unsigned char nFirst, unsigned char nLast) {
    std::string strBytes;
    for (unsigned n = nFirst; n <= nLast; ++n)
        strBytes += static_cast<char>(n);
    return strBytes;
}

struct SVector {
    const char* pszName;
    std::string strKey;
    std::string strData;
    const char* pszHmac;  // lowercase hex; RFC 4231 gives only the first 16 bytes of case 5
};

TEST(HmacSha256, Rfc4231Vectors) {
    const SVector vectors[] = {
        {"1: short key", Bytes(20, 0x0b), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"2: key shorter than the output", "Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"3: combined length above the block", Bytes(20, 0xaa), Bytes(50, 0xdd),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"4: counting key", Counting(0x01, 0x19), Bytes(50, 0xcd),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"5: truncated output", Bytes(20, 0x0c), "Test With Truncation",
         "a3b6167473100ee06e0c796c2955552b"},
        {"6: key longer than the block", Bytes(131, 0xaa),
         "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"7: key and data longer than the block", Bytes(131, 0xaa),
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        // Not in the RFC: an empty message (Python's hmac gives this value).
        {"empty message", "key", "",
         "5d5d139563c95b5967b9bd9a8c9b233a9dedb45072794cd232dc1b74832607d0"},
    };
    for (const SVector& v : vectors) {
        SCOPED_TRACE(v.pszName);
        unsigned char digest[kHmacSha256Size] = {};
        ASSERT_TRUE(ComputeHmacSha256(v.strKey.data(), v.strKey.size(),
                                      v.strData.empty() ? nullptr : v.strData.data(),
                                      v.strData.size(), digest));
        const std::string strExpected = v.pszHmac;
        EXPECT_EQ(strExpected, ToHex(digest, kHmacSha256Size).substr(0, strExpected.size()));
    }
}

// A null pointer with a size is refused, and the digest is then all zeros rather than whatever
// the buffer held.
TEST(HmacSha256, NullWithASizeIsRefusedWithAZeroDigest) {
    const char kKey[] = "key";
    unsigned char digest[kHmacSha256Size];
    for (int nCase = 0; nCase < 2; ++nCase) {
        SCOPED_TRACE(nCase == 0 ? "null key" : "null data");
        for (unsigned char& b : digest)
            b = 0xA5;
        EXPECT_FALSE(nCase == 0 ? ComputeHmacSha256(nullptr, 3, "data", 4, digest)
                                : ComputeHmacSha256(kKey, 3, nullptr, 1, digest));
        EXPECT_EQ(std::string(2 * kHmacSha256Size, '0'), ToHex(digest, kHmacSha256Size));
    }
    EXPECT_FALSE(ComputeHmacSha256(kKey, 3, "data", 4, nullptr));
}

}  // namespace
