#include "identification/md5_checksum.h"
#include "identification/md5_checksum_calculator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::string Pattern(std::size_t nLength) {
    std::string s(nLength, '\0');
    for (std::size_t i = 0; i < nLength; ++i)
        s[i] = static_cast<char>((i * 37 + 11) & 0xff);
    return s;
}

std::string DigestOf(const std::string& data) {
    CVeltraneString strDigest =
        CMD5Checksum::DigestOf(reinterpret_cast<const unsigned char*>(data.data()),
                               static_cast<std::uint32_t>(data.size()));
    return strDigest.GetText();
}

struct SDigestCase {
    const char* pszWhat;
    std::string data;
    const char* pszDigest;
};

// Where RFC 1321's MD5 gives the same value the case says so; every other value differs from it
// because a byte of 0x80 or more sits at offset 0, 1 or 2 of some word of a processed block. The
// longer inputs' values come from a separate, plain implementation of this digest.
TEST(MD5ChecksumTest, DigestsOfKnownInputs) {
    const SDigestCase cases[] = {
        {"abc (as RFC 1321)", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"15 characters (as RFC 1321)", "0123456789ABCDE", "e169a0cb4f44334ad3ea5e4551176e4a"},
        {"padding byte at offset 1", "a", "463d5e090825a89b4230e0890ac06495"},
        {"padding byte at offset 2", "ab", "936486e7b790b5763fa17dd8b05b5c72"},
        {"padding byte at offset 2, two words", "message digest",
         "e4b52b5cb7b12b6c646bddaaf5d1de73"},
        {"bit count 128 at offset 0", "0123456789abcdef", "34dd45b8241c8c157810f6442e957e93"},
        {"data byte 0xFF at offset 0",
         "\xff"
         "ab",
         "b951cb0dbc0ee1aec19d9c88d7d56d9b"},
        {"data byte 0xFF at offset 3 (as RFC 1321)",
         "abc\xff"
         "def",
         "aefea4835ab6edbd8f12f4d8710339c0"},
        {"nothing", "", "0a4256ba0459d6ed9e79a53886b43671"},
        {"67 characters, two blocks (as RFC 1321)",
         "The quick brown fox jumps over the lazy dogThe quick brown fox jump",
         "bbc1765de84732204d14fc9422e0d543"},
        // Tails that leave room for the bit count in their block, and those that need another.
        {"55 bytes", Pattern(55), "7331d9206f98541ff0412f1c271ed139"},
        {"56 bytes", Pattern(56), "f1a0efc9797e460bb819434061c3de1d"},
        {"63 bytes", Pattern(63), "d604d0dbe551f783f6184ddf04b7dc0f"},
        {"64 bytes", Pattern(64), "1f966f0acb8c0e0958c2b17d5e3a7295"},
        {"1000 bytes of every value", Pattern(1000), "d816c9dd9cd11d0f03c9c8fcacb46c1f"},
        {"4096 bytes: 0x80 in the bit count", std::string(4096, 'a'),
         "041b03de49539c81b43132fb96d18e2b"},
    };
    for (const SDigestCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(c.pszDigest, DigestOf(c.data));
    }
}

class CMD5ChecksumProbe : public CMD5Checksum {
public:
    using CMD5Checksum::BytesToWords;
};

// The word as the bytes' signed widening defines it, step by step.
std::uint32_t WidenedWord(const unsigned char* b) {
    auto widen = [](unsigned char c) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    };
    std::uint32_t w = widen(b[3]);
    w = (w << 8) | widen(b[2]);
    w = (w << 8) | widen(b[1]);
    return (w << 8) | widen(b[0]);
}

// Every mix of low and high bytes, in every word position of a block and in a lone word.
TEST(MD5ChecksumTest, WordsAreMadeFromSignedBytes) {
    const unsigned char aValues[] = {0x00, 0x41, 0x7f, 0x80, 0xc3, 0xff};
    unsigned char aBlock[64];
    std::uint32_t aWords[16];
    int nCombination = 0;
    for (unsigned char b0 : aValues)
        for (unsigned char b1 : aValues)
            for (unsigned char b2 : aValues)
                for (unsigned char b3 : aValues) {
                    const unsigned char aWord[4] = {b0, b1, b2, b3};
                    const std::uint32_t nExpected = WidenedWord(aWord);
                    std::uint32_t nLone = 0;
                    CMD5ChecksumProbe::BytesToWords(&nLone, aWord, 4);
                    ASSERT_EQ(nExpected, nLone) << std::hex << nExpected;

                    const int nSlot = nCombination++ % 16;
                    std::memset(aBlock, 0x80, sizeof(aBlock));
                    std::memcpy(aBlock + 4 * nSlot, aWord, 4);
                    CMD5ChecksumProbe::BytesToWords(aWords, aBlock, 64);
                    ASSERT_EQ(nExpected, aWords[nSlot]) << "word " << nSlot;
                    ASSERT_EQ(0xFFFFFF80u, aWords[(nSlot + 1) % 16]);
                }
}

