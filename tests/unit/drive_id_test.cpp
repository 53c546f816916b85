#include "identification/drive_id.h"
#include "identification/derivation_outcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
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
    using CDriveID::MakeInstallMarker;
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
        EXPECT_FALSE(m_machine.IsLockHeld());
        EXPECT_EQ(0, m_machine.m_nBadLockCalls);
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

    EXPECT_EQ(kIDWithNewMarker, strFirst);
    EXPECT_EQ(strFirst, strSecond);
    EXPECT_EQ(1, m_machine.m_nCreateCalls);
    ASSERT_EQ(1u, m_machine.m_writes.size());
    EXPECT_EQ("Rndund", m_machine.m_writes[0].strName);
    EXPECT_EQ(VREG_SZ, m_machine.m_writes[0].nType);
    // 32 bytes, no terminator.
    EXPECT_EQ(kNewMarker, m_machine.m_writes[0].strData);
}

TEST_F(DriveIDTest, MarkerIsWrittenIntoAnExistingKeyWithoutCreatingIt) {
    m_machine.m_bKeyExists = true;
    CDriveIDProbe probe(m_machine);

    EXPECT_TRUE(probe.EnsureInstallMarker());
    EXPECT_FALSE(probe.EnsureInstallMarker());
    EXPECT_EQ(0, m_machine.m_nCreateCalls);
    ASSERT_EQ(1u, m_machine.m_writes.size());
    EXPECT_EQ(kNewMarker, Text(probe.ReadInstallMarker()));
}

