// The licence check (api/licence/idrovan_licence.c): its grammar, calendar and lengths over
// stand-in services that record what reaches them, and the whole call (VerifyLicenceOn) over a
// scripted machine with the platform's real ECDSA (libcrypto natively, CNG under Wine) on
// licences that tools/idrovan-licence signed with the published test key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/library_calls.h"
#include "api/licence/idrovan_licence.h"
#include "platform/ecdsa_p256.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

// "Vendor A"'s ID with the hand marker, as api_library_calls_test knows it.
const char kVendorAID[] = "a3f9fd7e4d8a55f3b6137833f3af7fe9";

// The published test key of docs/licence.md and two licences it signed.
const char kTestKey[] =
    "test-1:6c0285c8103d9f761de87a4228357dc14c4b17919f9d3b9a8aee21aa21047120be6ab84efbbd8e1d27b29a"
    "a1434f3e05dfbbb70014877cbebbbdfa985b5bebc7";
const char kFullLicence[] =
    "idrovan-licence: 1\n"
    "key-id: test-1\n"
    "licence-id: VA-2024-0001\n"
    "product: Vendor A Pro\n"
    "licensee: \xc3\x9cn\xc3\xaf"
    "code Ltd\n"
    "application: Vendor A\n"
    "application-id: a3f9fd7e4d8a55f3b6137833f3af7fe9\n"
    "features: pro export\n"
    "issued: 2024-11-01T00:00:00Z\n"
    "not-before: 2024-11-01T00:00:00Z\n"
    "not-after: 2025-11-01T00:00:00Z\n"
    "renew-after: 2025-10-01T00:00:00Z\n"
    "x-order: 42\n"
    "signature: ecdsa-p256-sha256 "
    "38fe5c79e12e53cea4758edacca3c23340e7ebd31ef32807bf9804d808671b0e54c154c3e17ede57cf40a632f12e"
    "3dc191b99d15541f8bb5c84d28327ba80ca2\n";
const char kPermanentLicence[] =
    "idrovan-licence: 1\n"
    "key-id: test-1\n"
    "licence-id: VA-2024-0002\n"
    "application: Vendor A\n"
    "application-id: a3f9fd7e4d8a55f3b6137833f3af7fe9\n"
    "issued: 2024-11-01T00:00:00Z\n"
    "not-before: 2024-11-01T00:00:00Z\n"
    "not-after: permanent\n"
    "signature: ecdsa-p256-sha256 "
    "df4e728a189c37bccaed05df1fef6fa7f6c22ceea2cfc78f6e0b18f09ff422000f848921af6124a031660c9a6ece"
    "fe3370d79968d03b42ea7c15332203d7a1ce\n";

std::string Replace(std::string strText, const std::string& strFrom, const std::string& strTo) {
    const std::size_t nAt = strText.find(strFrom);
    if (nAt != std::string::npos)
        strText.replace(nAt, strFrom.size(), strTo);
    return strText;
}

std::string ToCrlf(const std::string& strText) {
    std::string strOut;
    for (char c : strText) {
        if (c == '\n')
            strOut += '\r';
        strOut += c;
    }
    return strOut;
}

// The other signature of the pair: s replaced by n - s (32-byte big-endian subtraction).
std::string HighSTwin(const std::string& strLicence) {
    static const unsigned char kOrder[32] = {0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00,
                                             0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                             0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84,
                                             0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};
    const std::size_t nS = strLicence.size() - 1 - 64;
    unsigned char s[32];
    for (int i = 0; i < 32; ++i)
        s[i] = static_cast<unsigned char>(std::stoi(strLicence.substr(nS + 2 * i, 2), nullptr, 16));
    int nBorrow = 0;
    char szHex[65];
    for (int i = 31; i >= 0; --i) {
        int nDigit = kOrder[i] - s[i] - nBorrow;
        nBorrow = nDigit < 0;
        s[i] = static_cast<unsigned char>(nDigit + (nBorrow ? 256 : 0));
    }
    for (int i = 0; i < 32; ++i)
        std::snprintf(szHex + 2 * i, 3, "%02x", s[i]);
    return strLicence.substr(0, nS) + szHex + "\n";
}

std::vector<unsigned char> Unhex(const std::string& strHex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < strHex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(strHex.substr(i, 2), nullptr, 16)));
    return bytes;
}

