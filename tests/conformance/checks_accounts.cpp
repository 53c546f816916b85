// What only --disposable-machine may do: a first run on a machine without a marker, and runs
// under throw-away accounts. Every change is in the undo journal before it is made.
//
// Wine's account calls answer success without doing anything (NetUserAdd, LogonUserW) or fail
// without saying why (CreateProcessWithLogonW, last error 0); each is caught here and named as a
// gap of Wine, never taken for a pass.

#include <windows.h>
#include <lm.h>

#include <cstdio>

#include "tests/conformance/accounts.h"
#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/independent_id.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

namespace {

const char kMarkerKeyPath[] = "Software\\Classes\\lrgDocID";

CResult CheckFirstRun(const SContext& context) {
    if (!IsTokenElevated() && !IsUnderWine())
        return CResult::WindowsSkip("not an elevated administrator: a first run needs one");
    if (!JournalKeyToDelete(context.strJournal, kMarkerKeyPath))
        return CResult::Fail("the undo journal could not be written");
    std::string strOutput;
    const long nExit =
        RunCommand(QuoteArgument(context.strPrograms + "\\idrovan-cli.exe"), 30000, &strOutput);
    Note("idrovan-cli (first run) exited %ld", nExit);
    if (nExit != 0)
        return CResult::Fail("the first run failed: " + strOutput);
    SIdFacts facts;
    std::string strWhy;
    if (!ReadIdFacts(&facts, &strWhy))
        return CResult::Fail("after the first run: " + strWhy);
    if (facts.strMarker.size() != 32 ||
        facts.strMarker.find_first_not_of("0123456789abcdef") != std::string::npos)
        return CResult::Fail("the new marker is not 32 lowercase hex digits");
    const std::string strId = strOutput.substr(0, strOutput.find_first_of("\r\n"));
    if (strId != DeriveId(facts))
        return CResult::Fail("the first run printed another ID than its marker gives");
    return CResult::Pass();
}

std::wstring Widen(const std::string& strText) {
    return std::wstring(strText.begin(), strText.end());
}

// A password that meets any complexity policy, new for every account.
std::wstring NewPassword() {
    return L"Cf-" + std::to_wstring(::GetTickCount64()) + L"-x" +
           std::to_wstring(::GetCurrentProcessId()) + L"Q!";
}

// A throw-away account, journaled first; a pass in *pResult means it truly exists.
bool MakeAccount(const SContext& context, bool bAdministrator, std::wstring* pName,
                 std::wstring* pPassword, CResult* pResult) {
    const std::string strName = std::string(bAdministrator ? "idrcfa" : "idrcfu") +
                                std::to_string(::GetCurrentProcessId() % 100000);
    *pName = Widen(strName);
    *pPassword = NewPassword();
    if (!JournalUserToDelete(context.strJournal, strName)) {
        *pResult = CResult::Fail("the undo journal could not be written");
        return false;
    }
    DWORD nStatus = AddLocalUser(*pName, *pPassword);
    if (nStatus == NERR_Success && bAdministrator)
        nStatus = AddToAdministrators(*pName);
    Note("NetUserAdd%s for %s: %lu", bAdministrator ? " and NetLocalGroupAddMembers" : "",
         strName.c_str(), nStatus);
    if (nStatus != NERR_Success) {
        *pResult = CResult::Fail("the account could not be made: " + std::to_string(nStatus));
        return false;
    }
    if (!AccountExists(*pName)) {
        *pResult = IsUnderWine() ? CResult::WineGap(
                                       "NetUserAdd reported success, yet the account cannot "
                                       "be looked up (a stub)")
                                 : CResult::Fail(
                                       "NetUserAdd reported success, yet the account cannot be "
                                       "looked up");
        return false;
    }
    return true;
}

// The user SID of a token, compared with this process's: a logon that hands back our own token
// did not log on.
bool TokenIsOurs(HANDLE hToken) {
    BYTE aTheirs[256], aOurs[256];
    DWORD nSize = 0;
    HANDLE hOwn = NULL;
    bool bSame = false;
    if (::GetTokenInformation(hToken, TokenUser, aTheirs, sizeof(aTheirs), &nSize) &&
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hOwn) &&
        ::GetTokenInformation(hOwn, TokenUser, aOurs, sizeof(aOurs), &nSize))
        bSame = ::EqualSid(reinterpret_cast<TOKEN_USER*>(aTheirs)->User.Sid,
                           reinterpret_cast<TOKEN_USER*>(aOurs)->User.Sid);
    if (hOwn != NULL)
        ::CloseHandle(hOwn);
    hOwn = NULL;
    return bSame;
}

