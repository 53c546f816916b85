#include "identification/fact_fingerprint.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every expected value was computed independently with Python:
//   d = hmac.new(b"idrovan fact fingerprint 1", name + b"\0" + text, hashlib.sha256).digest()
//   "%03x" % (int.from_bytes(d[:2], "big") >> 6)
// Saved reports hold these values, so they may never change.
TEST(FactFingerprint, KnownValuesOfEachFact) {
    struct SCase {
        EFact eFact;
        std::string strText;
        const char* pszFingerprint;
    };
    const SCase cases[] = {
        {kFactRootCreated, "Monday March 04 2019 (03_04_2019) 09:05:07:42", "1f1"},
        // One millisecond later.
        {kFactRootCreated, "Monday March 04 2019 (03_04_2019) 09:05:07:43", "12a"},
        {kFactVolume, "5A3C00F1NTFS", "353"},
        {kFactVolume, "C0FFEENTFS", "21f"},
        // The fact's name goes into the digest: one text, two facts, two fingerprints.
        {kFactRootCreated, "C0FFEENTFS", "072"},
        // Bytes above 127 and control characters are taken as they are.
        {kFactVolume, "5A3C00F1N\"T\\F\x01S\xE9", "25a"},
        {kFactVolume, std::string(300, 'x'), "2cf"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.strText.substr(0, 50));
        char szFingerprint[kFactFingerprintLength + 1] = "zzz";
        ASSERT_TRUE(
            ComputeFactFingerprint(c.eFact, c.strText.data(), c.strText.size(), szFingerprint));
        EXPECT_STREQ(c.pszFingerprint, szFingerprint);
    }
}

// A fact that was not read has no fingerprint, rather than the fingerprint of nothing.
TEST(FactFingerprint, NoTextNoFingerprint) {
    char szFingerprint[kFactFingerprintLength + 1] = "zzz";
    EXPECT_FALSE(ComputeFactFingerprint(kFactVolume, "", 0, szFingerprint));
    EXPECT_STREQ("", szFingerprint);
    szFingerprint[0] = 'z';
    EXPECT_FALSE(ComputeFactFingerprint(kFactRootCreated, nullptr, 5, szFingerprint));
    EXPECT_STREQ("", szFingerprint);
}

}  // namespace