class LicenceTest : public ::testing::Test {
protected:
    LicenceTest() {
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;  // 2024-11-05T17:45:30Z
        m_machine.SetMarker(VREG_SZ, kHandMarker);
    }

    void TearDown() override {
        EXPECT_TRUE(m_machine.m_writes.empty()) << "a licence check wrote to the registry";
        EXPECT_TRUE(m_machine.m_openKeys.empty());
    }

    int Verify(const std::string& strLicence, const char* pszNow = nullptr,
               const char* pszFeature = nullptr, const char* pszApplication = "Vendor A",
               const char* pszKeys = kTestKey) {
        std::memset(&m_info, 0x7F, sizeof(m_info));
        m_info.size = sizeof(m_info);
        return VerifyLicenceOn(m_machine, strLicence.data(),
                               static_cast<unsigned int>(strLicence.size()), pszApplication,
                               pszFeature, pszKeys, pszNow, &m_info);
    }

    bool InfoIsEmpty() const {
        idrovan_licence_info empty;
        std::memset(&empty, 0, sizeof(empty));
        empty.size = sizeof(empty);
        return std::memcmp(&empty, &m_info, sizeof(empty)) == 0;
    }

    CScriptedMachineFacts m_machine;
    idrovan_licence_info m_info;
};

TEST_F(LicenceTest, SignedLicenceGivesWhatItSaysOnlyOnceVerified) {
    ASSERT_EQ(IDROVAN_OK, Verify(kFullLicence));
    EXPECT_STREQ("test-1", m_info.key_id);
    EXPECT_STREQ("VA-2024-0001", m_info.licence_id);
    EXPECT_STREQ("Vendor A Pro", m_info.product);
    EXPECT_STREQ(
        "\xc3\x9cn\xc3\xaf"
        "code Ltd",
        m_info.licensee);
    EXPECT_STREQ(kVendorAID, m_info.application_id);
    EXPECT_STREQ("pro export", m_info.features);
    EXPECT_STREQ("2024-11-01T00:00:00Z", m_info.issued);
    EXPECT_STREQ("2025-11-01T00:00:00Z", m_info.not_after);
    EXPECT_STREQ("2025-10-01T00:00:00Z", m_info.renew_after);
    EXPECT_EQ(0, m_info.renewal_due);
    EXPECT_EQ(IDROVAN_MARKER_PRESENT, m_info.marker);

    // A licence of another key, or changed by one byte: nothing of it comes back.
    EXPECT_EQ(IDROVAN_NOT_SIGNED, Verify(Replace(kFullLicence, "Ltd", "Ltc")));
    EXPECT_TRUE(InfoIsEmpty());
    EXPECT_EQ(IDROVAN_MALFORMED, Verify(Replace(kFullLicence, "x-order", "colour")));
    EXPECT_TRUE(InfoIsEmpty());
}

