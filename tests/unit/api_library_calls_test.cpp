// The C API's behaviour (api/library_calls.h) over a scripted machine: what each call derives and
// how its outcome becomes a result code and a detail, and the refusal of every bad argument
// before the machine is asked anything.
#include "api/library_calls.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "identification/application_id.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"
#include "idrovan_version.h"

namespace {

const char kVendorAWithHandMarker[] = "a3f9fd7e4d8a55f3b6137833f3af7fe9";
const char kCanary = '\x5C';

idrovan_detail NewDetail() {
    idrovan_detail detail;
    std::memset(&detail, 0x7F, sizeof(detail));
    detail.size = sizeof(detail);
    return detail;
}

class ApiTest : public ::testing::Test {
protected:
    ApiTest() {
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
    }

    void TearDown() override {
        EXPECT_TRUE(m_machine.m_openKeys.empty());
        EXPECT_EQ(0, m_machine.m_nBadCloses);
        EXPECT_FALSE(m_machine.IsLockHeld());
    }

    // GetComputerIDOn (no application) or GetApplicationIDOn into a full-size buffer.
    int GetID(unsigned int nFlags, const char* pszApplication = nullptr) {
        std::memset(m_szID, kCanary, sizeof(m_szID));
        m_detail = NewDetail();
        m_nNeeded = 0;
        return pszApplication == nullptr
                   ? GetComputerIDOn(m_machine, nFlags, m_szID, sizeof(m_szID), &m_nNeeded,
                                     &m_detail)
                   : GetApplicationIDOn(m_machine, pszApplication, nFlags, m_szID, sizeof(m_szID),
                                        &m_nNeeded, &m_detail);
    }

    CScriptedMachineFacts m_machine;
    char m_szID[IDROVAN_ID_SIZE];
    unsigned int m_nNeeded = 0;
    idrovan_detail m_detail;
};

TEST_F(ApiTest, GivesTheProgramsIDsAndSaysWhatTheMarkerWas) {
    // A first run writes the marker; later runs, read-only ones too, read it.
    EXPECT_EQ(IDROVAN_OK, GetID(0));
    EXPECT_STREQ(kIDWithNewMarker, m_szID);
    EXPECT_EQ(IDROVAN_ID_SIZE, static_cast<int>(m_nNeeded));
    EXPECT_EQ(IDROVAN_MARKER_CREATED, m_detail.marker);
    EXPECT_EQ(IDROVAN_STEP_NONE, m_detail.step);
    EXPECT_EQ(0, m_detail.status);
    EXPECT_EQ(sizeof(idrovan_detail), m_detail.size);
    EXPECT_EQ(1u, m_machine.m_writes.size());

    EXPECT_EQ(IDROVAN_OK, GetID(IDROVAN_READ_ONLY));
    EXPECT_STREQ(kIDWithNewMarker, m_szID);
    EXPECT_EQ(IDROVAN_MARKER_PRESENT, m_detail.marker);
    EXPECT_EQ(1u, m_machine.m_writes.size());
}

TEST_F(ApiTest, ApplicationIDIsTheConsolesFormulaInEitherMode) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    for (unsigned int nFlags : {0u, IDROVAN_READ_ONLY}) {
        EXPECT_EQ(IDROVAN_OK, GetID(nFlags, "Vendor A"));
        EXPECT_STREQ(kVendorAWithHandMarker, m_szID);
        EXPECT_EQ(IDROVAN_MARKER_PRESENT, m_detail.marker);
    }
    EXPECT_TRUE(m_machine.m_writes.empty());
}

