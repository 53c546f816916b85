#include "identification/drive_id.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

std::string Text(CVeltraneString str) {
    return str.GetText();
}

class CDriveIDProbe : public CDriveID {
public:
    explicit CDriveIDProbe(CMachineFacts& machine) : CDriveID(machine) {}
    using CDriveID::EnsureInstallMarker;
    using CDriveID::GetPathCreationText;
    using CDriveID::GetRootCreationText;
    using CDriveID::GetSystemDrive;
    using CDriveID::GetVolumeText;
    using CDriveID::ReadInstallMarker;
    using CDriveID::ReadSystemDrive;
    using CDriveID::Scramble;
};

class DriveIDTest : public ::testing::Test {
protected:
    DriveIDTest() {
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
    }

    // Every key that was opened or created was closed exactly once.
    void TearDown() override {
        EXPECT_TRUE(m_machine.m_openKeys.empty());
        EXPECT_EQ(0, m_machine.m_nBadCloses);
    }

    std::string GetID() {
        CDriveID driveID(m_machine);
        return Text(driveID.GetID());
    }

    CScriptedMachineFacts m_machine;
};

TEST_F(DriveIDTest, WorkedExampleGivesItsTextsAndID) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    CDriveIDProbe probe(m_machine);

    ASSERT_TRUE(probe.ReadSystemDrive());
    EXPECT_EQ("C", Text(probe.GetSystemDrive()));
    EXPECT_EQ(kRootCreatedText, Text(probe.GetRootCreationText()));
    EXPECT_EQ("5A3C00F1NTFS", Text(probe.GetVolumeText()));
    EXPECT_EQ(kHandMarker, Text(probe.ReadInstallMarker()));
    EXPECT_EQ(
        "Monday March 04 2019 (03_04_20623019) "
        "09:05:07:425A3C00F1NTFS0123456789abcdef0123456789abcdef",
        Text(probe.Scramble("Monday March 04 2019 (03_04_2019) "
                            "09:05:07:425A3C00F1NTFS0123456789abcdef0123456789abcdef")));

    EXPECT_EQ(kIDWithHandMarker, Text(probe.GetID()));
    EXPECT_TRUE(m_machine.m_writes.empty());
    for (const std::string& strPath : m_machine.m_queriedPaths)
        EXPECT_EQ("C:\\", strPath);
}

TEST_F(DriveIDTest, ScrambleRepeatsTheCharacterAtOneThirdAroundSevenTimesTheLength) {
    const struct {
        const char* pszText;
        const char* pszScrambled;
    } cases[] = {
        {"", ""}, {"a", "a7a"}, {"ab", "a14ab"}, {"abc", "ab21bc"}, {"abcdefghij", "abcd70defghij"},
    };
    CDriveIDProbe probe(m_machine);
    for (const auto& c : cases)
        EXPECT_EQ(c.pszScrambled, Text(probe.Scramble(c.pszText))) << c.pszText;
}

TEST_F(DriveIDTest, AbsentMarkerIsWrittenOnceAndUsedFromTheFirstCall) {
    const std::string strFirst = GetID();
    m_machine.m_nNow = kNow + 10000000;  // a later run must not make a new marker
    const std::string strSecond = GetID();

    EXPECT_EQ(kIDWithMarkerMadeNow, strFirst);
    EXPECT_EQ(strFirst, strSecond);
    EXPECT_EQ(1, m_machine.m_nCreateCalls);
    ASSERT_EQ(1u, m_machine.m_writes.size());
    EXPECT_EQ("Rndund", m_machine.m_writes[0].strName);
    EXPECT_EQ(VREG_SZ, m_machine.m_writes[0].nType);
    // 32 bytes, no terminator.
    EXPECT_EQ(kMarkerMadeNow, m_machine.m_writes[0].strData);
}