TEST_F(LicenceTest, EveryResultOfTheRealSignatureCheck) {
    const std::string strFull = kFullLicence;
    const std::string strOtherKey =
        "test-1:"
        "c936b6503712fdc58a25d6d169da5149ae3783b6d176285732ba679117a8bbf4f5481697ea894700ae3a"
        "a7ce15879621222d3a541c317641a55a08858fac71b6";
    const std::string strRotation =
        strOtherKey.substr(0, 0) + "old-0:" + strOtherKey.substr(7) + "\n" + kTestKey;
    const std::string strNotOnCurve = "test-1:" + std::string(128, '1');
    const std::string strLastDigit = strFull.substr(strFull.size() - 2, 1);
    struct SCase {
        const char* pszWhat;
        std::string strLicence;
        const char* pszNow;
        const char* pszFeature;
        const char* pszApplication;
        std::string strKeys;
        int nExpected;
    } cases[] = {
        {"as signed", strFull, nullptr, nullptr, "Vendor A", kTestKey, IDROVAN_OK},
        {"opened in Notepad: BOM and CRLF", "\xef\xbb\xbf" + ToCrlf(strFull), nullptr, nullptr,
         "Vendor A", kTestKey, IDROVAN_OK},
        {"permanent, far ahead", kPermanentLicence, "9999-12-31T23:59:59Z", nullptr, "Vendor A",
         kTestKey, IDROVAN_OK},
        {"old and new key listed", strFull, nullptr, nullptr, "Vendor A", strRotation, IDROVAN_OK},
        {"feature listed", strFull, nullptr, "export", "Vendor A", kTestKey, IDROVAN_OK},
        {"feature not listed", strFull, nullptr, "pr", "Vendor A", kTestKey, IDROVAN_NO_FEATURE},
        {"features are case-sensitive", strFull, nullptr, "PRO", "Vendor A", kTestKey,
         IDROVAN_NO_FEATURE},
        {"no features at all", kPermanentLicence, nullptr, "pro", "Vendor A", kTestKey,
         IDROVAN_NO_FEATURE},
        {"not-after is exclusive", strFull, "2025-11-01T00:00:00Z", nullptr, "Vendor A", kTestKey,
         IDROVAN_EXPIRED},
        {"before not-before", strFull, "2024-10-31T23:59:59Z", nullptr, "Vendor A", kTestKey,
         IDROVAN_NOT_YET_VALID},
        {"another application", strFull, nullptr, nullptr, "Vendor B", kTestKey, IDROVAN_NO_MATCH},
        {"the name byte for byte", strFull, nullptr, nullptr, "vendor A", kTestKey,
         IDROVAN_NO_MATCH},
        {"a byte of the text changed", Replace(strFull, "pro export", "pro exports"), nullptr,
         nullptr, "Vendor A", kTestKey, IDROVAN_NOT_SIGNED},
        {"a digit of the signature changed",
         strFull.substr(0, strFull.size() - 2) + (strLastDigit == "0" ? "1" : "0") + "\n", nullptr,
         nullptr, "Vendor A", kTestKey, IDROVAN_NOT_SIGNED},
        {"the high-S twin", HighSTwin(strFull), nullptr, nullptr, "Vendor A", kTestKey,
         IDROVAN_NOT_SIGNED},
        {"another key under its id", strFull, nullptr, nullptr, "Vendor A", strOtherKey,
         IDROVAN_NOT_SIGNED},
        {"its key id not trusted", strFull, nullptr, nullptr, "Vendor A",
         "test-2:" + std::string(kTestKey + 7), IDROVAN_NOT_SIGNED},
        {"a key off the curve", strFull, nullptr, nullptr, "Vendor A", strNotOnCurve,
         IDROVAN_NOT_SIGNED},
        {"65-byte signature", Replace(strFull, "ca2\n", "ca200\n"), nullptr, nullptr, "Vendor A",
         kTestKey, IDROVAN_MALFORMED},
        {"63-byte signature", Replace(strFull, "0ca2\n", "\n"), nullptr, nullptr, "Vendor A",
         kTestKey, IDROVAN_MALFORMED},
        {"signature in capitals", Replace(strFull, "38fe5c", "38FE5C"), nullptr, nullptr,
         "Vendor A", kTestKey, IDROVAN_MALFORMED},
        {"a line after the signature", strFull + "x-late: 1\n", nullptr, nullptr, "Vendor A",
         kTestKey, IDROVAN_MALFORMED},
        {"an empty line after it", strFull + "\n", nullptr, nullptr, "Vendor A", kTestKey,
         IDROVAN_MALFORMED},
    };
    for (const SCase& test : cases) {
        EXPECT_EQ(test.nExpected, Verify(test.strLicence, test.pszNow, test.pszFeature,
                                         test.pszApplication, test.strKeys.c_str()))
            << test.pszWhat;
    }
}

TEST_F(LicenceTest, TheTwinIsAValidSignatureRefusedForItsHighS) {
    // Proves the refusal above is the low-S rule: the provider itself accepts the twin.
    const std::string strTwin = HighSTwin(kFullLicence);
    const std::size_t nSignatureLine = strTwin.find("signature: ");
    const std::vector<unsigned char> key = Unhex(std::string(kTestKey).substr(7));
    const std::vector<unsigned char> signature = Unhex(strTwin.substr(strTwin.size() - 129, 128));
    EXPECT_EQ(kEcdsaValid,
              VerifyEcdsaP256Sha256(strTwin.data(), nSignatureLine, key.data(), signature.data()));
}

