// The C API when the system fails it: memory that runs out at any one allocation of a derivation,
// and a keyed hash that fails. This program brings its own nothrow operator new[] (from which
// every text takes its buffer) and its own HMAC provider, which the linker takes in place of the
// platform's, so that the failures are real all the way up. Out of memory must be
// IDROVAN_FAILURE with the memory step and an empty text, or the right ID: never a wrong one.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "api/library_calls.h"
#include "platform/hmac_sha256_provider.h"
#include "tests/unit/failing_allocation.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

bool ComputeHmacSha256WithProvider(const void*, std::size_t, const void*, std::size_t,
                                   unsigned char* pDigest) {
    std::memset(pDigest, 0x5A, 16);
    return false;
}

namespace {

TEST(ApiFailures, OutOfMemoryAnywhereIsAFailureNeverAWrongID) {
    int nFailed = 0;
    for (int n = 0; n < 1000; ++n) {
        SCOPED_TRACE(n);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.SetMarker(VREG_SZ, kHandMarker);
        char szID[IDROVAN_ID_SIZE];
        std::memset(szID, 'Z', sizeof(szID));
        idrovan_detail detail;
        detail.size = sizeof(detail);
        g_nFailIn = n;
        const int nResult =
            GetComputerIDOn(machine, IDROVAN_READ_ONLY, szID, sizeof(szID), nullptr, &detail);
        const bool bAllocationFailed = g_nFailIn.load() < 0;
        g_nFailIn = -1;
        if (!bAllocationFailed) {
            // This derivation makes fewer than n allocations: every one has failed once.
            EXPECT_EQ(IDROVAN_OK, nResult);
            EXPECT_STREQ(kIDWithHandMarker, szID);
            EXPECT_GT(nFailed, 0);
            return;
        }
        if (nResult == IDROVAN_OK) {
            EXPECT_STREQ(kIDWithHandMarker, szID);
        } else {
            ++nFailed;
            EXPECT_EQ(IDROVAN_FAILURE, nResult);
            EXPECT_EQ(IDROVAN_STEP_MEMORY, detail.step);
            EXPECT_STREQ("", szID);
        }
        EXPECT_TRUE(machine.m_writes.empty());
    }
    FAIL() << "a derivation that never ends allocating";
}

TEST(ApiFailures, AFailedKeyedHashGivesNoApplicationID) {
    CScriptedMachineFacts machine;
    machine.m_nCreationTime = kRootCreated;
    machine.SetMarker(VREG_SZ, kHandMarker);
    char szID[IDROVAN_ID_SIZE];
    idrovan_detail detail;
    detail.size = sizeof(detail);
    EXPECT_EQ(IDROVAN_FAILURE,
              GetApplicationIDOn(machine, "Vendor A", 0, szID, sizeof(szID), nullptr, &detail));
    EXPECT_STREQ("", szID);
    EXPECT_EQ(IDROVAN_STEP_APPLICATION_ID, detail.step);
    EXPECT_EQ(IDROVAN_MARKER_PRESENT, detail.marker);
    EXPECT_EQ(IDROVAN_FAILURE,
              VerifyApplicationIDOn(machine, "Vendor A", kIDWithHandMarker, &detail));
    // The computer's own ID needs no keyed hash.
    EXPECT_EQ(IDROVAN_OK, GetComputerIDOn(machine, 0, szID, sizeof(szID), nullptr, nullptr));
    EXPECT_STREQ(kIDWithHandMarker, szID);
}

}  // namespace