// A usable marker is any REG_SZ value that starts with a non-NUL byte; it is read up to its first
// NUL and never replaced. A REG_SZ value too long for the read buffer is kept too, but gives no
// ID. Anything else counts as no marker and is replaced by a fresh one.
TEST_F(DriveIDTest, StoredValuesAreKeptOrReplaced) {
    const std::string strFull(260, 'k');
    enum EFate { kUsed, kKeptUnusable, kReplaced };
    const struct {
        const char* pszWhat;
        std::uint32_t nType;
        std::string strData;
        EFate eFate;
        std::string strUsed;
    } cases[] = {
        {"program's marker", VREG_SZ, kHandMarker, kUsed, kHandMarker},
        {"odd length", VREG_SZ, "abcde", kUsed, "abcde"},
        {"one byte", VREG_SZ, "x", kUsed, "x"},
        {"bytes above 127", VREG_SZ, "\xe9t\xe9\xff", kUsed, "\xe9t\xe9\xff"},
        {"with terminator", VREG_SZ, std::string("abc\0", 4), kUsed, "abc"},
        {"NUL inside", VREG_SZ, std::string("abc\0def", 7), kUsed, "abc"},
        {"fills the buffer", VREG_SZ, strFull, kUsed, strFull},
        // 260 characters and their terminator, as reg add stores them.
        {"one byte longer than the buffer", VREG_SZ, strFull + std::string(1, '\0'), kKeptUnusable,
         ""},
        {"much longer than the buffer", VREG_SZ, std::string(4000, 'k'), kKeptUnusable, ""},
        {"empty", VREG_SZ, "", kReplaced, ""},
        {"starts with NUL", VREG_SZ, std::string("\0abc", 4), kReplaced, ""},
        {"REG_DWORD", VREG_DWORD, std::string("\x01\x02\x03\x04", 4), kReplaced, ""},
        {"REG_BINARY", VREG_BINARY, kHandMarker, kReplaced, ""},
        {"REG_BINARY longer than the buffer", VREG_BINARY, std::string(300, 'k'), kReplaced, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.m_nNow = kNow;
        machine.SetMarker(c.nType, c.strData);
        CDriveIDProbe probe(machine);

        EXPECT_EQ(c.strUsed, Text(probe.ReadInstallMarker()));
        const std::string strID = Text(probe.GetID());
        switch (c.eFate) {
            case kReplaced:
                ASSERT_EQ(1u, machine.m_writes.size());
                EXPECT_EQ(VREG_SZ, machine.m_nValueType);
                EXPECT_EQ(kNewMarker, machine.m_strValueData);
                EXPECT_EQ(kIDWithNewMarker, strID);
                break;
            case kUsed:
                EXPECT_TRUE(machine.m_writes.empty());
                EXPECT_EQ(32u, strID.size());
                break;
            case kKeptUnusable:
                EXPECT_TRUE(machine.m_writes.empty());
                EXPECT_EQ(c.strData, machine.m_strValueData);
                EXPECT_EQ("", strID);
                break;
        }
        EXPECT_EQ(0, machine.m_nCreateCalls);
        EXPECT_TRUE(machine.m_openKeys.empty());
        EXPECT_FALSE(machine.IsLockHeld());
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

// A key that fails to open for another reason than being absent may hold a stored marker:
// nothing is created or written over it, even when a create would go through.
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

// A new marker is the random source's 16 bytes as lowercase hexadecimal digits, high digit
// first, leading zeros kept; the clock plays no part in it.
TEST_F(DriveIDTest, NewMarkerIsTheRandomBytesInLowercaseHex) {
    const unsigned char aBytes[16] = {0x00, 0x0f, 0xf0, 0xff, 0x01, 0x10, 0xa5, 0x5a,
                                      0x9b, 0xc3, 0xd7, 0xe2, 0x46, 0x64, 0x80, 0x08};
    m_machine.m_strRandom.assign(reinterpret_cast<const char*>(aBytes), sizeof(aBytes));
    m_machine.m_unconvertibleTimes.insert(kNow);
    CDriveIDProbe probe(m_machine);
    EXPECT_EQ("000ff0ff0110a55a9bc3d7e246648008", Text(probe.MakeInstallMarker()));
    for (const std::string& strCall : m_machine.m_calls)
        EXPECT_EQ(std::string::npos, strCall.find("Time")) << strCall;
}

// A random source that fails writes nothing, not even the key; the next run with a working
// source writes the marker.
TEST_F(DriveIDTest, FailingRandomSourceWritesNothing) {
    m_machine.m_bRandomFails = true;
    CDriveIDReport report;
    CDriveID driveID(m_machine);
    EXPECT_EQ("", Text(driveID.GetID(&report)));
    EXPECT_STREQ("marker_random", GetDriveIDStepName(report.eFailedStep));
    EXPECT_TRUE(m_machine.m_writes.empty());
    EXPECT_EQ(0, m_machine.m_nCreateCalls);
    EXPECT_FALSE(m_machine.m_bKeyExists);

    m_machine.m_bRandomFails = false;
    EXPECT_EQ(kIDWithNewMarker, GetID());
}

// Clones of one image share the root directory's time and the volume: their markers, made from
// the random source, still differ, and so do their IDs, even when made at the same moment.
TEST_F(DriveIDTest, ClonesStartingTogetherGetIDsOfTheirOwn) {
    CScriptedMachineFacts clone = m_machine;
    clone.m_strRandom[0] = static_cast<char>(clone.m_strRandom[0] ^ 0x01);
    CDriveID cloneID(clone);
    const std::string strClone = Text(cloneID.GetID());
    EXPECT_EQ(32u, strClone.size());
    EXPECT_NE(GetID(), strClone);
    EXPECT_EQ(m_machine.m_nNow, clone.m_nNow);
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

// Only a report asks for the last error, and at its end whether the account has a key of its
// own; the dialog's derivation does neither.
const char kLastError[] = "ReadLastError";
const char kUserKey[] = "HasUserClassesKey lrgDocID";
// A report also reads the security of the key its last read of the marker opened.
const char kTrust[] = "ReadKeyTrust";
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
const Calls kLock = {"AcquireMarkerLock 10000"};
const Calls kUnlock = {"ReleaseMarkerLock"};
const Calls kRandom = {"ReadRandomBytes 16"};
// Stores a 32-digit marker, then closes the key.
const Calls kSet = {"SetKeyValue Rndund 1 32", "CloseKey"};

Calls WithoutLastError(Calls calls) {
    calls.erase(std::remove(calls.begin(), calls.end(), kLastError), calls.end());
    calls.erase(std::remove(calls.begin(), calls.end(), kUserKey), calls.end());
    calls.erase(std::remove(calls.begin(), calls.end(), kTrust), calls.end());
    return calls;
}

// A report's calls: the question about the account's own key comes last, before the lock a
// write took is released.
Calls WithUserKey(Calls calls) {
    auto itEnd = calls.end();
    if (!calls.empty() && calls.back() == kUnlock[0])
        --itEnd;
    calls.insert(itEnd, kUserKey);
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
    const Calls kLastRead = kOpen + Calls{kTrust} + kQuery;
    const Calls kFacts = kVolume + kRootAttributes + kRootTime;
    return {
        // A stored marker is read once, before the facts.
        {"marker present", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kDirectory + kLastRead + kFacts, kIDWithHandMarker, "present", nullptr, 0, true, true},
        // The marker is read again under the lock, and the lock is held until it has been read
        // back.
        {"no key: created and written", [](CScriptedMachineFacts&) {},
         kDirectory + kOpen + kLock + kOpen + kRandom + kOpen + kCreate + kSet + kFacts +
             kLastRead + kUnlock,
         kIDWithNewMarker, "created", nullptr, 0, true, true},
        {"key without the value", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; },
         kDirectory + kLastRead + kLock + kMarkerRead + kRandom + kOpen + kSet + kFacts +
             kLastRead + kUnlock,
         kIDWithNewMarker, "created", nullptr, 0, true, true},
        // A key there but refused to this account: "no rights" at once, without the lock, which
        // another writer may hold for 10 s, and without a write that would be refused as well.
        {"key grants reading only",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bKeyReadOnly = true;
         },
         kDirectory + kOpen + kFacts + kOpen, "", "missing", "marker_key", VERROR_ACCESS_DENIED,
         true, true},
        {"key without the value, refused",
         [](CScriptedMachineFacts& m) {
             m.m_bKeyExists = true;
             m.m_bKeyReadOnly = true;
         },
         kDirectory + kOpen + kFacts + kOpen, "", "missing", "marker_key", VERROR_ACCESS_DENIED,
         true, true},
        // No marker, and an account without administrator rights: the lock itself refuses it,
        // and nothing is written.
        {"lock refused", [](CScriptedMachineFacts& m) { m.m_nLockStatus = VERROR_ACCESS_DENIED; },
         kDirectory + kOpen + kLock + kFacts + kOpen, "", "missing", "marker_lock",
         VERROR_ACCESS_DENIED, true, true},
        // The create reported success, so the key is there for the read, without a value.
        {"create yields no key", [](CScriptedMachineFacts& m) { m.m_bCreateYieldsNullKey = true; },
         kDirectory + kOpen + kLock + kOpen + kRandom + kOpen + kCreate + kFacts + kLastRead +
             kUnlock,
         "", "missing", "marker_key", 0, true, true},
        {"write refused",
         [](CScriptedMachineFacts& m) {
             m.m_bKeyExists = true;
             m.m_nSetStatus = VERROR_ACCESS_DENIED;
         },
         kDirectory + kLastRead + kLock + kMarkerRead + kRandom + kOpen + kSet + kFacts +
             kLastRead + kUnlock,
         "", "missing", "marker_write", VERROR_ACCESS_DENIED, true, true},
        {"write accepted but lost", [](CScriptedMachineFacts& m) { m.m_bSetIsLost = true; },
         kDirectory + kOpen + kLock + kOpen + kRandom + kOpen + kCreate + kSet + kFacts +
             kLastRead + kUnlock,
         "", "missing", "marker_write", 0, true, true},
        {"random source fails", [](CScriptedMachineFacts& m) { m.m_bRandomFails = true; },
         kDirectory + kOpen + kLock + kOpen + kRandom + kFacts + kOpen + kUnlock, "", "missing",
         "marker_random", 0, true, true},
        // Another writer kept the lock for the whole wait: nothing is written, nothing released.
        {"lock not had", [](CScriptedMachineFacts& m) { m.m_nLockStatus = VERROR_WAIT_TIMEOUT; },
         kDirectory + kOpen + kLock + kFacts + kOpen, "", "missing", "marker_lock",
         VERROR_WAIT_TIMEOUT, true, true},
        // Its last holder ended while holding it: the lock is taken all the same.
        {"lock abandoned", [](CScriptedMachineFacts& m) { m.m_bLockAbandoned = true; },
         kDirectory + kOpen + kLock + kOpen + kRandom + kOpen + kCreate + kSet + kFacts +
             kLastRead + kUnlock,
         kIDWithNewMarker, "created", nullptr, 0, true, true},
        // Someone stored a value too long to read: it stays, and there is no ID.
        {"value too long for the buffer",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); },
         kDirectory + kLastRead + kFacts + kLastRead, "", "unusable", "marker_value",
         VERROR_MORE_DATA, true, true},
        {"no Windows directory", [](CScriptedMachineFacts& m) { m.m_strWindowsDirectory = ""; },
         kDirectory + Calls{kLastError}, "", "missing", "windows_directory", 21, false, false},
        {"volume unreadable",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bVolumeFails = true;
         },
         kDirectory + kLastRead + kVolume + Calls{kLastError} + kRootAttributes + kRootTime, "",
         "present", "volume", 21, false, true},
        {"root unreadable",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bCreationTimeFails = true;
         },
         kDirectory + kLastRead + kVolume + kRootAttributes + Calls{kLastError}, "", "present",
         "root_created", 21, true, false},
        {"root time without calendar form",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_unconvertibleTimes.insert(kRootCreated);
         },
         kDirectory + kLastRead + kFacts, "", "present", "root_created", VERROR_INVALID_PARAMETER,
         true, false},
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
        EXPECT_EQ(Joined(WithUserKey(c.calls)), Joined(reportMachine.m_calls));
        EXPECT_FALSE(report.bUserKeyIgnored);
        EXPECT_STREQ(c.pszMarker, GetMarkerStateName(report.eMarker));
        EXPECT_STREQ(c.pszStep, GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(c.nStatus, report.nStatus);
        EXPECT_EQ(c.bVolumeRead ? "5A3C00F1NTFS" : "", Text(report.strVolume));
        EXPECT_EQ(c.bRootRead ? kRootCreatedText : "", Text(report.strRootCreation));
        EXPECT_EQ(c.nStatus == VERROR_MORE_DATA ? 261u : 0u, report.nMarkerLength);

        EXPECT_TRUE(reportMachine.m_openKeys.empty());
        EXPECT_EQ(0, reportMachine.m_nBadCloses);
        EXPECT_FALSE(reportMachine.IsLockHeld());
        EXPECT_EQ(0, reportMachine.m_nBadLockCalls);
    }
}