TEST_F(ApiTest, FailuresGetTheConsolesCodesAndTheirStepWithoutAnID) {
    struct SCase {
        const char* pszName;
        void (*setUp)(CScriptedMachineFacts&);
        unsigned int nFlags;
        int nResult;
        int nStep;
        long nStatus;
        int nMarker = IDROVAN_MARKER_MISSING;
    };
    const SCase cases[] = {
        {"no marker yet, read-only", [](CScriptedMachineFacts&) {}, IDROVAN_READ_ONLY,
         IDROVAN_NO_MARKER, IDROVAN_STEP_MARKER_KEY, 2},
        {"key without a value, read-only", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; },
         IDROVAN_READ_ONLY, IDROVAN_NO_MARKER, IDROVAN_STEP_MARKER_VALUE, 2},
        {"a read-only key, read-write",
         [](CScriptedMachineFacts& m) {
             m.m_bKeyExists = true;
             m.m_bKeyReadOnly = true;
         },
         0, IDROVAN_NO_RIGHTS, IDROVAN_STEP_MARKER_KEY, 5},
        {"the volume", [](CScriptedMachineFacts& m) { m.m_bVolumeFails = true; }, 0,
         IDROVAN_FAILURE, IDROVAN_STEP_VOLUME, 21,
         // The marker comes before the volume: written, but no ID.
         IDROVAN_MARKER_CREATED},
        {"the random source", [](CScriptedMachineFacts& m) { m.m_bRandomFails = true; }, 0,
         IDROVAN_FAILURE, IDROVAN_STEP_MARKER_RANDOM, 0},
        {"the lock", [](CScriptedMachineFacts& m) { m.m_nLockStatus = VERROR_WAIT_TIMEOUT; }, 0,
         IDROVAN_FAILURE, IDROVAN_STEP_MARKER_LOCK, VERROR_WAIT_TIMEOUT},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        for (const char* pszApplication : {static_cast<const char*>(nullptr), "Vendor A"}) {
            m_machine = CScriptedMachineFacts();
            m_machine.m_nCreationTime = kRootCreated;
            c.setUp(m_machine);
            EXPECT_EQ(c.nResult, GetID(c.nFlags, pszApplication));
            EXPECT_STREQ("", m_szID);
            EXPECT_EQ(kCanary, m_szID[1]);
            EXPECT_EQ(c.nStep, m_detail.step);
            EXPECT_EQ(c.nStatus, m_detail.status);
            EXPECT_EQ(c.nMarker, m_detail.marker);
        }
    }
}