TEST_F(DriveIDTest, MarkerIsWrittenIntoAnExistingKeyWithoutCreatingIt) {
    m_machine.m_bKeyExists = true;
    CDriveIDProbe probe(m_machine);

    EXPECT_TRUE(probe.EnsureInstallMarker());
    EXPECT_FALSE(probe.EnsureInstallMarker());
    EXPECT_EQ(0, m_machine.m_nCreateCalls);
    ASSERT_EQ(1u, m_machine.m_writes.size());
    EXPECT_EQ(kMarkerMadeNow, Text(probe.ReadInstallMarker()));
}

// A usable marker is any REG_SZ value that starts with a non-NUL byte; it is read up to its first
// NUL and never replaced. Anything else counts as no marker and is replaced by a fresh one.
TEST_F(DriveIDTest, StoredValuesAreKeptOrReplaced) {
    const std::string strFull(260, 'k');
    const struct {
        const char* pszWhat;
        std::uint32_t nType;
        std::string strData;
        std::string strKept;  // empty: replaced
    } cases[] = {
        {"program's marker", VREG_SZ, kHandMarker, kHandMarker},
        {"odd length", VREG_SZ, "abcde", "abcde"},
        {"one byte", VREG_SZ, "x", "x"},
        {"bytes above 127", VREG_SZ, "\xe9t\xe9\xff", "\xe9t\xe9\xff"},
        {"with terminator", VREG_SZ, std::string("abc\0", 4), "abc"},
        {"NUL inside", VREG_SZ, std::string("abc\0def", 7), "abc"},
        {"fills the buffer", VREG_SZ, strFull, strFull},
        {"longer than the buffer", VREG_SZ, std::string(261, 'k'), ""},
        {"empty", VREG_SZ, "", ""},
        {"starts with NUL", VREG_SZ, std::string("\0abc", 4), ""},
        {"REG_DWORD", VREG_DWORD, std::string("\x01\x02\x03\x04", 4), ""},
        {"REG_BINARY", VREG_BINARY, kHandMarker, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.m_nNow = kNow;
        machine.SetMarker(c.nType, c.strData);
        CDriveIDProbe probe(machine);

        EXPECT_EQ(c.strKept, Text(probe.ReadInstallMarker()));
        const std::string strID = Text(probe.GetID());
        if (c.strKept.empty()) {
            ASSERT_EQ(1u, machine.m_writes.size());
            EXPECT_EQ(VREG_SZ, machine.m_nValueType);
            EXPECT_EQ(kMarkerMadeNow, machine.m_strValueData);
            EXPECT_EQ(kIDWithMarkerMadeNow, strID);
        } else {
            EXPECT_TRUE(machine.m_writes.empty());
            EXPECT_EQ(32u, strID.size());
        }
        EXPECT_EQ(0, machine.m_nCreateCalls);
        EXPECT_TRUE(machine.m_openKeys.empty());
    }
}

TEST_F(DriveIDTest, KeyThatCannotBeOpenedOrCreatedGivesNoIDAndNoWrite) {
    m_machine.m_bKeyExists = true;
    m_machine.m_nOpenStatus = VERROR_ACCESS_DENIED;
    m_machine.m_nCreateStatus = VERROR_ACCESS_DENIED;
    CDriveIDProbe probe(m_machine);

    EXPECT_FALSE(probe.EnsureInstallMarker());
    EXPECT_EQ("", Text(probe.GetID()));
    EXPECT_TRUE(m_machine.m_writes.empty());
}

// A key that fails to open for another reason than being absent or refused may hold a stored
// marker: nothing is created or written over it, even when a create would go through.
TEST_F(DriveIDTest, KeyThatFailsToOpenForAnotherReasonIsNeverWrittenOver) {
    const long kOutOfMemory = 14;  // ERROR_OUTOFMEMORY
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    m_machine.m_nOpenStatus = kOutOfMemory;
    CDriveIDReport report;
    CDriveID driveID(m_machine);

    EXPECT_EQ("", Text(driveID.GetID(&report)));
    EXPECT_EQ(0, m_machine.m_nCreateCalls);
    EXPECT_TRUE(m_machine.m_writes.empty());
    EXPECT_EQ(kStepMarkerKey, report.eFailedStep);
    EXPECT_EQ(kOutOfMemory, report.nStatus);
}

TEST_F(DriveIDTest, CreateThatYieldsNoKeyWritesNothing) {
    m_machine.m_bCreateYieldsNullKey = true;
    CDriveIDProbe probe(m_machine);

    EXPECT_FALSE(probe.EnsureInstallMarker());
    EXPECT_TRUE(m_machine.m_writes.empty());
}

// Each missing fact empties the ID; the derivation neither crashes nor reads past a buffer.
TEST_F(DriveIDTest, EachMissingFactGivesAnEmptyID) {
    const struct {
        const char* pszWhat;
        void (*pfnBreak)(CScriptedMachineFacts&);
        bool bWritesMarker;
    } cases[] = {
        {"no Windows directory", [](CScriptedMachineFacts& m) { m.m_strWindowsDirectory = ""; },
         false},
        {"volume unreadable", [](CScriptedMachineFacts& m) { m.m_bVolumeFails = true; }, true},
        {"root unreadable", [](CScriptedMachineFacts& m) { m.m_bCreationTimeFails = true; }, true},
        {"root time has no calendar form",
         [](CScriptedMachineFacts& m) { m.m_unconvertibleTimes.insert(kRootCreated); }, true},
        {"marker write lost", [](CScriptedMachineFacts& m) { m.m_bSetIsLost = true; }, true},
        {"directory not starting with a drive letter",
         [](CScriptedMachineFacts& m) { m.m_strWindowsDirectory = "\\\\server\\windows"; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.m_nNow = kNow;
        c.pfnBreak(machine);

        CDriveID driveID(machine);
        EXPECT_EQ("", Text(driveID.GetID()));
        EXPECT_EQ(c.bWritesMarker ? 1u : 0u, machine.m_writes.size());
        if (!c.bWritesMarker) {
            EXPECT_EQ(0, machine.m_nOpenCalls + machine.m_nCreateCalls);
        }
        EXPECT_TRUE(machine.m_openKeys.empty());
    }
}

TEST_F(DriveIDTest, MarkerTimeWithoutCalendarFormWritesAnEmptyValue) {
    m_machine.m_unconvertibleTimes.insert(kNow);
    EXPECT_EQ("", GetID());
    ASSERT_EQ(1u, m_machine.m_writes.size());
    EXPECT_EQ("", m_machine.m_writes[0].strData);

    // The empty value counts as no marker: the next run with a usable clock replaces it.
    m_machine.m_unconvertibleTimes.clear();
    EXPECT_EQ(kIDWithMarkerMadeNow, GetID());
}

TEST_F(DriveIDTest, DriveLetterIsTakenAsItStands) {
    const struct {
        const char* pszDirectory;
        const char* pszRoot;
    } cases[] = {
        {"D:\\WINDOWS", "D:\\"},
        {"c:\\windows", "c:\\"},
        {"\\WINDOWS", "\\:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszDirectory);
        CScriptedMachineFacts machine;
        machine.m_strWindowsDirectory = c.pszDirectory;
        machine.m_strRoot = c.pszRoot;
        machine.m_nCreationTime = kRootCreated;
        machine.SetMarker(VREG_SZ, kHandMarker);

        CDriveID driveID(machine);
        // The drive changes nothing else: the facts, and so the ID, are those of the example.
        EXPECT_EQ(kIDWithHandMarker, Text(driveID.GetID()));
        ASSERT_FALSE(machine.m_queriedPaths.empty());
        for (const std::string& strPath : machine.m_queriedPaths)
            EXPECT_EQ(c.pszRoot, strPath);
    }
}

TEST_F(DriveIDTest, VolumeTextIsHexSerialWithoutLeadingZerosThenFileSystem) {
    const struct {
        std::uint32_t nSerial;
        const char* pszFileSystem;
        char chFill;
        std::string strText;
    } cases[] = {
        {0x5A3C00F1, "NTFS", '\0', "5A3C00F1NTFS"},
        {0x00ABCDEF, "NTFS", '\0', "ABCDEFNTFS"},
        {0, "FAT32", '\0', "0FAT32"},
        {0xFFFFFFFF, "", '\0', "FFFFFFFF"},
        // A name that fills the buffer without a terminator is cut to 255 characters.
        {0x1, "", 'F', "1" + std::string(255, 'F')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strText);
        m_machine.m_nSerialNumber = c.nSerial;
        m_machine.m_strFileSystem = c.pszFileSystem;
        m_machine.m_chFileSystemFill = c.chFill;
        CDriveIDProbe probe(m_machine);
        ASSERT_TRUE(probe.ReadSystemDrive());
        EXPECT_EQ(c.strText, Text(probe.GetVolumeText()));
    }
}

TEST_F(DriveIDTest, PathCreationTextAddsAMissingBackslash) {
    m_machine.m_strRoot = "C:\\";
    CDriveIDProbe probe(m_machine);
    for (const char* pszPath : {"C:", "C:\\"}) {
        CVeltraneString strPath(pszPath);
        EXPECT_EQ(kRootCreatedText, Text(probe.GetPathCreationText(strPath))) << pszPath;
        EXPECT_EQ("C:\\", Text(strPath));
    }
}

// The machine calls that the described steps make, as CScriptedMachineFacts records them.
typedef std::vector<std::string> Calls;

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Only a report asks for the last error; the dialog's derivation never does.
const char kLastError[] = "ReadLastError";
const std::string kAllAccess = std::to_string(VKEY_ALL_ACCESS);
const std::string kReadAccess = std::to_string(VKEY_READ);

const Calls kDirectory = {"ReadWindowsDirectory 256"};
const Calls kVolume = {"ReadVolumeInformation C:\\"};
const Calls kRootAttributes = {"ReadCreationTime C:\\"};
const Calls kRootTime = {"ConvertFileTime " + std::to_string(kRootCreated)};
const Calls kOpen = {"OpenClassesKey lrgDocID " + kAllAccess};
const Calls kOpenForReading = {"OpenClassesKey lrgDocID " + kReadAccess};
const Calls kCreate = {"CreateClassesKey lrgDocID " + kAllAccess};
const Calls kQuery = {"QueryKeyValue Rndund 260", "CloseKey"};

// Makes a marker from the clock and stores its nBytes characters, then closes the key.
Calls MarkerWrite(int nBytes) {
    return {"ReadSystemTime", "ConvertFileTime " + std::to_string(kNow),
            "SetKeyValue Rndund 1 " + std::to_string(nBytes), "CloseKey"};
}

Calls WithoutLastError(Calls calls) {
    calls.erase(std::remove(calls.begin(), calls.end(), kLastError), calls.end());
    return calls;
}

std::string Joined(const Calls& calls) {
    std::string strText;
    for (const std::string& strCall : calls)
        strText += strCall + "\n";
    return strText;
}

struct SScenario {
    const char* pszWhat;
    void (*pfnSetUp)(CScriptedMachineFacts&);
    // The read-write derivation's calls; kLastError where only a report asks for it.
    Calls calls;
    std::string strID;
    const char* pszMarker;  // the report's marker state
    const char* pszStep;    // the report's failed step, null for none
    long nStatus;
    bool bVolumeRead;  // the report carries the volume text
    bool bRootRead;    // and the root creation text
};

std::vector<SScenario> ReadWriteScenarios() {
    const Calls kMarkerRead = kOpen + kQuery;
    const Calls kFacts = kVolume + kRootAttributes + kRootTime;
    return {
        {"marker present", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kDirectory + kMarkerRead + kFacts + kMarkerRead, kIDWithHandMarker, "present", nullptr, 0,
         true, true},
        {"no key: created and written", [](CScriptedMachineFacts&) {},
         kDirectory + kOpen + kOpen + kCreate + MarkerWrite(32) + kFacts + kMarkerRead,
         kIDWithMarkerMadeNow, "created", nullptr, 0, true, true},
        {"key without the value", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; },
         kDirectory + kMarkerRead + kOpen + MarkerWrite(32) + kFacts + kMarkerRead,
         kIDWithMarkerMadeNow, "created", nullptr, 0, true, true},
        {"key grants reading only",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bKeyReadOnly = true;
         },
         kDirectory + kOpen + kOpen + kCreate + kFacts + kOpen, "", "missing", "marker_key",
         VERROR_ACCESS_DENIED, true, true},
        // The create reported success, so the key is there for the read, without a value.
        {"create yields no key", [](CScriptedMachineFacts& m) { m.m_bCreateYieldsNullKey = true; },
         kDirectory + kOpen + kOpen + kCreate + kFacts + kMarkerRead, "", "missing", "marker_key",
         0, true, true},
        {"write refused",
         [](CScriptedMachineFacts& m) {
             m.m_bKeyExists = true;
             m.m_nSetStatus = VERROR_ACCESS_DENIED;
         },
         kDirectory + kMarkerRead + kOpen + MarkerWrite(32) + kFacts + kMarkerRead, "", "missing",
         "marker_write", VERROR_ACCESS_DENIED, true, true},
        {"write accepted but lost", [](CScriptedMachineFacts& m) { m.m_bSetIsLost = true; },
         kDirectory + kOpen + kOpen + kCreate + MarkerWrite(32) + kFacts + kMarkerRead, "",
         "missing", "marker_write", 0, true, true},
        {"clock without calendar form",
         [](CScriptedMachineFacts& m) { m.m_unconvertibleTimes.insert(kNow); },
         kDirectory + kOpen + kOpen + kCreate + MarkerWrite(0) + kFacts + kMarkerRead, "",
         "missing", "marker_write", VERROR_INVALID_PARAMETER, true, true},
        {"no Windows directory", [](CScriptedMachineFacts& m) { m.m_strWindowsDirectory = ""; },
         kDirectory + Calls{kLastError}, "", "missing", "windows_directory", 21, false, false},
        {"volume unreadable",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bVolumeFails = true;
         },
         kDirectory + kMarkerRead + kVolume + Calls{kLastError} + kRootAttributes + kRootTime +
             kMarkerRead,
         "", "present", "volume", 21, false, true},
        {"root unreadable",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bCreationTimeFails = true;
         },
         kDirectory + kMarkerRead + kVolume + kRootAttributes + Calls{kLastError} + kMarkerRead, "",
         "present", "root_created", 21, true, false},
        {"root time without calendar form",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_unconvertibleTimes.insert(kRootCreated);
         },
         kDirectory + kMarkerRead + kFacts + kMarkerRead, "", "present", "root_created",
         VERROR_INVALID_PARAMETER, true, false},
    };
}