// A key of the account's own (HKEY_CURRENT_USER\Software\Classes\lrgDocID, which
// HKEY_CLASSES_ROOT would show in place of the machine's) changes nothing: the marker and the ID
// are the machine's in either mode, and a report says the key is there. The dialog does not ask.
TEST(DriveIDReportTest, KeyOfTheAccountsOwnIsIgnoredAndReported) {
    for (EMarkerAccess eAccess : {kMarkerReadWrite, kMarkerReadOnly}) {
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.SetMarker(VREG_SZ, kHandMarker);
        machine.m_bUserKeyExists = true;
        CDriveIDReport report;
        EXPECT_EQ(kIDWithHandMarker, Text(CDriveID(machine, eAccess).GetID(&report)));
        EXPECT_TRUE(report.bUserKeyIgnored);
        EXPECT_EQ(kUserKey, machine.m_calls.back());

        machine.m_calls.clear();
        EXPECT_EQ(kIDWithHandMarker, Text(CDriveID(machine, eAccess).GetID()));
        EXPECT_EQ(machine.m_calls.end(),
                  std::find(machine.m_calls.begin(), machine.m_calls.end(), kUserKey));
        EXPECT_TRUE(machine.m_writes.empty());
    }
}

// Read-only mode, whatever the machine: the key is only ever opened for reading, never created,
// no value is written, and no lock is taken.
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
                EXPECT_EQ(std::string::npos, strCall.find("MarkerLock")) << strCall;
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
         "unusable", "marker_value", VERROR_MORE_DATA, 300},
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
        // A present marker is read once, as the dialog reads it, but with read access.
        EXPECT_EQ(Joined(kDirectory + kOpenForReading + Calls{kTrust} + kQuery + kVolume +
                         kRootAttributes + kRootTime + Calls{kUserKey}),
                  Joined(machine.m_calls));
    }
}

