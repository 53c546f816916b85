#include "tests/conformance/machine_profile.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

namespace {

typedef const char*(__cdecl* WineGetVersionFn)();
typedef LONG(WINAPI* RtlGetVersionFn)(OSVERSIONINFOW*);

HANDLE OpenOwnToken() {
    HANDLE hToken = NULL;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return NULL;
    return hToken;
}

}  // namespace

std::string WineVersion() {
    HMODULE hNtdll = ::GetModuleHandleA("ntdll.dll");
    if (hNtdll == NULL)
        return std::string();
    auto pfnVersion = reinterpret_cast<WineGetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(hNtdll, "wine_get_version")));
    return pfnVersion != nullptr ? std::string(pfnVersion()) : std::string();
}

std::string WindowsVersion() {
    auto pfnGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (pfnGetVersion == nullptr || pfnGetVersion(&info) != 0)
        return "unknown";
    char szText[64];
    std::snprintf(szText, sizeof(szText), "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion,
                  info.dwBuildNumber);
    return szText;
}

bool IsWow64() {
    BOOL bWow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &bWow64) && bWow64;
}

std::string ElevationTypeName() {
    HANDLE hToken = OpenOwnToken();
    if (hToken == NULL)
        return "unknown";
    TOKEN_ELEVATION_TYPE eType = TokenElevationTypeDefault;
    DWORD nSize = 0;
    const BOOL bOk =
        ::GetTokenInformation(hToken, TokenElevationType, &eType, sizeof(eType), &nSize);
    ::CloseHandle(hToken);
    hToken = NULL;
    if (!bOk)
        return "unknown";
    switch (eType) {
        case TokenElevationTypeDefault:
            return "default";
        case TokenElevationTypeFull:
            return "full";
        case TokenElevationTypeLimited:
            return "limited";
    }
    return "unknown";
}

bool IsTokenElevated() {
    HANDLE hToken = OpenOwnToken();
    if (hToken == NULL)
        return false;
    TOKEN_ELEVATION elevation = {0};
    DWORD nSize = 0;
    const BOOL bOk =
        ::GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &nSize);
    ::CloseHandle(hToken);
    hToken = NULL;
    return bOk && elevation.TokenIsElevated != 0;
}

std::string EnableLua() {
    DWORD nValue = 0;
    DWORD nSize = sizeof(nValue);
    const LONG nStatus =
        ReadMachineValue("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                         "EnableLUA", RRF_RT_REG_DWORD, &nValue, &nSize);
    if (nStatus != ERROR_SUCCESS)
        return "absent";
    return std::to_string(nValue);
}

unsigned long SessionId() {
    DWORD nSession = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &nSession);
    return nSession;
}

std::string ComputerName() {
    char szName[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD nSize = sizeof(szName);
    if (!::GetComputerNameA(szName, &nSize))
        return std::string();
    return szName;
}

long ReadMachineValue(const char* pszKey, const char* pszValue, unsigned long nFlags, void* pData,
                      unsigned long* pnSize) {
    HKEY hKey = NULL;
    LONG nStatus =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return nStatus;
    nStatus = ::RegGetValueA(hKey, NULL, pszValue, nFlags, NULL, pData, pnSize);
    ::RegCloseKey(hKey);
    hKey = NULL;
    return nStatus;
}

bool FileExists(const std::string& strPath) {
    const DWORD nAttributes = ::GetFileAttributesA(strPath.c_str());
    return nAttributes != INVALID_FILE_ATTRIBUTES && !(nAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Sha256OfFile(const std::string& strPath) {
    HANDLE hFile =
        ::CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return std::string();
    HCRYPTPROV hProvider = 0;
    HCRYPTHASH hHash = 0;
    bool bOk = ::CryptAcquireContextA(&hProvider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
               ::CryptCreateHash(hProvider, CALG_SHA_256, 0, 0, &hHash);
    unsigned char aBuffer[65536];
    DWORD nRead = 0;
    while (bOk && ::ReadFile(hFile, aBuffer, sizeof(aBuffer), &nRead, NULL) && nRead > 0)
        bOk = ::CryptHashData(hHash, aBuffer, nRead, 0);
    unsigned char aDigest[32];
    DWORD nDigest = sizeof(aDigest);
    bOk = bOk && ::CryptGetHashParam(hHash, HP_HASHVAL, aDigest, &nDigest, 0) && nDigest == 32;
    if (hHash != 0)
        ::CryptDestroyHash(hHash);
    hHash = 0;
    if (hProvider != 0)
        ::CryptReleaseContext(hProvider, 0);
    hProvider = 0;
    ::CloseHandle(hFile);
    hFile = NULL;
    if (!bOk)
        return std::string();
    std::string strHex;
    char szByte[3];
    for (unsigned char b : aDigest) {
        std::snprintf(szByte, sizeof(szByte), "%02x", b);
        strHex += szByte;
    }
    return strHex;
}

std::string MsiexecPath() {
    char szSystem[MAX_PATH];
    const UINT nLength = ::GetSystemDirectoryA(szSystem, MAX_PATH);
    const std::string strFolder =
        nLength == 0 || nLength >= MAX_PATH ? std::string("C:\\Windows\\System32") : szSystem;
    return "\"" + strFolder + "\\msiexec.exe\"";
}
