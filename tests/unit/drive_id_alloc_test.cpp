// The ID derivation under memory exhaustion. This program replaces the nothrow array form of
// operator new, from which every text takes its buffer, so that one chosen allocation fails; a
// whole derivation is then run once for every allocation it makes, with that one failing. Whatever
// fails, the ID must be the right one or empty, a stored marker must stay as it is, and a marker
// written on a first run must be the whole marker.
#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>

#include "identification/drive_id.h"
#include "tests/unit/failing_allocation.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

void SetUpMachine(CScriptedMachineFacts& machine, bool bStoredMarker) {
    machine.m_nCreationTime = kRootCreated;
    machine.m_nNow = kNow;
    if (bStoredMarker)
        machine.SetMarker(VREG_SZ, kHandMarker);
}

struct SSweep {
    const char* pszWhat;
    bool bStoredMarker;
    EMarkerAccess eAccess;
    bool bReport;
    std::string strID;  // the right ID
};

// Runs the derivation with allocation n failing, for n = 0, 1, ... until a run makes fewer
// allocations than n; returns how many allocations a whole derivation makes.
int Sweep(const SSweep& c) {
    for (int n = 0; n < 1000; ++n) {
        SCOPED_TRACE(n);
        CScriptedMachineFacts machine;
        SetUpMachine(machine, c.bStoredMarker);
        CDriveID driveID(machine, c.eAccess);
        CDriveIDReport report;

        g_nFailIn = n;
        CVeltraneString strResult = driveID.GetID(c.bReport ? &report : nullptr);
        const bool bFailed = g_nFailIn.load() < 0;
        g_nFailIn = -1;
        const std::string strID = strResult.GetText();

        if (!strID.empty()) {
            EXPECT_EQ(c.strID, strID);
        }
        if (c.bStoredMarker) {
            EXPECT_TRUE(machine.m_writes.empty());
            EXPECT_EQ(kHandMarker, machine.m_strValueData);
        }
        for (const CScriptedMachineFacts::SWrite& write : machine.m_writes)
            EXPECT_EQ(kNewMarker, write.strData);
        EXPECT_LE(machine.m_writes.size(), 1u);
        EXPECT_FALSE(c.eAccess == kMarkerReadOnly && machine.m_nCreateCalls > 0);
        EXPECT_TRUE(machine.m_openKeys.empty());
        EXPECT_EQ(0, machine.m_nBadCloses);

        if (c.bReport) {
            // Either the whole story of a derivation that worked, or "out of memory".
            if (strID.empty()) {
                EXPECT_STREQ("memory", GetDriveIDStepName(report.eFailedStep));
                EXPECT_EQ(VERROR_NOT_ENOUGH_MEMORY, report.nStatus);
            } else {
                EXPECT_EQ(kStepNone, report.eFailedStep);
                EXPECT_EQ(0, report.nStatus);
                EXPECT_STREQ(c.bStoredMarker ? "present" : "created",
                             GetMarkerStateName(report.eMarker));
                EXPECT_STREQ(kRootCreatedText, report.strRootCreation.GetText());
                EXPECT_STREQ("5A3C00F1NTFS", report.strVolume.GetText());
            }
        }

        // Whatever the failure left behind, the next derivation gives the right ID. A marker
        // that was not written is made again from the same random bytes, so that the right ID
        // is known.
        machine.m_strRandom.assign(reinterpret_cast<const char*>(kScriptedRandom),
                                   sizeof(kScriptedRandom));
        CDriveID again(machine, c.eAccess);
        EXPECT_EQ(c.strID, std::string(again.GetID().GetText()));

        if (!bFailed) {
            EXPECT_EQ(c.strID, strID);
            return n;
        }
    }
    ADD_FAILURE() << "the derivation never ran without a failed allocation";
    return 0;
}