// A standard user (the key opens for reading only, and the lock refuses the account) in each
// mode, whatever the marker's state: read-first reads every stored marker with read access and
// gets the same ID as an administrator; without a usable marker it is refused as having no right
// to make one, where read-only says that there is none yet. The dialog's full-access open is
// refused as ever. Nothing is ever written.
TEST(DriveIDReadFirstTest, StandardUserGetsTheIDWhereverAMarkerIsStored) {
    const std::string strLong(300, 'k');
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        EMarkerAccess eAccess;
        std::string strID;
        EDerivationOutcome eOutcome;
        const char* pszStep;
        long nStatus;
    } cases[] = {
        {"present, read-first", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kMarkerReadFirst, kIDWithHandMarker, kOutcomeID, nullptr, 0},
        {"present, read-only", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kMarkerReadOnly, kIDWithHandMarker, kOutcomeID, nullptr, 0},
        {"present, dialog", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kMarkerReadWrite, "", kOutcomeNoRights, "marker_key", VERROR_ACCESS_DENIED},
        {"no key, read-first", [](CScriptedMachineFacts&) {}, kMarkerReadFirst, "",
         kOutcomeNoRights, "marker_lock", VERROR_ACCESS_DENIED},
        {"no key, read-only", [](CScriptedMachineFacts&) {}, kMarkerReadOnly, "", kOutcomeNoMarker,
         "marker_key", VERROR_FILE_NOT_FOUND},
        {"no key, dialog", [](CScriptedMachineFacts&) {}, kMarkerReadWrite, "", kOutcomeNoRights,
         "marker_lock", VERROR_ACCESS_DENIED},
        {"no value, read-first", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; },
         kMarkerReadFirst, "", kOutcomeNoRights, "marker_lock", VERROR_ACCESS_DENIED},
        {"no value, read-only", [](CScriptedMachineFacts& m) { m.m_bKeyExists = true; },
         kMarkerReadOnly, "", kOutcomeNoMarker, "marker_value", VERROR_FILE_NOT_FOUND},
        {"REG_DWORD value, read-first",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); },
         kMarkerReadFirst, "", kOutcomeNoRights, "marker_lock", VERROR_ACCESS_DENIED},
        {"REG_DWORD value, read-only",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); },
         kMarkerReadOnly, "", kOutcomeNoMarker, "marker_value", VERROR_FILE_NOT_FOUND},
        // Stored on purpose: kept, and no ID, in every mode that can read it.
        {"value too long, read-first",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(300, 'k')); },
         kMarkerReadFirst, "", kOutcomeFailure, "marker_value", VERROR_MORE_DATA},
        {"value too long, read-only",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(300, 'k')); },
         kMarkerReadOnly, "", kOutcomeFailure, "marker_value", VERROR_MORE_DATA},
        {"value too long, dialog",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(300, 'k')); },
         kMarkerReadWrite, "", kOutcomeNoRights, "marker_key", VERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        c.pfnSetUp(machine);
        machine.m_bKeyReadOnly = true;
        machine.m_nLockStatus = VERROR_ACCESS_DENIED;
        const bool bKeyExisted = machine.m_bKeyExists;
        const std::string strStored = machine.m_strValueData;
        CDriveIDReport report;
        const std::string strID = Text(CDriveID(machine, c.eAccess).GetID(&report));

        EXPECT_EQ(c.strID, strID);
        EXPECT_EQ(c.eOutcome, GetDerivationOutcome(!strID.empty(), report, c.eAccess));
        EXPECT_STREQ(c.pszStep, GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(c.nStatus, report.nStatus);
        EXPECT_TRUE(machine.m_writes.empty());
        EXPECT_EQ(bKeyExisted, machine.m_bKeyExists);
        EXPECT_EQ(strStored, machine.m_strValueData);
        EXPECT_TRUE(machine.m_openKeys.empty());
        // Read-first and read-only ask for no more than reading.
        if (c.eAccess != kMarkerReadWrite) {
            for (const std::string& strCall : machine.m_calls) {
                if (strCall.find("OpenClassesKey") == 0) {
                    EXPECT_EQ(kOpenForReading[0], strCall);
                }
            }
        }
    }
}

