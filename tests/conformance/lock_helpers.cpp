#include "tests/conformance/lock_helpers.h"

#include <sddl.h>

#include <cstdio>

#include "platform/machine_facts.h"

namespace {

// Longer than any check waits: the check kills the holder long before.
const DWORD kHoldMs = 120000;

}  // namespace

int HoldMarkerLockUntilKilled() {
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nStatus = machine.AcquireMarkerLock(10000, &hLock, &bAbandoned);
    if (nStatus != 0) {
        std::printf("failed %ld\n", nStatus);
        std::fflush(stdout);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(kHoldMs);
    machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    return 0;
}

int WaitForMarkerLock(DWORD nTimeoutMs) {
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    std::printf("waiting\n");
    std::fflush(stdout);
    const ULONGLONG nStart = ::GetTickCount64();
    const long nStatus = machine.AcquireMarkerLock(nTimeoutMs, &hLock, &bAbandoned);
    const ULONGLONG nElapsed = ::GetTickCount64() - nStart;
    if (nStatus != 0) {
        std::printf("status %ld after %llu\n", nStatus, nElapsed);
        return 1;
    }
    std::printf("acquired %llu abandoned %d\n", nElapsed, bAbandoned ? 1 : 0);
    std::fflush(stdout);
    machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    return 0;
}

int TryToChangeMarkerKey() {
    const char kPath[] = "Software\\Classes\\lrgDocID";
    HKEY hKey = NULL;
    LONG nSet =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &hKey);
    if (nSet == ERROR_SUCCESS) {
        // Opened for writing is the fault already; the write says whether it goes through, and
        // the probe value goes again at once.
        const char kProbe[] = "probe";
        nSet = ::RegSetValueExA(hKey, "idrovan-conformance-probe", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(kProbe), sizeof(kProbe));
        if (nSet == ERROR_SUCCESS)
            ::RegDeleteValueA(hKey, "idrovan-conformance-probe");
        ::RegCloseKey(hKey);
        hKey = NULL;
    }
    const LONG nDelete = ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPath, KEY_WOW64_64KEY, 0);
    std::printf("set %ld delete %ld\n", nSet, nDelete);
    std::fflush(stdout);
    return 0;
}

namespace {

// What the service was started for; written by RunAsLockService before the dispatcher starts.
std::wstring g_strServiceName;
std::string g_strServiceResult;
SERVICE_STATUS_HANDLE g_hServiceStatus = NULL;

void ReportServiceState(DWORD nState) {
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof(status));
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = nState;
    status.dwControlsAccepted = nState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    ::SetServiceStatus(g_hServiceStatus, &status);
}

DWORD WINAPI OnServiceControl(DWORD, DWORD, LPVOID, LPVOID) {
    // It stops by itself within seconds; a stop request needs no more than an answer.
    return NO_ERROR;
}

// The token's user as "S-1-5-18", or empty.
std::string ProcessUserSid() {
    HANDLE hToken = NULL;
    BYTE aUser[256];
    DWORD nSize = 0;
    std::string strSid;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken) &&
        ::GetTokenInformation(hToken, TokenUser, aUser, sizeof(aUser), &nSize)) {
        LPSTR pszSid = NULL;
        if (::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(aUser)->User.Sid, &pszSid)) {
            strSid = pszSid;
            ::LocalFree(pszSid);
            pszSid = NULL;
        }
    }
    if (hToken != NULL)
        ::CloseHandle(hToken);
    hToken = NULL;
    return strSid;
}

void WINAPI LockServiceMain(DWORD, LPWSTR*) {
    g_hServiceStatus =
        ::RegisterServiceCtrlHandlerExW(g_strServiceName.c_str(), OnServiceControl, NULL);
    if (g_hServiceStatus == NULL)
        return;
    ReportServiceState(SERVICE_RUNNING);
    std::string strText = "user " + ProcessUserSid() + "\r\n";
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nStatus = machine.AcquireMarkerLock(10000, &hLock, &bAbandoned);
    if (nStatus == 0) {
        strText += "acquired\r\n";
        machine.ReleaseMarkerLock(hLock);
        hLock = nullptr;
    } else {
        strText += "status " + std::to_string(nStatus) + "\r\n";
    }
    HANDLE hFile = ::CreateFileA(g_strServiceResult.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD nWritten = 0;
        ::WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &nWritten, NULL);
        ::CloseHandle(hFile);
        hFile = NULL;
    }
    ReportServiceState(SERVICE_STOPPED);
}

}  // namespace

int RunAsLockService(const std::string& strName, const std::string& strResultFile) {
    g_strServiceName.assign(strName.begin(), strName.end());
    g_strServiceResult = strResultFile;
    SERVICE_TABLE_ENTRYW table[] = {{&g_strServiceName[0], LockServiceMain}, {NULL, NULL}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 3;
}