TEST(DriveIDAllocationTest, OneFailedAllocationGivesTheRightIDOrNoneAndKeepsTheMarker) {
    const SSweep sweeps[] = {
        {"stored marker", true, kMarkerReadWrite, false, kIDWithHandMarker},
        {"first run", false, kMarkerReadWrite, false, kIDWithNewMarker},
        {"stored marker, report", true, kMarkerReadWrite, true, kIDWithHandMarker},
        {"first run, report", false, kMarkerReadWrite, true, kIDWithNewMarker},
        {"stored marker, read-only, report", true, kMarkerReadOnly, true, kIDWithHandMarker},
    };
    for (const SSweep& c : sweeps) {
        SCOPED_TRACE(c.pszWhat);
        const int nAllocations = Sweep(c);
        // A sweep that injected nothing would prove nothing.
        EXPECT_GT(nAllocations, 20);
        std::printf("%s: %d allocations, each failed in turn\n", c.pszWhat, nAllocations);
    }
}

// --new-marker for the computer's own ID with one allocation failing: a renewal that did not
// take says which step failed (the ID before, derived but lost in its copy, too), and the
// registry holds either the old marker or the whole new one.
TEST(DriveIDAllocationTest, RenewalWithAFailedAllocationSaysWhatFailed) {
    for (int n = 0; n < 1000; ++n) {
        SCOPED_TRACE(n);
        CScriptedMachineFacts machine;
        SetUpMachine(machine, true);
        CDriveID driveID(machine);
        CVeltraneString strBefore;
        CVeltraneString strAfter;
        CDriveIDReport report;

        g_nFailIn = n;
        const CDriveID::ERenewal eRenewal =
            driveID.RenewMarker(kIDWithHandMarker, strBefore, strAfter, &report);
        const bool bFailed = g_nFailIn.load() < 0;
        g_nFailIn = -1;

        EXPECT_TRUE(machine.m_openKeys.empty());
        EXPECT_FALSE(machine.IsLockHeld());
        // A failed allocation never gives a wrong ID, so the ID is never another's.
        EXPECT_NE(CDriveID::kRenewNotCurrent, eRenewal);
        const std::string strStored = machine.m_strValueData;
        if (eRenewal == CDriveID::kRenewed) {
            EXPECT_EQ(kStepNone, report.eFailedStep);
            EXPECT_EQ(kIDWithNewMarker, std::string(strAfter.GetText()));
            EXPECT_EQ(kNewMarker, strStored);
        } else {
            EXPECT_STREQ("memory", GetDriveIDStepName(report.eFailedStep));
            EXPECT_EQ(VERROR_NOT_ENOUGH_MEMORY, report.nStatus);
            EXPECT_EQ("", std::string(strAfter.GetText()));
            EXPECT_EQ(eRenewal == CDriveID::kRenewedUnread ? kNewMarker : kHandMarker, strStored);
        }
        if (!bFailed) {
            EXPECT_EQ(CDriveID::kRenewed, eRenewal);
            EXPECT_GT(n, 20);
            return;
        }
    }
    ADD_FAILURE() << "the renewal never ran without a failed allocation";
}

class CDriveIDProbe : public CDriveID {
public:
    explicit CDriveIDProbe(CMachineFacts& machine) : CDriveID(machine) {}
    using CDriveID::GetPathCreationText;
};

// A path that lost its added backslash would name the drive's current directory instead of its
// root: it must never be queried.
TEST(DriveIDAllocationTest, PathIsQueriedOnlyWithItsBackslash) {
    for (int n = 0; n < 100; ++n) {
        SCOPED_TRACE(n);
        CScriptedMachineFacts machine;
        SetUpMachine(machine, true);
        CDriveIDProbe probe(machine);
        CVeltraneString strPath("C:");

        g_nFailIn = n;
        CVeltraneString strText = probe.GetPathCreationText(strPath);
        const bool bFailed = g_nFailIn.load() < 0;
        g_nFailIn = -1;

        for (const std::string& strQueried : machine.m_queriedPaths)
            EXPECT_EQ("C:\\", strQueried);
        const std::string strResult = strText.GetText();
        if (!bFailed) {
            EXPECT_EQ(kRootCreatedText, strResult);
            return;
        }
        EXPECT_TRUE(strResult.empty() || strResult == kRootCreatedText) << strResult;
    }
    ADD_FAILURE() << "never ran without a failed allocation";
}

}  // namespace