// The dialog's derivation makes exactly the calls that the steps describe, and the reporting
// one makes the same calls, adding only ReadLastError right after a failed file-system read.
TEST(DriveIDReportTest, DialogAndReportMakeTheDescribedCallsAndTheReportExplainsThem) {
    for (const SScenario& c : ReadWriteScenarios()) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts dialogMachine;
        dialogMachine.m_nCreationTime = kRootCreated;
        dialogMachine.m_nNow = kNow;
        c.pfnSetUp(dialogMachine);
        CDriveID dialog(dialogMachine);
        EXPECT_EQ(c.strID, Text(dialog.GetID()));
        EXPECT_EQ(Joined(WithoutLastError(c.calls)), Joined(dialogMachine.m_calls));

        CScriptedMachineFacts reportMachine;
        reportMachine.m_nCreationTime = kRootCreated;
        reportMachine.m_nNow = kNow;
        c.pfnSetUp(reportMachine);
        CDriveID reporting(reportMachine);
        CDriveIDReport report;
        EXPECT_EQ(c.strID, Text(reporting.GetID(&report)));
        EXPECT_EQ(Joined(c.calls), Joined(reportMachine.m_calls));
        EXPECT_STREQ(c.pszMarker, GetMarkerStateName(report.eMarker));
        EXPECT_STREQ(c.pszStep, GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(c.nStatus, report.nStatus);
        EXPECT_EQ(c.bVolumeRead ? "5A3C00F1NTFS" : "", Text(report.strVolume));
        EXPECT_EQ(c.bRootRead ? kRootCreatedText : "", Text(report.strRootCreation));
        EXPECT_EQ(0u, report.nMarkerLength);

        EXPECT_TRUE(reportMachine.m_openKeys.empty());
        EXPECT_EQ(0, reportMachine.m_nBadCloses);
    }
}