// An administrator in read-first mode: a stored marker is read with read access only and no lock
// is taken; a missing one is written under the lock, as the dialog writes it, with full access
// asked for only then; the ID is the dialog's in both cases.
TEST(DriveIDReadFirstTest, AdministratorReadsWithReadAccessAndWritesOnlyAMissingMarker) {
    const Calls kRead = kOpenForReading + kQuery;
    const Calls kFacts = kVolume + kRootAttributes + kRootTime;
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        Calls calls;
        std::string strID;
    } cases[] = {
        {"present", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kDirectory + kRead + kFacts, kIDWithHandMarker},
        {"no key", [](CScriptedMachineFacts&) {},
         kDirectory + kOpenForReading + kLock + kOpenForReading + kRandom + kOpen + kCreate + kSet +
             kFacts + kRead + kUnlock,
         kIDWithNewMarker},
        {"REG_DWORD value",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_DWORD, std::string("\1\2\3\4", 4)); },
         kDirectory + kRead + kLock + kRead + kRandom + kOpen + kSet + kFacts + kRead + kUnlock,
         kIDWithNewMarker},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        c.pfnSetUp(machine);
        EXPECT_EQ(c.strID, Text(CDriveID(machine, kMarkerReadFirst).GetID()));
        EXPECT_EQ(Joined(c.calls), Joined(machine.m_calls));

        CScriptedMachineFacts dialog;
        dialog.m_nCreationTime = kRootCreated;
        c.pfnSetUp(dialog);
        EXPECT_EQ(c.strID, Text(CDriveID(dialog).GetID()));
        EXPECT_TRUE(machine.m_openKeys.empty());
        EXPECT_FALSE(machine.IsLockHeld());
    }
}

// Two first runs at once, the second started before each call of the first in turn, and so at
// the worst point too (the first has found no marker and not yet written one). The second waits
// for the lock where the first holds it. Whatever the point, one marker is written and both runs
// give its ID.
TEST(DriveIDLockTest, TwoFirstRunsInterleavedAnywhereWriteOneMarkerAndGiveOneID) {
    CScriptedMachineFacts alone;
    alone.m_nCreationTime = kRootCreated;
    CDriveID(alone).GetID();
    const std::size_t nCalls = alone.m_calls.size();
    ASSERT_GT(nCalls, 10u);

    for (std::size_t nPoint = 0; nPoint < nCalls; ++nPoint) {
        SCOPED_TRACE("second run started before call " + std::to_string(nPoint) + ": " +
                     alone.m_calls[nPoint]);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        const std::thread::id first = std::this_thread::get_id();
        std::size_t nFirstCalls = 0;
        std::string strSecond;
        bool bSecondDone = false;
        std::thread second;
        machine.m_beforeCall = [&](const std::string&) {
            if (std::this_thread::get_id() != first || nFirstCalls++ != nPoint)
                return;
            second = std::thread([&] {
                CDriveID driveID(machine);
                strSecond = Text(driveID.GetID());
                machine.SetDone(&bSecondDone);
            });
            // The second run goes as far as it can: to its end, or to the lock the first holds.
            EXPECT_TRUE(machine.WaitUntilLockWaitedOrDone(&bSecondDone));
        };
        CDriveID driveID(machine);
        const std::string strFirst = Text(driveID.GetID());
        ASSERT_TRUE(second.joinable());
        second.join();
        machine.m_beforeCall = nullptr;

        EXPECT_EQ(1u, machine.m_writes.size());
        EXPECT_EQ(32u, strFirst.size());
        EXPECT_EQ(strFirst, strSecond);
        EXPECT_EQ(kIDWithNewMarker, strFirst);
        EXPECT_FALSE(machine.IsLockHeld());
        EXPECT_EQ(0, machine.m_nBadLockCalls);
        EXPECT_TRUE(machine.m_openKeys.empty());
    }
}

