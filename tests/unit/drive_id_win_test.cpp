// The ID derivation on the platform's real services. Under Wine the test first removes the marker
// key, so that the run covers writing the marker as well as reading it; on Windows itself it
// leaves the machine's marker alone, since removing it would change the computer's ID. The native
// build has no machine facts and must say so with an empty ID.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "identification/drive_id.h"

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

TEST(DriveIDWinTest, DerivesTheSameIDTwiceAndStoresThe32ByteMarker) {
    if (IsRunningUnderWine()) {
        LONG nStatus = RegDeleteKeyA(HKEY_CLASSES_ROOT, "lrgDocID");
        ASSERT_TRUE(nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) << nStatus;
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
