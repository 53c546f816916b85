#pragma once

// A standard user's view of the marker key: it exists, but grants everyone reading only. Wine
// keeps the new descriptor in the running wineserver's memory only, so the scenario lasts as long
// as that server.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

// Creates HKEY_CLASSES_ROOT\lrgDocID when it is missing, restricts it, and checks that opening it
// with full access is now refused, as it is on Windows for a user without administrator rights.
inline ::testing::AssertionResult MakeMarkerKeyReadOnly() {
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, nullptr, 0, WRITE_DAC, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS) {
        return ::testing::AssertionFailure() << "the marker key cannot be created or opened";
    }
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    LONG nStatus = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                             &pDescriptor, nullptr)) {
        nStatus = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, pDescriptor);
        LocalFree(pDescriptor);
    }
    RegCloseKey(hKey);
    if (nStatus != ERROR_SUCCESS) {
        return ::testing::AssertionFailure() << "the key's DACL was not set: " << nStatus;
    }
    HKEY hProbe = nullptr;
    nStatus = RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_ALL_ACCESS, &hProbe);
    if (nStatus == ERROR_SUCCESS) {
        RegCloseKey(hProbe);
    }
    if (nStatus != ERROR_ACCESS_DENIED) {
        return ::testing::AssertionFailure() << "the key still grants full access (" << nStatus
                                             << "); the scenario is not set up";
    }
    return ::testing::AssertionSuccess();
}