// --new-marker's operation: it writes over the stored marker only while the computer's ID is
// the one given (or, given none, while no usable marker is stored), all under the lock.
TEST(DriveIDRenewTest, RenewsOnlyTheGivenIDOrAMissingMarker) {
    const char kHandIDUpper[] = "1D7F953DB6E0A9AB13DF78AA1DB9F3B8";
    const char kOtherID[] = "1d7f953db6e0a9ab13df78aa1db9f3b9";
    const std::string strLong(261, 'k');
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        const char* pszCurrentID;  // null: none
        CDriveID::ERenewal eRenewal;
        std::string strBefore;
        std::string strAfter;
        const char* pszStep;  // the report's failed step, null for none
        long nStatus;
        bool bLostWrite;  // the registry accepted a write but kept the marker it had
    } cases[] = {
        {"the ID given, either case",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); }, kHandIDUpper,
         CDriveID::kRenewed, kIDWithHandMarker, kIDWithNewMarker, nullptr, 0, false},
        {"another ID", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); },
         kOtherID, CDriveID::kRenewNotCurrent, kIDWithHandMarker, "", nullptr, 0, false},
        {"none, with a marker stored",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); }, nullptr,
         CDriveID::kRenewNotCurrent, kIDWithHandMarker, "", nullptr, 0, false},
        {"none, without a key", [](CScriptedMachineFacts&) {}, nullptr, CDriveID::kRenewed, "",
         kIDWithNewMarker, nullptr, 0, false},
        {"none, over a value too long to use",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); }, nullptr,
         CDriveID::kRenewed, "", kIDWithNewMarker, nullptr, 0, false},
        {"an ID, without a marker", [](CScriptedMachineFacts&) {}, kIDWithHandMarker,
         CDriveID::kRenewNotCurrent, "", "", "marker_key", VERROR_FILE_NOT_FOUND, false},
        {"an ID, over a value too long to use",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); },
         kIDWithHandMarker, CDriveID::kRenewNotCurrent, "", "", "marker_value", VERROR_MORE_DATA,
         false},
        {"key grants reading only",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bKeyReadOnly = true;
         },
         kIDWithHandMarker, CDriveID::kRenewFailed, "", "", "marker_key", VERROR_ACCESS_DENIED,
         false},
        {"volume unreadable",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bVolumeFails = true;
         },
         kIDWithHandMarker, CDriveID::kRenewFailed, "", "", "volume", 21, false},
        {"lock not had",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_nLockStatus = VERROR_WAIT_TIMEOUT;
         },
         kIDWithHandMarker, CDriveID::kRenewFailed, "", "", "marker_lock", VERROR_WAIT_TIMEOUT,
         false},
        {"random source fails",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bRandomFails = true;
         },
         kIDWithHandMarker, CDriveID::kRenewFailed, kIDWithHandMarker, "", "marker_random", 0,
         false},
        // The old marker is gone once the registry took the new one: that is no failure to
        // renew, though the ID it gives is not known.
        {"written, then the key cannot be read back",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_beforeCall = [&m](const std::string& strCall) {
                 if (strCall.rfind("SetKeyValue", 0) == 0)
                     m.m_nOpenStatus = 1450;  // ERROR_NO_SYSTEM_RESOURCES
             };
         },
         kIDWithHandMarker, CDriveID::kRenewedUnread, kIDWithHandMarker, "", "marker_key", 1450,
         false},
        {"none, write accepted but nothing reads back",
         [](CScriptedMachineFacts& m) { m.m_bSetIsLost = true; }, nullptr, CDriveID::kRenewFailed,
         "", "", "marker_write", 0, true},
        {"none, write accepted but the value too long to use reads back",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, std::string(261, 'k'));
             m.m_bSetIsLost = true;
         },
         nullptr, CDriveID::kRenewFailed, "", "", "marker_value", VERROR_MORE_DATA, true},
        {"write accepted but the old marker reads back",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bSetIsLost = true;
         },
         kIDWithHandMarker, CDriveID::kRenewFailed, kIDWithHandMarker, "", "marker_write", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        c.pfnSetUp(machine);
        const std::string strStored = machine.m_strValueData;
        CDriveID driveID(machine);
        CVeltraneString strBefore("junk");
        CVeltraneString strAfter("junk");
        CDriveIDReport report;

        EXPECT_EQ(c.eRenewal, driveID.RenewMarker(c.pszCurrentID, strBefore, strAfter, &report));
        EXPECT_EQ(c.strBefore, Text(strBefore));
        EXPECT_EQ(c.strAfter, Text(strAfter));
        EXPECT_STREQ(c.pszStep, GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(c.nStatus, report.nStatus);
        if (c.eRenewal == CDriveID::kRenewed || c.eRenewal == CDriveID::kRenewedUnread) {
            ASSERT_EQ(1u, machine.m_writes.size());
            EXPECT_EQ(kNewMarker, machine.m_strValueData);
            EXPECT_STREQ(c.eRenewal == CDriveID::kRenewed ? "created" : "missing",
                         GetMarkerStateName(report.eMarker));
        } else {
            EXPECT_EQ(c.bLostWrite ? 1u : 0u, machine.m_writes.size());
            EXPECT_EQ(strStored, machine.m_strValueData);
            // The report tells what is stored, untouched.
            if (!c.strBefore.empty()) {
                EXPECT_STREQ("present", GetMarkerStateName(report.eMarker));
            }
        }
        // Everything happens under the lock, taken once; where it was not had, nothing but the
        // report's question about the account's own key.
        ASSERT_FALSE(machine.m_calls.empty());
        EXPECT_EQ(kLock[0], machine.m_calls.front());
        if (c.nStatus == VERROR_WAIT_TIMEOUT) {
            EXPECT_EQ(Joined(kLock + Calls{kUserKey}), Joined(machine.m_calls));
        } else {
            EXPECT_EQ(kUnlock[0], machine.m_calls.back());
            EXPECT_EQ(1, machine.m_nLockTakes);
        }
        EXPECT_FALSE(machine.IsLockHeld());
        EXPECT_EQ(0, machine.m_nBadLockCalls);
        EXPECT_TRUE(machine.m_openKeys.empty());
    }
}