// Read-only mode, whatever the machine: the key is only ever opened for reading, never created,
// and no value is written.
TEST(DriveIDReportTest, ReadOnlyModeNeverCreatesOrWrites) {
    for (const SScenario& c : ReadWriteScenarios()) {
        SCOPED_TRACE(c.pszWhat);
        for (bool bReport : {false, true}) {
            CScriptedMachineFacts machine;
            machine.m_nCreationTime = kRootCreated;
            machine.m_nNow = kNow;
            c.pfnSetUp(machine);
            const bool bKeyExisted = machine.m_bKeyExists;
            CDriveID driveID(machine, kMarkerReadOnly);
            CDriveIDReport report;
            driveID.GetID(bReport ? &report : nullptr);

            for (const std::string& strCall : machine.m_calls) {
                EXPECT_EQ(std::string::npos, strCall.find("Create")) << strCall;
                EXPECT_EQ(std::string::npos, strCall.find("SetKeyValue")) << strCall;
                if (strCall.find("OpenClassesKey") == 0) {
                    EXPECT_EQ(kOpenForReading[0], strCall);
                }
            }
            EXPECT_EQ(bKeyExisted, machine.m_bKeyExists);
            EXPECT_TRUE(machine.m_writes.empty());
            EXPECT_TRUE(machine.m_openKeys.empty());
        }
    }
}