TEST(MD5ChecksumTest, SplittingTheInputDoesNotChangeTheDigest) {
    const std::string data = Pattern(1000);
    const std::string strWhole = DigestOf(data);
    const auto* pData = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t nLength = data.size();

    for (std::size_t nFirstCut = 0; nFirstCut <= nLength; ++nFirstCut) {
        for (std::size_t nStep : {0, 1, 55, 63, 64, 65, 200}) {
            const std::size_t nSecondCut = std::min(nLength, nFirstCut + nStep);
            CMD5Checksum engine;
            engine.Update(pData, static_cast<std::uint32_t>(nFirstCut));
            engine.Update(pData + nFirstCut, static_cast<std::uint32_t>(nSecondCut - nFirstCut));
            engine.Update(pData + nSecondCut, static_cast<std::uint32_t>(nLength - nSecondCut));
            CVeltraneString strDigest = engine.FinishText();
            ASSERT_EQ(strWhole, strDigest.GetText())
                << "cuts at " << nFirstCut << ", " << nSecondCut;
        }
    }

    CMD5Checksum byteByByte;
    for (std::size_t i = 0; i < nLength; ++i)
        byteByByte.Update(pData + i, 1);
    CVeltraneString strDigest = byteByByte.FinishText();
    EXPECT_EQ(strWhole, strDigest.GetText());
}

TEST(MD5ChecksumTest, NullDataAddsNothing) {
    CMD5Checksum engine;
    engine.Update(nullptr, 5);
    engine.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
    CVeltraneString strDigest = engine.FinishText();
    EXPECT_STREQ("900150983cd24fb0d6963f7d28e17f72", strDigest.GetText());
}

TEST(MD5ChecksumTest, DigestTextHasTwoLowercaseDigitsPerByte) {
    const unsigned char digest[16] = {0x00, 0x01, 0x0a, 0x0f, 0x10, 0x7f, 0x80, 0xff,
                                      0xa0, 0x09, 0xf0, 0x11, 0xde, 0xad, 0xbe, 0xef};
    CVeltraneString strText = CMD5Checksum::DigestToText(digest);
    EXPECT_STREQ("00010a0f107f80ffa009f011deadbeef", strText.GetText());
}

TEST(MD5ChecksumCalculatorTest, RefusesNullDataAndLengthsBelowOne) {
    const char szData[] = "abc";
    const struct {
        const void* pData;
        int nLength;
    } cases[] = {{nullptr, 3}, {nullptr, 0}, {szData, 0}, {szData, -1}, {szData, INT_MIN}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nLength);
        CMD5ChecksumCalculator calculator;
        EXPECT_FALSE(calculator.Compute(c.pData, c.nLength));
        CVeltraneString strText = calculator.GetDigestText();
        EXPECT_EQ(0, strText.GetLength());
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(0, calculator.GetDigestBytes()[i]);
    }
}

TEST(MD5ChecksumCalculatorTest, BytesAndTextDescribeTheSameDigestOfEachCall) {
    CMD5ChecksumCalculator calculator;
    ASSERT_TRUE(calculator.Compute("a", 1));
    // A second call digests its own buffer only, with a fresh engine.
    ASSERT_TRUE(calculator.Compute("message digest", 14));

    CVeltraneString strText = calculator.GetDigestText();
    EXPECT_STREQ("e4b52b5cb7b12b6c646bddaaf5d1de73", strText.GetText());
    const unsigned char expected[16] = {0xe4, 0xb5, 0x2b, 0x5c, 0xb7, 0xb1, 0x2b, 0x6c,
                                        0x64, 0x6b, 0xdd, 0xaa, 0xf5, 0xd1, 0xde, 0x73};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(expected[i], calculator.GetDigestBytes()[i]) << "byte " << i;
}

}  // namespace