// The key's owner and DACL are read along with the marker in every mode that reports, and a key
// that other accounts may change is reported, never silently trusted; its marker still gives the
// ID it always gave. The dialog, which reports nothing, does not ask.
TEST(DriveIDKeyTrustTest, LooseKeyIsReportedAndStillGivesItsID) {
    const struct {
        EKeyTrust eTrust;
        const char* pszName;
    } trusts[] = {{kKeyTrusted, "trusted"},
                  {kKeyLooseDacl, "loose"},
                  {kKeyForeignOwner, "loose"},
                  {kKeyTrustUnknown, "unknown"}};
    for (const auto& t : trusts) {
        for (EMarkerAccess eAccess : {kMarkerReadWrite, kMarkerReadFirst, kMarkerReadOnly}) {
            SCOPED_TRACE(std::string(t.pszName) + " " + std::to_string(eAccess));
            CScriptedMachineFacts machine;
            machine.m_nCreationTime = kRootCreated;
            machine.SetMarker(VREG_SZ, kHandMarker);
            machine.m_eKeyTrust = t.eTrust;
            CDriveIDReport report;
            EXPECT_EQ(kIDWithHandMarker, Text(CDriveID(machine, eAccess).GetID(&report)));
            EXPECT_TRUE(report.bMarkerKeyOpened);
            EXPECT_EQ(t.eTrust, report.eMarkerKey);
            EXPECT_STREQ(t.pszName, GetMarkerKeyTrustName(report));
            EXPECT_EQ(kKeyRepairNone, report.eKeyRepair);
            EXPECT_EQ(1, std::count(machine.m_calls.begin(), machine.m_calls.end(), kTrust));
            EXPECT_TRUE(machine.m_writes.empty());

            machine.m_calls.clear();
            EXPECT_EQ(kIDWithHandMarker, Text(CDriveID(machine, eAccess).GetID()));
            EXPECT_EQ(0, std::count(machine.m_calls.begin(), machine.m_calls.end(), kTrust));
        }
    }
    // No key opened: nothing to judge.
    CScriptedMachineFacts empty;
    CDriveIDReport report;
    EXPECT_EQ("", Text(CDriveID(empty, kMarkerReadOnly).GetID(&report)));
    EXPECT_FALSE(report.bMarkerKeyOpened);
    EXPECT_EQ(nullptr, GetMarkerKeyTrustName(report));
}

