// The ID derivation on the platform's real services: the registry and the random source (the
// marker lock has tests of its own). Under Wine the tests first remove the marker key, so that the
// run covers writing the marker as well as reading it; on Windows itself they leave the machine's
// marker alone, since removing it would change the computer's ID. The native build has no machine
// facts and must say so with an empty ID.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "identification/drive_id.h"
#include "platform/win32/marker_lock_win.h"

namespace {

bool IsRunningUnderWine() {
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

bool IsLowercaseHex(const std::string& strText) {
    return strText.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string DeriveID() {
    CDriveID driveID;
    CVeltraneString strID = driveID.GetID();
    return strID.GetText();
}

std::string DeriveID(EMarkerAccess eAccess, CDriveIDReport* pReport) {
    CDriveID driveID(GetDefaultMachineFacts(), eAccess);
    CVeltraneString strID = driveID.GetID(pReport);
    return strID.GetText();
}

std::string Text(CVeltraneString str) {
    return str.GetText();
}

void RemoveMarkerKey() {
    LONG nStatus = RegDeleteKeyA(HKEY_CLASSES_ROOT, "lrgDocID");
    ASSERT_TRUE(nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) << nStatus;
}

bool MarkerKeyExists() {
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    hKey = NULL;
    return true;
}

TEST(DriveIDWinTest, DerivesTheSameIDTwiceAndStoresThe32ByteMarker) {
    if (IsRunningUnderWine()) {
        RemoveMarkerKey();
    }

    const std::string strFirst = DeriveID();
    const std::string strSecond = DeriveID();
    EXPECT_EQ(32u, strFirst.size());
    EXPECT_TRUE(IsLowercaseHex(strFirst)) << strFirst;
    EXPECT_EQ(strFirst, strSecond);

    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey));
    char szMarker[64] = {};
    DWORD nType = 0;
    DWORD nSize = sizeof(szMarker);
    LONG nStatus =
        RegQueryValueExA(hKey, "Rndund", NULL, &nType, reinterpret_cast<BYTE*>(szMarker), &nSize);
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), nType);
    // The marker is written as 32 bytes without a terminator. Wine's registry appends one to
    // every REG_SZ value that lacks it, and reports it; Windows stores the bytes as given.
    const DWORD nStoredSize = IsRunningUnderWine() ? 33 : 32;
    ASSERT_EQ(nStoredSize, nSize);
    EXPECT_EQ(32u, strlen(szMarker));
    const std::string strMarker(szMarker, 32);
    EXPECT_TRUE(IsLowercaseHex(strMarker)) << strMarker;
}

// Read-only mode reads the marker through KEY_READ and gives the ID that the writing mode gives;
// without a marker it says so and leaves the registry as it was. The report tells which.
TEST(DriveIDWinTest, ReadOnlyModeGivesTheSameIDOnceTheMarkerExists) {
    CDriveIDReport report;
    if (IsRunningUnderWine()) {
        RemoveMarkerKey();
        EXPECT_EQ("", DeriveID(kMarkerReadOnly, &report));
        EXPECT_STREQ("marker_key", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.nStatus);
        EXPECT_EQ(kMarkerMissing, report.eMarker);
        EXPECT_FALSE(MarkerKeyExists());

        // A value of another type is no marker, and read-only mode leaves it there.
        HKEY hKey = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &hKey, NULL));
        const DWORD nValue = 7;
        LONG nStatus = RegSetValueExA(hKey, "Rndund", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&nValue), sizeof(nValue));
        RegCloseKey(hKey);
        hKey = NULL;
        ASSERT_EQ(ERROR_SUCCESS, nStatus);
        EXPECT_EQ("", DeriveID(kMarkerReadOnly, &report));
        EXPECT_STREQ("marker_value", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.nStatus);
        EXPECT_EQ(4u, report.nMarkerLength);

        // The writing mode replaces it.
        const std::string strCreated = DeriveID(kMarkerReadWrite, &report);
        EXPECT_EQ(32u, strCreated.size());
        EXPECT_EQ(kMarkerCreated, report.eMarker);
        EXPECT_EQ(kStepNone, report.eFailedStep);
    }

    const std::string strID = DeriveID();
    ASSERT_EQ(32u, strID.size());
    EXPECT_EQ(strID, DeriveID(kMarkerReadWrite, &report));
    EXPECT_EQ(kMarkerPresent, report.eMarker);
    const std::string strVolume = Text(report.strVolume);
    const std::string strRootCreation = Text(report.strRootCreation);
    EXPECT_FALSE(strVolume.empty());
    EXPECT_NE(std::string::npos, strRootCreation.find(" (")) << strRootCreation;

    CDriveIDReport readOnly;
    EXPECT_EQ(strID, DeriveID(kMarkerReadOnly, &readOnly));
    EXPECT_EQ(kMarkerPresent, readOnly.eMarker);
    EXPECT_EQ(kStepNone, readOnly.eFailedStep);
    EXPECT_EQ(0, readOnly.nStatus);
    EXPECT_EQ(strVolume, Text(readOnly.strVolume));
    EXPECT_EQ(strRootCreation, Text(readOnly.strRootCreation));
}