TEST_F(LicenceTest, TheComputerDecidesReadOnly) {
    // Another marker: another application ID, and the signed info still comes back.
    m_machine.SetMarker(VREG_SZ, "ffffffffffffffffffffffffffffffff");
    EXPECT_EQ(IDROVAN_NO_MATCH, Verify(kFullLicence));
    EXPECT_STREQ("VA-2024-0001", m_info.licence_id);

    // No marker: the read-only derivation's answer passes through, and none is written.
    m_machine.m_bKeyExists = false;
    m_machine.m_bValueExists = false;
    EXPECT_EQ(IDROVAN_NO_MARKER, Verify(kFullLicence));
    EXPECT_EQ(IDROVAN_MARKER_MISSING, m_info.marker);
}

TEST_F(LicenceTest, RenewAfterIsReportedNotEnforced) {
    EXPECT_EQ(IDROVAN_OK, Verify(kFullLicence, "2025-10-31T23:59:59Z"));
    EXPECT_EQ(1, m_info.renewal_due);
    EXPECT_EQ(IDROVAN_OK, Verify(kFullLicence, "2025-09-30T23:59:59Z"));
    EXPECT_EQ(0, m_info.renewal_due);
}

// ---- The check alone, over stand-in services ----

struct SFake {
    int nVerdict = IDROVAN_LICENCE_SIGNATURE_VALID;
    int nIDResult = IDROVAN_OK;
    std::string strID = kVendorAID;
    long long nClock = 1730828730;  // 2024-11-05T17:45:30Z
    int nVerifyCalls = 0;
    std::string strSigned;
};

int FakeVerify(void* pContext, const unsigned char* pMessage, std::size_t nSize,
               const unsigned char*, const unsigned char*) {
    SFake& fake = *static_cast<SFake*>(pContext);
    ++fake.nVerifyCalls;
    fake.strSigned.assign(reinterpret_cast<const char*>(pMessage), nSize);
    return fake.nVerdict;
}

int FakeApplicationID(void* pContext, const char*, char* pszID, int* pnStep, long*, int* pnMarker) {
    SFake& fake = *static_cast<SFake*>(pContext);
    *pnStep = IDROVAN_STEP_NONE;
    *pnMarker = IDROVAN_MARKER_PRESENT;
    std::memcpy(pszID, fake.strID.c_str(), IDROVAN_ID_SIZE);
    return fake.nIDResult;
}

int FakeTime(void* pContext, long long* pnSeconds) {
    *pnSeconds = static_cast<SFake*>(pContext)->nClock;
    return 1;
}

const char kKey[] =
    "k:00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000";

// A licence whose signature the stand-in takes: r and s both 0x11...11, in range and low.
std::string Body() {
    return "idrovan-licence: 1\n"
           "key-id: k\n"
           "licence-id: L-1\n"
           "application: App\n"
           "application-id: a3f9fd7e4d8a55f3b6137833f3af7fe9\n"
           "features: pro export\n"
           "issued: 2024-11-01T00:00:00Z\n"
           "not-before: 2024-10-01T00:00:00Z\n"
           "not-after: 2025-11-01T00:00:00Z\n";
}

std::string Signed(const std::string& strBody, const std::string& strSignature = "") {
    return strBody + "signature: ecdsa-p256-sha256 " +
           (strSignature.empty() ? std::string(128, '1') : strSignature) + "\n";
}

class LicenceCheckTest : public ::testing::Test {
protected:
    int Check(const std::string& strLicence, const char* pszNow = nullptr,
              const char* pszFeature = nullptr, const char* pszKeys = kKey,
              const char* pszApplication = "App") {
        idrovan_licence_services services = {&m_fake, FakeVerify, FakeApplicationID, FakeTime};
        m_info.size = sizeof(m_info);
        return idrovan_licence_check(&services, strLicence.data(),
                                     static_cast<unsigned int>(strLicence.size()), pszApplication,
                                     pszFeature, pszKeys, pszNow, &m_info);
    }

    SFake m_fake;
    idrovan_licence_info m_info;
};

