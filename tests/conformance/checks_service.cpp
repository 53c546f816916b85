// SYSTEM and the marker lock: services run as LocalSystem, and a service that reads the ID on a
// machine without a marker makes it. The bundle installs itself as a one-shot service that takes
// the lock once and stops; the undo journal deletes the service afterwards.

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/marker_lock_win.h"
#include "tests/conformance/check.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

namespace {

const char kLocalSystemSid[] = "S-1-5-18";
const DWORD kServiceMs = 60000;

std::string ReadSmallFile(const std::string& strPath) {
    std::string strText;
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return strText;
    char aBuffer[512];
    const size_t nRead = std::fread(aBuffer, 1, sizeof(aBuffer), pFile);
    strText.assign(aBuffer, nRead);
    std::fclose(pFile);
    pFile = nullptr;
    return strText;
}

// Waits until the service stopped; false when it still runs after kServiceMs.
bool WaitForStop(SC_HANDLE hService, DWORD* pnExitCode) {
    const ULONGLONG nEnd = ::GetTickCount64() + kServiceMs;
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof(status));
    while (::QueryServiceStatus(hService, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (::GetTickCount64() > nEnd)
            return false;
        ::Sleep(200);
    }
    *pnExitCode = status.dwWin32ExitCode;
    return status.dwCurrentState == SERVICE_STOPPED;
}

// Creates and starts the service, waits for it to stop and gives what it wrote.
CResult RunService(const SContext& context, const std::string& strName,
                   const std::string& strResultFile, std::string* pWritten) {
    SC_HANDLE hManager = ::OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (hManager == NULL)
        return CResult::Fail("OpenSCManager failed: " + std::to_string(::GetLastError()));
    const std::string strCommand =
        "\"" + context.strSelf + "\" --service " + strName + " \"" + strResultFile + "\"";
    // LocalSystem: no account named.
    SC_HANDLE hService = ::CreateServiceA(
        hManager, strName.c_str(), strName.c_str(), SERVICE_START | SERVICE_QUERY_STATUS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, strCommand.c_str(),
        NULL, NULL, NULL, NULL, NULL);
    CResult result = CResult::Pass();
    if (hService == NULL) {
        result = CResult::Fail("CreateService failed: " + std::to_string(::GetLastError()));
    } else if (!::StartServiceA(hService, 0, NULL)) {
        result = CResult::Fail("StartService failed: " + std::to_string(::GetLastError()));
    } else {
        DWORD nExitCode = 0;
        if (!WaitForStop(hService, &nExitCode))
            result = CResult::Fail("the service still ran after " +
                                   std::to_string(kServiceMs / 1000) + " s");
        Note("the service stopped with exit code %lu", nExitCode);
        *pWritten = ReadSmallFile(strResultFile);
    }
    if (hService != NULL)
        ::CloseServiceHandle(hService);
    hService = NULL;
    ::CloseServiceHandle(hManager);
    hManager = NULL;
    return result;
}

CResult CheckSystemAcquires(const SContext& context) {
    if (!IsTokenElevated() && !IsUnderWine())
        return CResult::WindowsSkip("not an elevated administrator: making a service needs one");
    const std::string strName = "IdrovanConformance" + std::to_string(::GetCurrentProcessId());
    const std::string strResultFile = context.strJournal + "." + strName + ".txt";
    ::DeleteFileA(strResultFile.c_str());
    if (!JournalServiceToDelete(context.strJournal, strName))
        return CResult::Fail("the undo journal could not be written");
    std::string strWritten;
    CResult result = RunService(context, strName, strResultFile, &strWritten);
    ::DeleteFileA(strResultFile.c_str());
    if (result.eOutcome != kPass)
        return result;
    Note("the service wrote: %s", strWritten.c_str());
    if (strWritten.empty())
        return CResult::Fail("the service wrote no result");
    const bool bSystem = strWritten.find(std::string("user ") + kLocalSystemSid + "\r\n") == 0;
    const bool bAcquired = strWritten.find("\r\nacquired\r\n") != std::string::npos;
    if (!bSystem)
        return IsUnderWine() ? CResult::WineGap(
                                   "Wine runs a LocalSystem service under the prefix's own "
                                   "user, not as SYSTEM")
                             : CResult::Fail("the LocalSystem service ran under another user");
    if (!bAcquired)
        return CResult::Fail("SYSTEM was refused the lock");
    if (!GetSystemMarkerLockCalls().HasPrivateNamespaces())
        return CResult::WineGap(
            "Wine lacks the private-namespace calls, so SYSTEM took the Global\\ mutex "
            "that stands in for the lock under Wine alone");
    return CResult::Pass();
}

}  // namespace

void AddServiceChecks(std::vector<SCheck>& checks) {
    checks.push_back({"system_acquires_lock",
                      "SYSTEM (a service running as LocalSystem) takes the marker lock",
                      "docs/security.md#the-marker-lock-what-it-rests-on",
                      "https://learn.microsoft.com/windows/win32/services/localsystem-account",
                      true, CheckSystemAcquires});
}