// --new-marker over a key that other accounts may change deletes the key and makes it anew with
// its own security, under the lock and before the new marker goes in, so that a handle opened
// while the key was loose writes nothing afterwards; a trusted key, a new one and a renewal that
// is not made are left alone. A reset that fails writes no marker, with or without a report.
TEST(DriveIDRenewTest, RenewalMakesALooseKeyAnew) {
    const char kDelete[] = "DeleteClassesKey lrgDocID";
    const struct {
        const char* pszWhat;
        bool bStored;
        EKeyTrust eTrust;
        long nDeleteStatus;
        long nCreateStatus;
        EKeyTrust eNewKeyTrust;  // what the system gave the key made anew
        const char* pszCurrentID;
        CDriveID::ERenewal eRenewal;
        EKeyRepair eRepair;
        long nRepairStatus;
        EKeyTrust eTrustAfter;
        bool bMarkerAfter;  // a marker is stored afterwards
    } cases[] = {
        {"trusted", true, kKeyTrusted, 0, 0, kKeyTrusted, kIDWithHandMarker, CDriveID::kRenewed,
         kKeyRepairNone, 0, kKeyTrusted, true},
        {"loose DACL", true, kKeyLooseDacl, 0, 0, kKeyTrusted, kIDWithHandMarker,
         CDriveID::kRenewed, kKeyRepaired, 0, kKeyTrusted, true},
        {"foreign owner", true, kKeyForeignOwner, 0, 0, kKeyTrusted, kIDWithHandMarker,
         CDriveID::kRenewed, kKeyRepaired, 0, kKeyTrusted, true},
        {"delete refused", true, kKeyLooseDacl, VERROR_ACCESS_DENIED, 0, kKeyTrusted,
         kIDWithHandMarker, CDriveID::kRenewFailed, kKeyRepairFailed, VERROR_ACCESS_DENIED,
         kKeyLooseDacl, true},
        {"deleted, not made anew", true, kKeyForeignOwner, 0, VERROR_NOT_ENOUGH_MEMORY, kKeyTrusted,
         kIDWithHandMarker, CDriveID::kRenewFailed, kKeyRepairFailed, VERROR_NOT_ENOUGH_MEMORY,
         kKeyForeignOwner, false},
        {"made anew, but loose", true, kKeyLooseDacl, 0, 0, kKeyLooseDacl, kIDWithHandMarker,
         CDriveID::kRenewFailed, kKeyRepairFailed, VERROR_ACCESS_DENIED, kKeyLooseDacl, false},
        {"not this computer's ID", true, kKeyLooseDacl, 0, 0, kKeyTrusted,
         "1d7f953db6e0a9ab13df78aa1db9f3b9", CDriveID::kRenewNotCurrent, kKeyRepairNone, 0,
         kKeyLooseDacl, true},
        {"no key: made with its own security", false, kKeyTrusted, 0, 0, kKeyTrusted, nullptr,
         CDriveID::kRenewed, kKeyRepairNone, 0, kKeyTrusted, true},
    };
    for (const bool bReport : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.pszWhat) + (bReport ? ", with a report" : ""));
            CScriptedMachineFacts machine;
            machine.m_nCreationTime = kRootCreated;
            if (c.bStored)
                machine.SetMarker(VREG_SZ, kHandMarker);
            machine.m_eKeyTrust = c.eTrust;
            machine.m_nDeleteStatus = c.nDeleteStatus;
            machine.m_eNewKeyTrust = c.eNewKeyTrust;
            // Another account's handle, opened for writing while the key was as it is.
            VHKEY hStale = nullptr;
            if (c.bStored) {
                ASSERT_EQ(VERROR_SUCCESS,
                          machine.OpenClassesKey("lrgDocID", VKEY_ALL_ACCESS, &hStale));
            }
            machine.m_calls.clear();
            // Creating fails only for the key made anew.
            machine.m_beforeCall = [&machine, &c](const std::string& strCall) {
                if (strCall.compare(0, 16, "DeleteClassesKey") == 0)
                    machine.m_nCreateStatus = c.nCreateStatus;
            };
            CDriveID driveID(machine);
            CVeltraneString strBefore;
            CVeltraneString strAfter;
            CDriveIDReport report;
            EXPECT_EQ(c.eRenewal, driveID.RenewMarker(c.pszCurrentID, strBefore, strAfter,
                                                      bReport ? &report : nullptr));
            EXPECT_EQ(c.bMarkerAfter, machine.m_bValueExists);
            EXPECT_FALSE(machine.IsLockHeld());
            const auto itDelete =
                std::find(machine.m_calls.begin(), machine.m_calls.end(), kDelete);
            EXPECT_EQ(c.eRepair != kKeyRepairNone, itDelete != machine.m_calls.end());
            if (bReport) {
                EXPECT_EQ(c.eRepair, report.eKeyRepair);
                EXPECT_EQ(c.nRepairStatus, report.nKeyRepairStatus);
                EXPECT_EQ(c.eTrustAfter, report.eMarkerKey);
                // Only a key that is gone is reported gone (the console then says the old
                // marker went with it).
                EXPECT_EQ(c.eRenewal == CDriveID::kRenewFailed && c.nDeleteStatus == 0 &&
                              c.eRepair == kKeyRepairFailed,
                          report.bKeyDeleted);
                if (c.eRenewal == CDriveID::kRenewFailed) {
                    EXPECT_STREQ("marker_key", GetDriveIDStepName(report.eFailedStep));
                    EXPECT_EQ(c.nRepairStatus, report.nStatus);
                    EXPECT_EQ(c.bMarkerAfter ? kMarkerPresent : kMarkerMissing, report.eMarker);
                }
            }
            if (c.eRenewal != CDriveID::kRenewed) {
                EXPECT_TRUE(machine.m_writes.empty());
            } else {
                EXPECT_EQ(kIDWithNewMarker, Text(strAfter));
            }
            if (hStale != nullptr) {
                // Deleted under it: the old handle can write nothing any more.
                const unsigned char aChosen[] = "chosen";
                const long nStale = machine.SetKeyValue(hStale, "Rndund", VREG_SZ, aChosen, 6);
                const bool bDeleted = c.eRepair != kKeyRepairNone && c.nDeleteStatus == 0;
                EXPECT_EQ(bDeleted ? CScriptedMachineFacts::kKeyDeleted : VERROR_SUCCESS, nStale);
                machine.CloseKey(hStale);
                hStale = nullptr;
            }
            EXPECT_TRUE(machine.m_openKeys.empty());
            if (c.eRepair != kKeyRepaired)
                continue;
            // Under the lock, deleted before the key for the write is opened (and, as it is
            // gone, made anew), before the write.
            EXPECT_EQ(kOpen[0], *(itDelete + 1));
            EXPECT_EQ(kCreate[0], *(itDelete + 2));
            EXPECT_EQ(kTrust, *(itDelete + 3));
            EXPECT_EQ(kSet[0], *(itDelete + 4));
            // The next derivation knows nothing of the renewal's repair.
            CDriveIDReport next;
            driveID.GetID(&next);
            EXPECT_EQ(kKeyRepairNone, next.eKeyRepair);
            EXPECT_EQ(kKeyTrusted, next.eMarkerKey);
        }
    }
}

// A start-up task that renews with the image's ID on every start: the first start renews, every
// later one finds another ID and changes nothing; the computer keeps its new ID.
TEST(DriveIDRenewTest, StartUpTaskRenewsEachCloneOnce) {
    CScriptedMachineFacts machine;
    machine.m_nCreationTime = kRootCreated;
    machine.SetMarker(VREG_SZ, kHandMarker);
    for (int nStart = 0; nStart < 3; ++nStart) {
        SCOPED_TRACE(nStart);
        CDriveID driveID(machine);
        CVeltraneString strBefore;
        CVeltraneString strAfter;
        EXPECT_EQ(nStart == 0 ? CDriveID::kRenewed : CDriveID::kRenewNotCurrent,
                  driveID.RenewMarker(kIDWithHandMarker, strBefore, strAfter, nullptr));
        EXPECT_EQ(nStart == 0 ? kIDWithHandMarker : kIDWithNewMarker, Text(strBefore));
        EXPECT_EQ(1u, machine.m_writes.size());
        EXPECT_EQ(kIDWithNewMarker, Text(CDriveID(machine).GetID()));
    }
}

}  // namespace
