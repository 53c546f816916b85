// The C API's behaviour (api/library_calls.h) over a scripted machine: what each call derives and
// how its outcome becomes a result code and a detail, and the refusal of every bad argument
// before the machine is asked anything.
#include "api/library_calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