// Runs a command line as the account, its output captured; the exit code, or -1 with the reason
// (a gap of Wine or a failure) in *pResult.
long RunAsUser(const std::wstring& strName, const std::wstring& strPassword,
               const std::string& strCommandLine, std::string* pOutput, CResult* pResult) {
    HANDLE hToken = NULL;
    const BOOL bLogon = ::LogonUserW(strName.c_str(), L".", strPassword.c_str(),
                                     LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &hToken);
    const bool bOurs = bLogon && TokenIsOurs(hToken);
    if (hToken != NULL)
        ::CloseHandle(hToken);
    hToken = NULL;
    if (!bLogon) {
        *pResult = CResult::Fail("LogonUserW failed: " + std::to_string(::GetLastError()));
        return -1;
    }
    if (bOurs) {
        *pResult = CResult::WineGap(
            "LogonUserW reported success with a token of this process's "
            "own user (a stub)");
        return -1;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE hRead = NULL, hWrite = NULL;
    if (!::CreatePipe(&hRead, &hWrite, &inherit, 0)) {
        *pResult = CResult::Fail("CreatePipe failed");
        return -1;
    }
    ::SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hWrite;
    startup.hStdError = hWrite;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    std::wstring strLine = Widen(strCommandLine);
    ::SetLastError(0);
    const BOOL bStarted = ::CreateProcessWithLogonW(
        strName.c_str(), L".", strPassword.c_str(), LOGON_WITH_PROFILE, NULL, &strLine[0],
        CREATE_NO_WINDOW, NULL, NULL, &startup, &process);
    const DWORD nError = ::GetLastError();
    ::CloseHandle(hWrite);
    hWrite = NULL;
    long nExit = -1;
    if (!bStarted) {
        if (nError == 0)
            *pResult = IsUnderWine()
                           ? CResult::WineGap("CreateProcessWithLogonW failed with last error 0")
                           : CResult::Fail("CreateProcessWithLogonW failed with last error 0");
        else if (nError == ERROR_SERVICE_DISABLED || nError == ERROR_SERVICE_DOES_NOT_EXIST)
            *pResult = CResult::WindowsSkip(
                "the Secondary Logon service (seclogon) is not "
                "available: " +
                std::to_string(nError));
        else
            *pResult = CResult::Fail("CreateProcessWithLogonW failed: " + std::to_string(nError));
    } else {
        char aBuffer[4096];
        DWORD nRead = 0;
        while (::ReadFile(hRead, aBuffer, sizeof(aBuffer), &nRead, NULL) && nRead > 0)
            pOutput->append(aBuffer, nRead);
        ::WaitForSingleObject(process.hProcess, 60000);
        DWORD nCode = 0;
        ::GetExitCodeProcess(process.hProcess, &nCode);
        nExit = static_cast<long>(nCode);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
        process.hProcess = process.hThread = NULL;
    }
    ::CloseHandle(hRead);
    hRead = NULL;
    return nExit;
}

CResult CheckStandardUser(const SContext& context) {
    std::wstring strName, strPassword;
    CResult result = CResult::Pass();
    if (!MakeAccount(context, false, &strName, &strPassword, &result))
        return result;
    SIdFacts facts;
    std::string strWhy;
    if (!ReadIdFacts(&facts, &strWhy))
        return CResult::Fail("no marker to read: " + strWhy);
    const std::string strExpected = DeriveId(facts);
    const std::string strCli = QuoteArgument(context.strPrograms + "\\idrovan-cli.exe");
    std::string strFaults;
    for (const char* pszArgs : {"", " --no-write"}) {
        std::string strOutput;
        const long nExit = RunAsUser(strName, strPassword, strCli + pszArgs, &strOutput, &result);
        if (nExit == -1)
            return result;
        const std::string strId = strOutput.substr(0, strOutput.find_first_of("\r\n"));
        Note("as the standard user, idrovan-cli%s exited %ld", pszArgs, nExit);
        if (nExit != 0 || strId != strExpected)
            strFaults += std::string("idrovan-cli") + pszArgs + " gave " + strId + "; ";
    }
    // Neither a value set nor the key deleted: the lock helper's peer, the key probe.
    std::string strOutput;
    const long nExit =
        RunAsUser(strName, strPassword, QuoteArgument(context.strSelf) + " --wait-lock 1000",
                  &strOutput, &result);
    Note("as the standard user, the lock: %s", strOutput.c_str());
    if (nExit == -1)
        return result;
    if (strOutput.find("status 5 ") == std::string::npos)
        strFaults += "the lock did not refuse the standard user with 5; ";
    strOutput.clear();
    const long nChange =
        RunAsUser(strName, strPassword, QuoteArgument(context.strSelf) + " --change-key",
                  &strOutput, &result);
    Note("as the standard user, changing the marker key: %s", strOutput.c_str());
    if (nChange == -1)
        return result;
    if (strOutput.find("set 5 delete 5") == std::string::npos)
        strFaults += "the standard user was not refused (5) setting a value or deleting the key; ";
    HKEY hKey = NULL;
    const LONG nOpen = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\lrgDocID", 0,
                                       KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (hKey != NULL)
        ::RegCloseKey(hKey);
    hKey = NULL;
    if (nOpen != ERROR_SUCCESS)
        strFaults += "the marker key is gone after the standard user's runs; ";
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

// Where no administrator's token is filtered, the reason to skip; empty where one is.
bool UacFilters(CResult* pSkip) {
    if (EnableLua() != "0")
        return true;
    *pSkip = IsUnderWine() ? CResult::WineGap(
                                 "Wine has no UAC (EnableLUA 0): no administrator's token is "
                                 "filtered")
                           : CResult::WindowsSkip(
                                 "UAC is off (EnableLUA 0): an administrator's token is "
                                 "not filtered");
    return false;
}

// Before any marker exists: the account's plain run of idrovan-cli must end with exit code 3
// and the text that the lock admits administrators only, and must leave no marker behind.
CResult CheckNoRightsWithoutMarker(const SContext& context, bool bAdministrator) {
    CResult result = CResult::Pass();
    if (bAdministrator && !UacFilters(&result))
        return result;
    std::wstring strName, strPassword;
    if (!MakeAccount(context, bAdministrator, &strName, &strPassword, &result))
        return result;
    // Should the run make a marker after all, the journal takes it away again.
    if (!JournalKeyToDelete(context.strJournal, kMarkerKeyPath))
        return CResult::Fail("the undo journal could not be written");
    std::string strOutput;
    const long nExit =
        RunAsUser(strName, strPassword, QuoteArgument(context.strPrograms + "\\idrovan-cli.exe"),
                  &strOutput, &result);
    Note("idrovan-cli without a marker exited %ld: %s", nExit, strOutput.c_str());
    if (nExit == -1)
        return result;
    std::string strFaults;
    if (nExit != 3)
        strFaults += "the exit code was " + std::to_string(nExit) + ", not 3; ";
    if (strOutput.find("the marker lock admits administrators only") == std::string::npos)
        strFaults += "the output does not say that the lock admits administrators only; ";
    HKEY hKey = NULL;
    const LONG nOpen =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0, KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (hKey != NULL)
        ::RegCloseKey(hKey);
    hKey = NULL;
    if (nOpen != ERROR_FILE_NOT_FOUND)
        strFaults +=
            "the marker key is there after the run (status " + std::to_string(nOpen) + "); ";
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

CResult CheckStandardUserWithoutMarker(const SContext& context) {
    return CheckNoRightsWithoutMarker(context, false);
}

CResult CheckFilteredAdministratorWithoutMarker(const SContext& context) {
    return CheckNoRightsWithoutMarker(context, true);
}

CResult CheckFilteredAdministrator(const SContext& context) {
    CResult result = CResult::Pass();
    if (!UacFilters(&result))
        return result;
    std::wstring strName, strPassword;
    if (!MakeAccount(context, true, &strName, &strPassword, &result))
        return result;
    std::string strOutput;
    const long nExit =
        RunAsUser(strName, strPassword, QuoteArgument(context.strSelf) + " --wait-lock 1000",
                  &strOutput, &result);
    Note("as a filtered administrator, the lock: %s", strOutput.c_str());
    if (nExit == -1)
        return result;
    if (strOutput.find("status 5 ") == std::string::npos)
        return CResult::Fail("the lock did not refuse a filtered administrator with 5");
    return CResult::Pass();
}

// A quiet install from a standard user's console: Windows Installer refuses a per-machine
// package to an account without administrator rights, and msiexec ends with 1603.
CResult CheckMsiStandardUser(const SContext& context) {
    if (context.strMsi.empty())
        return CResult::WindowsSkip("no MSI given (--msi PATH)");
    std::wstring strName, strPassword;
    CResult result = CResult::Pass();
    if (!MakeAccount(context, false, &strName, &strPassword, &result))
        return result;
    // Should it install after all, the journal removes it again.
    if (!JournalMsiToRemove(context.strJournal, context.strMsi))
        return CResult::Fail("the undo journal could not be written");
    std::string strOutput;
    const long nExit =
        RunAsUser(strName, strPassword,
                  MsiexecPath() + " /i " + QuoteArgument(context.strMsi) + " /qn /norestart",
                  &strOutput, &result);
    Note("as the standard user, msiexec /i /qn exited %ld", nExit);
    if (nExit == -1)
        return result;
    return nExit == 1603
               ? CResult::Pass()
               : CResult::Fail("msiexec /qn ended with " + std::to_string(nExit) + ", not 1603");
}

}  // namespace

void AddAccountChecks(std::vector<SCheck>& checks) {
    checks.push_back(
        {"standard_user_without_marker",
         "before any marker exists, a standard user's idrovan-cli exits 3 saying the lock admits "
         "administrators only, and makes no marker",
         "docs/security.md#standard-users",
         "https://learn.microsoft.com/windows/win32/api/winbase/"
         "nf-winbase-createprocesswithlogonw",
         true, CheckStandardUserWithoutMarker});
    checks.push_back(
        {"filtered_administrator_without_marker",
         "before any marker exists, idrovan-cli run by an administrator whose token UAC filtered "
         "exits 3 saying the lock admits administrators only, and makes no marker",
         "docs/security.md#the-marker-lock-what-it-rests-on",
         "https://learn.microsoft.com/windows/security/application-security/"
         "application-control/user-account-control/how-it-works",
         true, CheckFilteredAdministratorWithoutMarker});
    checks.push_back(
        {"first_run_administrator",
         "an administrator's first run makes one marker of 32 lowercase hex digits and prints "
         "the ID it gives",
         "docs/security.md#the-marker-once-per-machine",
         "https://learn.microsoft.com/windows/win32/api/winreg/nf-winreg-regcreatekeyexa", true,
         CheckFirstRun});
    checks.push_back(
        {"standard_user",
         "a standard user gets the ID from a plain run and from --no-write, is refused the lock "
         "with 5, can neither set a value in the key nor delete it (5), and leaves it as it was",
         "docs/security.md#standard-users",
         "https://learn.microsoft.com/windows/win32/api/winbase/"
         "nf-winbase-createprocesswithlogonw",
         true, CheckStandardUser});
    checks.push_back({"filtered_administrator",
                      "an administrator whose token UAC filtered is refused the lock with 5",
                      "docs/security.md#the-marker-lock-what-it-rests-on",
                      "https://learn.microsoft.com/windows/security/application-security/"
                      "application-control/user-account-control/how-it-works",
                      true, CheckFilteredAdministrator});
    checks.push_back({"msi_standard_user_refused",
                      "a standard user's quiet install of the MSI (/qn) ends with 1603",
                      "docs/install-and-deploy.md#exit-codes-of-msiexec",
                      "https://learn.microsoft.com/windows/win32/msi/error-codes", true,
                      CheckMsiStandardUser});
}