TEST_F(LicenceCheckTest, SignsTheTextBeforeTheSignatureLineWithCrlfMadeLf) {
    const std::string strBody = Body() + "x-note: caf\xc3\xa9\n";
    EXPECT_EQ(IDROVAN_OK, Check(Signed(strBody)));
    EXPECT_EQ(strBody, m_fake.strSigned);
    EXPECT_EQ(IDROVAN_OK, Check("\xef\xbb\xbf" + ToCrlf(Signed(strBody))));
    EXPECT_EQ(strBody, m_fake.strSigned);
    // Without the line break at the very end too.
    const std::string strLicence = Signed(strBody);
    EXPECT_EQ(IDROVAN_OK, Check(strLicence.substr(0, strLicence.size() - 1)));
}

TEST_F(LicenceCheckTest, GrammarIsCheckedEvenWhenTheSignatureHolds) {
    const std::string strBody = Body();
    const std::string strSigned = Signed(strBody);
    const std::string strBig = strBody + "x-pad: " + std::string(8192, 'a') + "\n";
    struct SCase {
        const char* pszWhat;
        std::string strLicence;
    } cases[] = {
        {"unknown field", Signed(strBody + "colour: red\n")},
        {"x- field in capitals", Signed(strBody + "X-note: a\n")},
        {"x- field out of place", Signed(Replace(strBody, "issued:", "x-a: 1\nissued:"))},
        {"x- field repeated", Signed(strBody + "x-a: 1\nx-a: 2\n")},
        {"fields out of order",
         Signed(Replace(Replace(strBody, "key-id: k\n", ""), "licence-id: L-1\n",
                        "licence-id: L-1\nkey-id: k\n"))},
        {"field repeated", Signed(Replace(strBody, "features:", "features: a\nfeatures:"))},
        {"required field missing", Signed(Replace(strBody, "issued: 2024-11-01T00:00:00Z\n", ""))},
        {"version 2", Signed(Replace(strBody, "licence: 1", "licence: 2"))},
        {"no space after the colon", Signed(Replace(strBody, "key-id: k", "key-id:k"))},
        {"two spaces", Signed(Replace(strBody, "key-id: k", "key-id:  k"))},
        {"trailing space", Signed(Replace(strBody, "key-id: k", "key-id: k "))},
        {"empty value", Signed(strBody + "x-a: \n")},
        {"empty line", Signed(strBody + "\n")},
        {"NUL", Signed(Replace(strBody, "L-1", std::string("L-\0", 3)))},
        {"lone CR", Signed(Replace(strBody, "L-1\n", "L-1\r"))},
        {"CR at the very end", strSigned + "\r"},
        {"second BOM", "\xef\xbb\xbf\xef\xbb\xbf" + strSigned},
        {"application ID in capitals", Signed(Replace(strBody, "a3f9fd7e", "A3F9FD7E"))},
        {"application ID of 31 digits", Signed(Replace(strBody, "a3f9fd7e", "a3f9fd7"))},
        {"features split by two spaces", Signed(Replace(strBody, "pro export", "pro  export"))},
        {"feature of 65 characters", Signed(Replace(strBody, "pro export", std::string(65, 'f')))},
        {"key id of 33 characters",
         Signed(Replace(strBody, "key-id: k", "key-id: " + std::string(33, 'k')))},
        {"C0 control", Signed(strBody + "x-a: a\x01"
                                        "b\n")},
        {"C1 control", Signed(strBody + "x-a: a\xc2\x85"
                                        "b\n")},
        {"overlong UTF-8", Signed(strBody + "x-a: \xc0\xaf\n")},
        {"surrogate in UTF-8", Signed(strBody + "x-a: \xed\xa0\x80\n")},
        {"cut UTF-8", Signed(strBody + "x-a: \xe2\x82\n")},
        {"not-after at not-before", Signed(Replace(strBody, "2025-11-01", "2024-10-01"))},
        {"a time off the calendar", Signed(Replace(strBody, "2024-11-01", "2024-11-31"))},
        {"over the size limit", Signed(strBig)},
        {"no signature", strBody},
        {"another algorithm", Replace(strSigned, "ecdsa-p256-sha256", "ecdsa-p384-sha384")},
        {"signature not hex", Replace(strSigned, "1111\n", "111g\n")},
    };
    for (const SCase& test : cases) {
        m_fake.nVerifyCalls = 0;
        EXPECT_EQ(IDROVAN_MALFORMED, Check(test.strLicence)) << test.pszWhat;
        EXPECT_EQ(0, m_fake.nVerifyCalls) << test.pszWhat;
    }
    // Up to the limit is fine.
    const std::string strAtLimit =
        Signed(strBody + "x-pad: " + std::string(8192 - strSigned.size() - 8, 'a') + "\n");
    ASSERT_EQ(8192u, strAtLimit.size());
    EXPECT_EQ(IDROVAN_OK, Check(strAtLimit));
}