// What read-only mode derives and reports for each state of the marker. Without a usable marker
// the step and status say so unambiguously: no key (marker_key) or no usable value
// (marker_value), both "not found", or the key's own refusal.
TEST(DriveIDReportTest, ReadOnlyModeReadsTheSameMarkerOrSaysWhyItCannot) {
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        std::string strID;
        const char* pszMarker;
        const char* pszStep;
        long nStatus;
        std::uint32_t nMarkerLength;
    } cases[] = {
        {"marker present", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kIDWithHandMarker, "present", nullptr, 0, 0},
        {"key grants reading only",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bKeyReadOnly = true;
         },
         kIDWithHandMarker, "present", nullptr, 0, 0},
        {"no key", [](CScriptedMachineFacts&) {}, "", "missing", "marker_key",
         VERROR_FILE_NOT_FOUND, 0},
        {"key refused",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_nOpenStatus = VERROR_ACCESS_DENIED;
         },
         "", "missing", "marker_key", VERROR_ACCESS_DENIED, 0},
        {"key without the value", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; }, "",
         "missing", "marker_value", VERROR_FILE_NOT_FOUND, 0},
        {"empty value", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, ""); }, "", "missing",
         "marker_value", VERROR_FILE_NOT_FOUND, 0},
        {"REG_DWORD value",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); }, "",
         "missing", "marker_value", VERROR_FILE_NOT_FOUND, 4},
        {"value too long for the buffer",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(300, 'k')); }, "",
         "missing", "marker_value", VERROR_FILE_NOT_FOUND, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.m_nNow = kNow;
        c.pfnSetUp(machine);
        CDriveID driveID(machine, kMarkerReadOnly);
        CDriveIDReport report;

        EXPECT_EQ(c.strID, Text(driveID.GetID(&report)));
        EXPECT_STREQ(c.pszMarker, GetMarkerStateName(report.eMarker));
        EXPECT_STREQ(c.pszStep, GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(c.nStatus, report.nStatus);
        EXPECT_EQ(c.nMarkerLength, report.nMarkerLength);
        // The facts are read and reported all the same.
        EXPECT_EQ(kRootCreatedText, Text(report.strRootCreation));
        EXPECT_EQ("5A3C00F1NTFS", Text(report.strVolume));
        if (c.strID.empty())
            continue;
        // A present marker is read exactly as the dialog reads it (before and after its check).
        EXPECT_EQ(Joined(kDirectory + kOpenForReading + kQuery + kVolume + kRootAttributes +
                         kRootTime + kOpenForReading + kQuery),
                  Joined(machine.m_calls));
    }
}

}  // namespace