TEST_F(ApiTest, VerifyTakesEitherCaseAndNeverWrites) {
    idrovan_detail detail = NewDetail();
    // No marker yet: verifying does not make one.
    EXPECT_EQ(IDROVAN_NO_MARKER, VerifyComputerIDOn(m_machine, kIDWithHandMarker, &detail));
    EXPECT_EQ(IDROVAN_STEP_MARKER_KEY, detail.step);
    EXPECT_EQ(0, m_machine.m_nCreateCalls);

    m_machine.SetMarker(VREG_SZ, kHandMarker);
    std::string strUpper(kIDWithHandMarker);
    for (char& c : strUpper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(IDROVAN_OK, VerifyComputerIDOn(m_machine, strUpper.c_str(), &detail));
    EXPECT_EQ(IDROVAN_MARKER_PRESENT, detail.marker);
    EXPECT_EQ(IDROVAN_NO_MATCH, VerifyComputerIDOn(m_machine, kIDWithNewMarker, nullptr));
    // An application's ID is not the computer's, and the other way round.
    EXPECT_EQ(IDROVAN_NO_MATCH, VerifyComputerIDOn(m_machine, kVendorAWithHandMarker, nullptr));
    EXPECT_EQ(IDROVAN_OK,
              VerifyApplicationIDOn(m_machine, "Vendor A", kVendorAWithHandMarker, &detail));
    EXPECT_EQ(IDROVAN_NO_MATCH,
              VerifyApplicationIDOn(m_machine, "Vendor B", kVendorAWithHandMarker, nullptr));
    EXPECT_EQ(IDROVAN_NO_MATCH,
              VerifyApplicationIDOn(m_machine, "Vendor A", kIDWithHandMarker, nullptr));
    EXPECT_TRUE(m_machine.m_writes.empty());
    EXPECT_EQ(0, m_machine.m_nCreateCalls);
}

// Each bad call is refused with IDROVAN_BAD_ARGUMENT before the machine is asked anything, a
// known detail says nothing was derived, and no byte past a short buffer is touched.
TEST_F(ApiTest, BadArgumentsAreRefusedBeforeAnythingIsDerived) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    char szBuffer[IDROVAN_ID_SIZE + 8];
    unsigned int nNeeded = 0;
    idrovan_detail detail = NewDetail();
    idrovan_detail oddDetail = NewDetail();
    auto expectRefused = [&](const char* pszWhat, int nResult) {
        SCOPED_TRACE(pszWhat);
        EXPECT_EQ(IDROVAN_BAD_ARGUMENT, nResult);
        EXPECT_TRUE(m_machine.m_calls.empty());
        m_machine.m_calls.clear();
    };
    auto resetDetails = [&] {
        detail = NewDetail();
        oddDetail = NewDetail();
    };
    const unsigned int kOddSizes[] = {0, 4, sizeof(idrovan_detail) - 1, sizeof(idrovan_detail) + 4,
                                      0xFFFFFFFFu};

    for (const char* pszApplication : {static_cast<const char*>(nullptr), "Vendor A"}) {
        auto get = [&](unsigned int nFlags, char* pszID, unsigned int nSize, unsigned int* pnNeeded,
                       idrovan_detail* pDetail) {
            return pszApplication == nullptr
                       ? GetComputerIDOn(m_machine, nFlags, pszID, nSize, pnNeeded, pDetail)
                       : GetApplicationIDOn(m_machine, pszApplication, nFlags, pszID, nSize,
                                            pnNeeded, pDetail);
        };
        // Every short buffer, from none at all to one byte short of the terminator.
        for (unsigned int nSize = 0; nSize < IDROVAN_ID_SIZE; ++nSize) {
            std::memset(szBuffer, kCanary, sizeof(szBuffer));
            nNeeded = 0;
            resetDetails();
            expectRefused("short buffer", get(0, szBuffer, nSize, &nNeeded, &detail));
            EXPECT_EQ(static_cast<unsigned int>(IDROVAN_ID_SIZE), nNeeded);
            for (unsigned int i = 0; i < sizeof(szBuffer); ++i)
                EXPECT_EQ(i == 0 && nSize > 0 ? '\0' : kCanary, szBuffer[i]) << nSize << " " << i;
            EXPECT_EQ(IDROVAN_STEP_NONE, detail.step);
            EXPECT_EQ(0, detail.status);
        }
        expectRefused("no buffer", get(0, nullptr, IDROVAN_ID_SIZE, &nNeeded, nullptr));
        EXPECT_EQ(static_cast<unsigned int>(IDROVAN_ID_SIZE), nNeeded);
        for (unsigned int nFlags : {2u, 4u, 0x80000000u, IDROVAN_READ_ONLY | 8u})
            expectRefused("unknown flag",
                          get(nFlags, szBuffer, sizeof(szBuffer), nullptr, nullptr));
        for (unsigned int nSize : kOddSizes) {
            resetDetails();
            oddDetail.size = nSize;
            expectRefused("detail of unknown size",
                          get(0, szBuffer, sizeof(szBuffer), nullptr, &oddDetail));
            // A detail of unknown size is not written to at all.
            EXPECT_EQ(0x7F7F7F7F, oddDetail.step);
        }
        // Without needed, a full-size buffer works.
        EXPECT_EQ(IDROVAN_OK, get(0, szBuffer, IDROVAN_ID_SIZE, nullptr, nullptr));
        m_machine.m_calls.clear();
    }

    for (const char* pszApplication : {static_cast<const char*>(nullptr), ""}) {
        std::memset(szBuffer, kCanary, sizeof(szBuffer));
        expectRefused("no application", GetApplicationIDOn(m_machine, pszApplication, 0, szBuffer,
                                                           sizeof(szBuffer), &nNeeded, &detail));
        EXPECT_EQ('\0', szBuffer[0]);
        expectRefused("no application", VerifyApplicationIDOn(m_machine, pszApplication,
                                                              kVendorAWithHandMarker, &detail));
    }

    const std::string strID(kIDWithHandMarker);
    const char* const kMalformed[] = {
        nullptr,
        "",
        "1d7f953db6e0a9ab13df78aa1db9f3b",    // 31 digits
        "1d7f953db6e0a9ab13df78aa1db9f3b80",  // 33
        "1d7f953db6e0a9ab13df78aa1db9f3bg",
        " 1d7f953db6e0a9ab13df78aa1db9f3b",
        "1d7f953db6e0a9ab13df78aa1db9f3b8\n",
        "{1d7f953d-b6e0-a9ab-13df-78aa1db9f3b8}",
    };
    for (const char* pszID : kMalformed) {
        expectRefused("malformed ID", VerifyComputerIDOn(m_machine, pszID, &detail));
        expectRefused("malformed ID", VerifyApplicationIDOn(m_machine, "Vendor A", pszID, nullptr));
    }
    for (unsigned int nSize : kOddSizes) {
        oddDetail.size = nSize;
        expectRefused("detail of unknown size",
                      VerifyComputerIDOn(m_machine, strID.c_str(), &oddDetail));
        expectRefused("detail of unknown size",
                      VerifyApplicationIDOn(m_machine, "Vendor A", strID.c_str(), &oddDetail));
    }
}