TEST_F(LicenceCheckTest, SignatureRangeIsCheckedBeforeTheProvider) {
    const std::string strR(64, '1');
    struct SCase {
        const char* pszWhat;
        std::string strSignature;
        int nExpected;
    } cases[] = {
        {"s = n/2", strR + "7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a8",
         IDROVAN_OK},
        {"s = n/2 + 1", strR + "7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a9",
         IDROVAN_NOT_SIGNED},
        {"s = 0", strR + std::string(64, '0'), IDROVAN_NOT_SIGNED},
        {"r = 0", std::string(64, '0') + strR, IDROVAN_NOT_SIGNED},
        {"r = n", "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551" + strR,
         IDROVAN_NOT_SIGNED},
        {"r = n - 1", "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550" + strR,
         IDROVAN_OK},
    };
    for (const SCase& test : cases) {
        m_fake.nVerifyCalls = 0;
        EXPECT_EQ(test.nExpected, Check(Signed(Body(), test.strSignature))) << test.pszWhat;
        EXPECT_EQ(test.nExpected == IDROVAN_OK ? 1 : 0, m_fake.nVerifyCalls) << test.pszWhat;
    }
    m_fake.nVerdict = IDROVAN_LICENCE_SIGNATURE_FAILURE;
    EXPECT_EQ(IDROVAN_FAILURE, Check(Signed(Body())));
    EXPECT_EQ(IDROVAN_STEP_SIGNATURE, m_info.step);
    EXPECT_STREQ("", m_info.licence_id);
}

TEST_F(LicenceCheckTest, ChecksRunInTheDocumentedOrder) {
    const std::string strExpiredWithoutFeature = Signed(Body());
    // Grammar before the key: an untrusted key's malformed licence is malformed.
    const std::string strOtherKey = "other:" + std::string(kKey + 2);
    EXPECT_EQ(IDROVAN_MALFORMED,
              Check(Signed(Body() + "colour: red\n"), nullptr, nullptr, strOtherKey.c_str()));
    EXPECT_EQ(IDROVAN_NOT_SIGNED, Check(Signed(Body()), nullptr, nullptr, strOtherKey.c_str()));
    // The signature before the application.
    m_fake.nVerdict = IDROVAN_LICENCE_SIGNATURE_INVALID;
    EXPECT_EQ(IDROVAN_NOT_SIGNED,
              Check(strExpiredWithoutFeature, "2030-01-01T00:00:00Z", "x", kKey, "Other"));
    m_fake.nVerdict = IDROVAN_LICENCE_SIGNATURE_VALID;
    // The application before the computer, the computer before the time.
    m_fake.nIDResult = IDROVAN_NO_RIGHTS;
    EXPECT_EQ(IDROVAN_NO_MATCH,
              Check(strExpiredWithoutFeature, "2030-01-01T00:00:00Z", "x", kKey, "Other"));
    EXPECT_EQ(IDROVAN_NO_RIGHTS, Check(strExpiredWithoutFeature, "2030-01-01T00:00:00Z", "x"));
    m_fake.nIDResult = IDROVAN_OK;
    m_fake.strID = "00000000000000000000000000000000";
    EXPECT_EQ(IDROVAN_NO_MATCH, Check(strExpiredWithoutFeature, "2030-01-01T00:00:00Z", "x"));
    m_fake.strID = kVendorAID;
    // The time before the feature.
    EXPECT_EQ(IDROVAN_EXPIRED, Check(strExpiredWithoutFeature, "2030-01-01T00:00:00Z", "x"));
    EXPECT_EQ(IDROVAN_NO_FEATURE, Check(strExpiredWithoutFeature, nullptr, "x"));
}

