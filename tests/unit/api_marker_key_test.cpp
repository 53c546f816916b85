// The C API for a program that standard users run: flag 0 reads first, so that such a user gets
// the ID wherever a marker exists and "no rights" only where there is none; and the detail's
// marker_key, which a detail of the size before it (the struct of 2.2.0.0) is still accepted
// without.
#include "api/library_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

// The detail as callers built against 2.2.0.0's header lay it out.
struct SFirstDetail {
    unsigned int size;
    int step;
    long status;
    int marker;
};

// A standard user: the key opens for reading only, and the lock refuses the account.
TEST(ApiStandardUserTest, FlagZeroGivesTheIDWhereverAMarkerExists) {
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        unsigned int nFlags;
        int nResult;
        int nStep;
        long nStatus;
    } cases[] = {
        {"present, flag 0", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); }, 0,
         IDROVAN_OK, IDROVAN_STEP_NONE, 0},
        {"present, read-only", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         IDROVAN_READ_ONLY, IDROVAN_OK, IDROVAN_STEP_NONE, 0},
        {"missing, flag 0", [](CScriptedMachineFacts&) {}, 0, IDROVAN_NO_RIGHTS,
         IDROVAN_STEP_MARKER_LOCK, VERROR_ACCESS_DENIED},
        {"missing, read-only", [](CScriptedMachineFacts&) {}, IDROVAN_READ_ONLY, IDROVAN_NO_MARKER,
         IDROVAN_STEP_MARKER_KEY, VERROR_FILE_NOT_FOUND},
        {"unusable, flag 0",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); }, 0,
         IDROVAN_NO_RIGHTS, IDROVAN_STEP_MARKER_LOCK, VERROR_ACCESS_DENIED},
        {"unusable, read-only",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); },
         IDROVAN_READ_ONLY, IDROVAN_NO_MARKER, IDROVAN_STEP_MARKER_VALUE, VERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        c.pfnSetUp(machine);
        machine.m_bKeyReadOnly = true;
        machine.m_nLockStatus = VERROR_ACCESS_DENIED;
        char szID[IDROVAN_ID_SIZE] = {};
        idrovan_detail detail = {};
        detail.size = sizeof(detail);
        EXPECT_EQ(c.nResult,
                  GetComputerIDOn(machine, c.nFlags, szID, sizeof(szID), nullptr, &detail));
        EXPECT_EQ(c.nResult == IDROVAN_OK ? kIDWithHandMarker : "", std::string(szID));
        EXPECT_EQ(c.nStep, detail.step);
        EXPECT_EQ(c.nStatus, detail.status);
        EXPECT_TRUE(machine.m_writes.empty());
    }
}

// marker_key says what the key's security allows, in every call that derives; a detail of the
// first size gets every other field and nothing written past its end.
TEST(ApiMarkerKeyTest, DetailSaysWhetherTheKeyIsLooseAndTheFirstSizeStillServes) {
    const struct {
        bool bStored;
        EKeyTrust eTrust;
        int nMarkerKey;
    } cases[] = {
        {true, kKeyTrusted, IDROVAN_MARKER_KEY_TRUSTED},
        {true, kKeyLooseDacl, IDROVAN_MARKER_KEY_LOOSE},
        {true, kKeyForeignOwner, IDROVAN_MARKER_KEY_LOOSE},
        {true, kKeyTrustUnknown, IDROVAN_MARKER_KEY_UNKNOWN},
        {false, kKeyTrusted, IDROVAN_MARKER_KEY_NOT_READ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nMarkerKey);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        if (c.bStored)
            machine.SetMarker(VREG_SZ, kHandMarker);
        machine.m_eKeyTrust = c.eTrust;
        const int nResult = c.bStored ? IDROVAN_OK : IDROVAN_NO_MARKER;

        idrovan_detail detail;
        std::memset(&detail, 0x7F, sizeof(detail));
        detail.size = sizeof(detail);
        EXPECT_EQ(nResult, VerifyComputerIDOn(machine, kIDWithHandMarker, &detail));
        EXPECT_EQ(c.nMarkerKey, detail.marker_key);
        char szID[IDROVAN_ID_SIZE] = {};
        std::memset(&detail, 0x7F, sizeof(detail));
        detail.size = sizeof(detail);
        EXPECT_EQ(nResult, GetComputerIDOn(machine, IDROVAN_READ_ONLY, szID, sizeof(szID), nullptr,
                                           &detail));
        EXPECT_EQ(c.nMarkerKey, detail.marker_key);

        // Laid out with room behind it, so that a write past the first size shows.
        alignas(idrovan_detail) unsigned char aFirst[sizeof(idrovan_detail) + 8];
        std::memset(aFirst, 0x7F, sizeof(aFirst));
        SFirstDetail first;
        std::memcpy(&first, aFirst, sizeof(first));
        first.size = sizeof(SFirstDetail);
        std::memcpy(aFirst, &first, sizeof(first));
        idrovan_detail* pFirst = reinterpret_cast<idrovan_detail*>(aFirst);
        EXPECT_EQ(nResult,
                  GetComputerIDOn(machine, IDROVAN_READ_ONLY, szID, sizeof(szID), nullptr, pFirst));
        std::memcpy(&first, aFirst, sizeof(first));
        EXPECT_EQ(c.bStored ? IDROVAN_MARKER_PRESENT : IDROVAN_MARKER_MISSING, first.marker);
        for (std::size_t i = sizeof(SFirstDetail); i < sizeof(aFirst); ++i)
            EXPECT_EQ(0x7F, aFirst[i]) << i;
    }
}

// Each call reads the marker once; the key's security only for a detail with room for its
// verdict; the account's own key never, since the DLL does not report it.
TEST(ApiMarkerKeyTest, ACallReadsOnlyWhatItReports) {
    SFirstDetail first = {};
    first.size = sizeof(first);
    idrovan_detail full = {};
    full.size = sizeof(full);
    const struct {
        const char* pszWhat;
        idrovan_detail* pDetail;
        int nTrustReads;
    } cases[] = {
        {"no detail", nullptr, 0},
        // Natively (LP64) the padding after the 8-byte long makes both details one size, which
        // the library cannot tell apart; on Windows (LLP64) they differ.
        {"the first detail", reinterpret_cast<idrovan_detail*>(&first),
         sizeof(SFirstDetail) == sizeof(idrovan_detail) ? 1 : 0},
        {"the current detail", &full, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        for (const bool bVerify : {false, true}) {
            CScriptedMachineFacts machine;
            machine.m_nCreationTime = kRootCreated;
            machine.SetMarker(VREG_SZ, kHandMarker);
            char szID[IDROVAN_ID_SIZE] = {};
            EXPECT_EQ(IDROVAN_OK,
                      bVerify
                          ? VerifyComputerIDOn(machine, kIDWithHandMarker, c.pDetail)
                          : GetComputerIDOn(machine, 0, szID, sizeof(szID), nullptr, c.pDetail));
            const auto Count = [&machine](const std::string& strCall) {
                return std::count(machine.m_calls.begin(), machine.m_calls.end(), strCall);
            };
            EXPECT_EQ(1, Count("QueryKeyValue Rndund 260"));
            EXPECT_EQ(c.nTrustReads, Count("ReadKeyTrust"));
            EXPECT_EQ(0, Count("HasUserClassesKey lrgDocID"));
        }
    }
}

}  // namespace