// The same names as the console's --app-specific takes (IsApplicationName): UTF-8 ones get the
// formula's ID, in either mode, and so verify; the rest are refused before anything is derived.
TEST_F(ApiTest, ApplicationNamesAreUtf8WithoutControls) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    const std::string strTooLong(kMaxApplicationNameBytes + 1, 'a');
    struct SName {
        std::string strName;
        const char* pszID;  // null: refused
    };
    const SName names[] = {
        {"Caf\xc3\xa9", "9e0bd5a77bd9b3e35e5bfca3cc99e672"},
        {"\xe6\x95\xb0\xe6\x8d\xae", "4f441b5d46f124f53c4e31890feafb14"},
        {"\xf0\x9f\x94\x91 Key", "96b7bb9ccfd55af265813010fc31be7a"},
        {"Caf\xe9", nullptr},
        {"\xc0\xaf", nullptr},
        {"\xed\xa0\x80", nullptr},
        {"Caf\xc3", nullptr},
        {"Vendor\tA", nullptr},
        {"\xc2\x85", nullptr},
        {strTooLong, nullptr},
    };
    for (const SName& name : names) {
        SCOPED_TRACE(name.strName.substr(0, 16));
        const char* pszName = name.strName.c_str();
        for (unsigned int nFlags : {0u, static_cast<unsigned int>(IDROVAN_READ_ONLY)}) {
            m_machine.m_calls.clear();
            const int nResult = GetID(nFlags, pszName);
            if (name.pszID != nullptr) {
                EXPECT_EQ(IDROVAN_OK, nResult);
                EXPECT_STREQ(name.pszID, m_szID);
                continue;
            }
            EXPECT_EQ(IDROVAN_BAD_ARGUMENT, nResult);
            EXPECT_STREQ("", m_szID);
            EXPECT_EQ(static_cast<unsigned int>(IDROVAN_ID_SIZE), m_nNeeded);
            EXPECT_EQ(IDROVAN_STEP_NONE, m_detail.step);
            EXPECT_TRUE(m_machine.m_calls.empty());
        }
        m_machine.m_calls.clear();
        const int nVerified = VerifyApplicationIDOn(
            m_machine, pszName, name.pszID != nullptr ? name.pszID : kVendorAWithHandMarker,
            nullptr);
        EXPECT_EQ(name.pszID != nullptr ? IDROVAN_OK : IDROVAN_BAD_ARGUMENT, nVerified);
        EXPECT_EQ(name.pszID == nullptr, m_machine.m_calls.empty());
    }
    EXPECT_TRUE(m_machine.m_writes.empty());
}

