#pragma once

// The marker key's owner and DACL as SDDL: read back, and set to a case of a test's choosing.
// Wine keeps a descriptor set with RegSetKeySecurity in the running wineserver's memory only, so
// a scenario lasts as long as that server.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What the program gives a key it creates.
inline const char kCreatedMarkerKeySecurity[] = "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

// The key the programs read: the machine's, in the registry view both builds share.
inline const char kMarkerKeyPath[] = "Software\\Classes\\lrgDocID";

// The marker key's owner and DACL in SDDL, or what failed.
inline std::string ReadMarkerKeySecurity() {
    HKEY hKey = nullptr;
    LONG nStatus =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0, READ_CONTROL | KEY_WOW64_64KEY, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return "open failed " + std::to_string(nStatus);
    std::vector<unsigned char> buffer(4096);
    DWORD nSize = static_cast<DWORD>(buffer.size());
    nStatus = RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                buffer.data(), &nSize);
    RegCloseKey(hKey);
    if (nStatus != ERROR_SUCCESS)
        return "RegGetKeySecurity failed " + std::to_string(nStatus);
    char* pszSddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            buffer.data(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &pszSddl, nullptr))
        return "conversion failed " + std::to_string(GetLastError());
    const std::string strSddl = pszSddl;
    LocalFree(pszSddl);
    return strSddl;
}

// Sets the owner and the DACL that the SDDL names, whichever it names.
inline ::testing::AssertionResult SetMarkerKeySecurity(const char* pszSddl) {
    HKEY hKey = nullptr;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0,
                                 WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "the marker key does not open: " << nStatus;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    nStatus = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1, &pDescriptor,
                                                             nullptr)) {
        const std::string strSddl = pszSddl;
        SECURITY_INFORMATION nWhat = 0;
        if (strSddl.find("O:") != std::string::npos)
            nWhat |= OWNER_SECURITY_INFORMATION;
        if (strSddl.find("D:") != std::string::npos)
            nWhat |= DACL_SECURITY_INFORMATION;
        nStatus = RegSetKeySecurity(hKey, nWhat, pDescriptor);
        LocalFree(pDescriptor);
    }
    RegCloseKey(hKey);
    if (nStatus != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << pszSddl << " was not set: " << nStatus;
    return ::testing::AssertionSuccess();
}