TEST_F(LicenceCheckTest, AClockUpToADayBehindIssuedIsTolerated) {
    // issued 2024-11-01T00:00:00Z, not-before a month earlier.
    const std::string strLicence = Signed(Body());
    EXPECT_EQ(IDROVAN_OK, Check(strLicence, "2024-10-31T00:00:00Z"));
    EXPECT_EQ(IDROVAN_NOT_YET_VALID, Check(strLicence, "2024-10-30T23:59:59Z"));
    // Without "now", the services' clock.
    m_fake.nClock = 1730332799;  // 2024-10-30T23:59:59Z
    EXPECT_EQ(IDROVAN_NOT_YET_VALID, Check(strLicence));
}

TEST_F(LicenceCheckTest, BadArgumentsAreRefusedAndUnknownInfoUntouched) {
    const std::string strLicence = Signed(Body());
    const std::string strKeyDigits(kKey + 2);
    struct SCase {
        const char* pszWhat;
        const char* pszFeature;
        const char* pszNow;
        std::string strKeys;
        const char* pszApplication;
    } cases[] = {
        {"no keys", nullptr, nullptr, "", "App"},
        {"key without id", nullptr, nullptr, strKeyDigits, "App"},
        {"key of 63 bytes", nullptr, nullptr, "k:" + strKeyDigits.substr(2), "App"},
        {"key of 65 bytes", nullptr, nullptr, "k:" + strKeyDigits + "00", "App"},
        {"key in capitals", nullptr, nullptr, "k:" + std::string(128, 'A'), "App"},
        {"key id twice", nullptr, nullptr, std::string(kKey) + "," + kKey, "App"},
        {"nine keys", nullptr, nullptr,
         "a:" + strKeyDigits + " b:" + strKeyDigits + " c:" + strKeyDigits + " d:" + strKeyDigits +
             " e:" + strKeyDigits + " f:" + strKeyDigits + " g:" + strKeyDigits +
             " h:" + strKeyDigits + " i:" + strKeyDigits,
         "App"},
        {"feature with a space", "a b", nullptr, kKey, "App"},
        {"empty feature", "", nullptr, kKey, "App"},
        {"now off the calendar", nullptr, "2023-02-29T00:00:00Z", kKey, "App"},
        {"now with more after it", nullptr, "2024-01-01T00:00:00Zx", kKey, "App"},
        {"empty application", nullptr, nullptr, kKey, ""},
        {"application not UTF-8", nullptr, nullptr, kKey, "Caf\xe9"},
        {"no application", nullptr, nullptr, kKey, nullptr},
    };
    for (const SCase& test : cases)
        EXPECT_EQ(IDROVAN_BAD_ARGUMENT, Check(strLicence, test.pszNow, test.pszFeature,
                                              test.strKeys.c_str(), test.pszApplication))
            << test.pszWhat;
    // Eight keys are fine, the licence's among them.
    std::string strEight = kKey;
    for (char c = 'a'; c < 'h'; ++c)
        strEight += std::string("\n") + c + ":" + strKeyDigits;
    EXPECT_EQ(IDROVAN_OK, Check(strLicence, nullptr, nullptr, strEight.c_str()));

    idrovan_licence_services services = {&m_fake, FakeVerify, FakeApplicationID, FakeTime};
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              idrovan_licence_check(&services, nullptr, 0, "App", nullptr, kKey, nullptr, nullptr));
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              idrovan_licence_check(&services, strLicence.data(),
                                    static_cast<unsigned int>(strLicence.size()), "App", nullptr,
                                    nullptr, nullptr, nullptr));
    // An info of unknown size, or one that shares bytes with the licence, is not written.
    idrovan_licence_info info;
    std::memset(&info, 0x7F, sizeof(info));
    info.size = sizeof(info) - 4;
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              idrovan_licence_check(&services, strLicence.data(),
                                    static_cast<unsigned int>(strLicence.size()), "App", nullptr,
                                    kKey, nullptr, &info));
    EXPECT_EQ(0x7F, static_cast<unsigned char>(info.licence_id[0]));
    std::vector<char> shared(sizeof(idrovan_licence_info) + strLicence.size(), 0x7F);
    idrovan_licence_info* pShared = reinterpret_cast<idrovan_licence_info*>(shared.data());
    pShared->size = sizeof(idrovan_licence_info);
    std::memcpy(shared.data() + 8, strLicence.data(), strLicence.size());
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              idrovan_licence_check(&services, shared.data() + 8,
                                    static_cast<unsigned int>(strLicence.size()), "App", nullptr,
                                    kKey, nullptr, pShared));
    EXPECT_EQ(0x7F, static_cast<unsigned char>(shared[sizeof(idrovan_licence_info) - 1]));
}