// Buffers that share bytes with another argument: refused, the machine not asked, and not one
// byte of any argument written. Buffers side by side are no overlap.
TEST_F(ApiTest, OverlappingArgumentsAreRefusedAndNothingIsWritten) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    // One block that every argument is carved from, at the offsets each case gives.
    alignas(idrovan_detail) unsigned char block[128];
    const unsigned char kFill = 0xA5;
    const char kName[] = "Vendor A";
    auto at = [&](std::size_t nOffset) { return block + nOffset; };
    auto detailAt = [&](std::size_t nOffset) {
        idrovan_detail detail = NewDetail();
        std::memcpy(at(nOffset), &detail, sizeof(detail));
        return reinterpret_cast<idrovan_detail*>(at(nOffset));
    };
    auto fill = [&] {
        std::memset(block, kFill, sizeof(block));
        std::memcpy(at(96), kName, sizeof(kName));  // the name, when a case uses block's copy
    };
    auto expectUntouched = [&](const unsigned char* pBefore) {
        EXPECT_EQ(0, std::memcmp(pBefore, block, sizeof(block)));
        EXPECT_TRUE(m_machine.m_calls.empty());
        m_machine.m_calls.clear();
    };
    unsigned char before[sizeof(block)];
    auto snapshot = [&] { std::memcpy(before, block, sizeof(block)); };
    char* const pszName = reinterpret_cast<char*>(at(96));
    const unsigned int kSize = IDROVAN_ID_SIZE;

    struct SCase {
        const char* pszWhat;
        std::size_t nID;      // offset of the ID buffer
        std::size_t nNeeded;  // offset of needed, or SIZE_MAX for null
        std::size_t nDetail;  // offset of the detail, or SIZE_MAX for null
        bool bBlockName;      // the name is block's copy at 96
    };
    const std::size_t kNull = SIZE_MAX;
    const SCase cases[] = {
        {"needed inside the ID buffer", 0, 8, kNull, false},
        {"needed on the ID buffer's last byte", 0, 32, kNull, false},
        {"the detail inside the ID buffer", 0, kNull, 16, false},
        {"needed inside the detail", 0, 52, 48, false},
        {"the ID buffer over the name", 90, kNull, kNull, true},
        {"the ID buffer ending on the name", 64, kNull, kNull, true},
        {"the detail over the name", 0, kNull, 88, true},
        {"needed over the name's terminator", 0, 104, kNull, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fill();
        unsigned int* pnNeeded =
            c.nNeeded == kNull ? nullptr : reinterpret_cast<unsigned int*>(at(c.nNeeded));
        idrovan_detail* pDetail = c.nDetail == kNull ? nullptr : detailAt(c.nDetail);
        if (c.bBlockName)
            std::memcpy(at(96), kName, sizeof(kName));  // a detail copied over it goes first
        const char* pszApplication = c.bBlockName ? pszName : kName;
        char* pszID = reinterpret_cast<char*>(at(c.nID));
        snapshot();
        EXPECT_EQ(IDROVAN_BAD_ARGUMENT, GetApplicationIDOn(m_machine, pszApplication, 0, pszID,
                                                           kSize, pnNeeded, pDetail));
        expectUntouched(before);
        if (c.bBlockName)
            continue;
        EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
                  GetComputerIDOn(m_machine, 0, pszID, kSize, pnNeeded, pDetail));
        expectUntouched(before);
    }

    // Verify writes only the detail: over the ID text or the name it is refused.
    fill();
    idrovan_detail* pDetailUnderID = detailAt(0);
    std::memcpy(at(12), kIDWithHandMarker, sizeof(kIDWithHandMarker));
    snapshot();
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              VerifyComputerIDOn(m_machine, reinterpret_cast<char*>(at(12)), pDetailUnderID));
    expectUntouched(before);
    fill();
    idrovan_detail* pDetailUnderName = detailAt(88);
    std::memcpy(at(96), kName, sizeof(kName));
    snapshot();
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT,
              VerifyApplicationIDOn(m_machine, pszName, kVendorAWithHandMarker, pDetailUnderName));
    expectUntouched(before);

    // The version's buffer and needed.
    fill();
    snapshot();
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT, GetLibraryVersion(reinterpret_cast<char*>(at(0)), 24,
                                                      reinterpret_cast<unsigned int*>(at(4))));
    expectUntouched(before);

    // Side by side, with nothing shared, every call works: ID, needed, detail, name.
    fill();
    unsigned int* pnNeeded = reinterpret_cast<unsigned int*>(at(36));
    idrovan_detail* pDetail = detailAt(48);
    EXPECT_EQ(IDROVAN_OK, GetApplicationIDOn(m_machine, pszName, 0, reinterpret_cast<char*>(at(0)),
                                             kSize, pnNeeded, pDetail));
    EXPECT_STREQ(kVendorAWithHandMarker, reinterpret_cast<char*>(at(0)));
    EXPECT_EQ(kSize, *pnNeeded);
    EXPECT_EQ(IDROVAN_MARKER_PRESENT, pDetail->marker);
    // A buffer that says it is larger than the ID needs is only written up to the ID's size.
    fill();
    EXPECT_EQ(IDROVAN_OK, GetApplicationIDOn(m_machine, pszName, 0, reinterpret_cast<char*>(at(40)),
                                             1000, nullptr, nullptr));
    EXPECT_STREQ(kVendorAWithHandMarker, reinterpret_cast<char*>(at(40)));
    EXPECT_TRUE(m_machine.m_writes.empty());
}