// The system's random source: 16 bytes at a time, never the same twice.
TEST(DriveIDWinTest, RandomSourceGivesBytesThatDiffer) {
    CMachineFacts& machine = GetDefaultMachineFacts();
    unsigned char aFirst[16] = {};
    unsigned char aSecond[16] = {};
    ASSERT_TRUE(machine.ReadRandomBytes(aFirst, sizeof(aFirst)));
    ASSERT_TRUE(machine.ReadRandomBytes(aSecond, sizeof(aSecond)));
    EXPECT_NE(0, std::memcmp(aFirst, aSecond, sizeof(aFirst)));
    const unsigned char aZero[16] = {};
    EXPECT_NE(0, std::memcmp(aFirst, aZero, sizeof(aFirst)));
}

// The system drive comes from the system's Windows directory. Wherever that is the Windows
// directory this process sees (every machine that is no Remote Desktop host, and Wine, where
// both are C:\windows), the drive, and so the ID, is the one it always was.
TEST(DriveIDWinTest, SystemDriveIsTheSystemWindowsDirectorysDrive) {
    char szSeam[MAX_PATH] = {};
    char szSystem[MAX_PATH] = {};
    char szProcess[MAX_PATH] = {};
    ASSERT_NE(0u, GetDefaultMachineFacts().ReadWindowsDirectory(szSeam, MAX_PATH));
    ASSERT_NE(0u, GetSystemWindowsDirectoryA(szSystem, MAX_PATH));
    ASSERT_NE(0u, GetWindowsDirectoryA(szProcess, MAX_PATH));
    EXPECT_STREQ(szSystem, szSeam);
    if (IsRunningUnderWine()) {
        EXPECT_STREQ("C:\\windows", szSeam);
        EXPECT_STREQ(szSystem, szProcess);
    }
}

// A REG_SZ value longer than the read buffer (260 characters and their terminator, as reg add
// stores them) gives no ID, and neither mode writes over it.
TEST(DriveIDWinTest, ValueTooLongToReadIsKeptAndGivesNoID) {
    if (!IsRunningUnderWine())
        GTEST_SKIP() << "would replace this machine's marker";
    RemoveMarkerKey();
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &hKey, NULL));
    const std::string strStored = std::string(260, 'k') + '\0';
    LONG nStatus =
        RegSetValueExA(hKey, "Rndund", 0, REG_SZ, reinterpret_cast<const BYTE*>(strStored.data()),
                       static_cast<DWORD>(strStored.size()));
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);

    for (EMarkerAccess eAccess : {kMarkerReadWrite, kMarkerReadOnly}) {
        CDriveIDReport report;
        EXPECT_EQ("", DeriveID(eAccess, &report));
        EXPECT_EQ(kMarkerUnusable, report.eMarker);
        EXPECT_STREQ("marker_value", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_MORE_DATA, report.nStatus);
        EXPECT_GE(report.nMarkerLength, 261u);
    }
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey));
    char szValue[400] = {};
    DWORD nSize = sizeof(szValue);
    nStatus =
        RegQueryValueExA(hKey, "Rndund", NULL, NULL, reinterpret_cast<BYTE*>(szValue), &nSize);
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);
    EXPECT_EQ(std::string(260, 'k'), std::string(szValue));
    RemoveMarkerKey();
}

}  // namespace

#else

#include <gtest/gtest.h>

#include "identification/drive_id.h"

TEST(DriveIDWinTest, NativeBuildHasNoMachineFactsAndGivesNoID) {
    CDriveID driveID;
    CVeltraneString strID = driveID.GetID();
    EXPECT_EQ(0, strID.GetLength());
}

#endif  // _WIN32