// The platform's ECDSA as the check's signature service, for the threads below.
int RealSignature(void*, const unsigned char* pMessage, std::size_t nSize,
                  const unsigned char* pKey, const unsigned char* pSignature) {
    const EEcdsaVerdict eVerdict = VerifyEcdsaP256Sha256(pMessage, nSize, pKey, pSignature);
    return eVerdict == kEcdsaValid     ? IDROVAN_LICENCE_SIGNATURE_VALID
           : eVerdict == kEcdsaInvalid ? IDROVAN_LICENCE_SIGNATURE_INVALID
                                       : IDROVAN_LICENCE_SIGNATURE_FAILURE;
}

TEST(LicenceThreadTest, ChecksOnManyThreadsAtOnceShareNothing) {
    // Each thread checks a valid licence and a changed one, over and over, each through its own
    // load of the provider: every answer must be the one a single thread gets.
    const std::string strValid = "\xef\xbb\xbf" + ToCrlf(kPermanentLicence);
    const std::string strChanged = Replace(kPermanentLicence, "VA-2024-0002", "VA-2024-0003");
    std::vector<int> wrong(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
            SFake fake;
            idrovan_licence_services services = {&fake, RealSignature, FakeApplicationID, FakeTime};
            for (int i = 0; i < 20; ++i) {
                const std::string& strLicence = (i + t) % 2 == 0 ? strValid : strChanged;
                idrovan_licence_info info;
                info.size = sizeof(info);
                const int nResult = idrovan_licence_check(
                    &services, strLicence.data(), static_cast<unsigned int>(strLicence.size()),
                    "Vendor A", nullptr, kTestKey, nullptr, &info);
                const bool bRight =
                    &strLicence == &strValid
                        ? nResult == IDROVAN_OK && std::strcmp(info.licence_id, "VA-2024-0002") == 0
                        : nResult == IDROVAN_NOT_SIGNED && info.licence_id[0] == 0;
                wrong[t] += bRight ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::vector<int>(wrong.size(), 0), wrong);
}

TEST(LicenceTimeTest, TimesAreExactlyOnTheCalendar) {
    struct SCase {
        const char* pszText;
        long long nSeconds;  // -1: refused
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},          {"2000-03-01T00:00:00Z", 951868800},
        {"2024-02-29T12:00:00Z", 1709208000}, {"2000-02-29T00:00:00Z", 951782400},
        {"2024-11-05T17:45:30Z", 1730828730}, {"9999-12-31T23:59:59Z", 253402300799},
        {"2023-02-29T00:00:00Z", -1},         {"2100-02-29T00:00:00Z", -1},
        {"2024-04-31T00:00:00Z", -1},         {"2024-13-01T00:00:00Z", -1},
        {"2024-00-10T00:00:00Z", -1},         {"2024-01-00T00:00:00Z", -1},
        {"2024-01-01T24:00:00Z", -1},         {"2024-01-01T23:60:00Z", -1},
        {"2024-01-01T23:59:60Z", -1},         {"1969-12-31T23:59:59Z", -1},
        {"2024-01-01t00:00:00Z", -1},         {"2024-01-01 00:00:00Z", -1},
        {"2024-01-01T00:00:00z", -1},         {"2024-01-01T00:00:00", -1},
        {"2024-01-01T00:00:00+00:00", -1},    {"2024-1-01T00:00:00Z", -1},
        {"+024-01-01T00:00:00Z", -1},         {"2024-01-01T00:00:0 Z", -1},
    };
    for (const SCase& test : cases) {
        long long nSeconds = -1;
        const int nParsed =
            idrovan_licence_parse_time(test.pszText, std::strlen(test.pszText), &nSeconds);
        EXPECT_EQ(test.nSeconds >= 0, nParsed != 0) << test.pszText;
        if (test.nSeconds >= 0) {
            EXPECT_EQ(test.nSeconds, nSeconds) << test.pszText;
        }
    }
}

}  // namespace