TEST(ApiResultTextTest, EveryCodeHasAStaticText) {
    const int kCodes[] = {IDROVAN_OK,        IDROVAN_NO_MATCH,   IDROVAN_BAD_ARGUMENT,
                          IDROVAN_NO_RIGHTS, IDROVAN_NO_MARKER,  IDROVAN_FAILURE,
                          IDROVAN_MALFORMED, IDROVAN_NOT_SIGNED, IDROVAN_NOT_YET_VALID,
                          IDROVAN_EXPIRED,   IDROVAN_NO_FEATURE};
    std::vector<std::string> texts;
    for (int nCode : kCodes) {
        const char* pszText = GetResultText(nCode);
        ASSERT_NE(nullptr, pszText);
        texts.push_back(pszText);
    }
    const std::string strUnknown = GetResultText(5);
    for (int nCode : {-1, 12, 100, INT_MIN, INT_MAX})
        EXPECT_EQ(strUnknown, GetResultText(nCode));
    texts.push_back(strUnknown);
    // Each code says something of its own, in plain English ASCII.
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_FALSE(texts[i].empty());
        for (char c : texts[i])
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << texts[i];
        for (std::size_t j = i + 1; j < texts.size(); ++j)
            EXPECT_NE(texts[i], texts[j]);
    }
}

TEST(ApiVersionTest, GivesTheVersionOrTheSizeItNeeds) {
    const std::string strVersion = IDROVAN_VERSION_TEXT;
    const unsigned int nNeeded = static_cast<unsigned int>(strVersion.size() + 1);
    char szBuffer[40];
    for (unsigned int nSize = 0; nSize <= nNeeded; ++nSize) {
        std::memset(szBuffer, kCanary, sizeof(szBuffer));
        unsigned int nGot = 0;
        const int nResult = GetLibraryVersion(szBuffer, nSize, &nGot);
        EXPECT_EQ(nNeeded, nGot);
        if (nSize < nNeeded) {
            EXPECT_EQ(IDROVAN_BAD_ARGUMENT, nResult);
            EXPECT_EQ(nSize > 0 ? '\0' : kCanary, szBuffer[0]);
            EXPECT_EQ(kCanary, szBuffer[1]);
        } else {
            EXPECT_EQ(IDROVAN_OK, nResult);
            EXPECT_EQ(strVersion, szBuffer);
            EXPECT_EQ(kCanary, szBuffer[nNeeded]);
        }
    }
    EXPECT_LE(nNeeded, 24u);
    EXPECT_EQ(IDROVAN_BAD_ARGUMENT, GetLibraryVersion(nullptr, 40, nullptr));
}

}  // namespace
