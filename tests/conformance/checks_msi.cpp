// The MSI as Windows Installer runs it: installed and removed by an administrator, the PATH entry
// it adds and takes away again, the marker it makes and keeps. Runs only with --msi PATH.

#include <windows.h>

#include <string>

#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

namespace {

const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const DWORD kMsiexecMs = 120000;

// The machine's PATH as stored: its type and its bytes, unexpanded.
struct SStoredValue {
    LONG nStatus = ERROR_FILE_NOT_FOUND;
    DWORD nType = REG_NONE;
    std::string strBytes;
};

SStoredValue ReadMachinePath() {
    SStoredValue value;
    HKEY hKey = NULL;
    value.nStatus = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnvironmentKey, 0,
                                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &hKey);
    if (value.nStatus != ERROR_SUCCESS)
        return value;
    DWORD nSize = 0;
    value.nStatus = ::RegQueryValueExA(hKey, "Path", NULL, &value.nType, NULL, &nSize);
    if (value.nStatus == ERROR_SUCCESS) {
        value.strBytes.resize(nSize);
        value.nStatus = ::RegQueryValueExA(hKey, "Path", NULL, &value.nType,
                                           reinterpret_cast<BYTE*>(&value.strBytes[0]), &nSize);
        value.strBytes.resize(nSize);
    }
    ::RegCloseKey(hKey);
    hKey = NULL;
    return value;
}

// The text of a stored string without the terminating zeros.
std::string TextOf(const SStoredValue& value) {
    std::string strText = value.strBytes;
    while (!strText.empty() && strText.back() == '\0')
        strText.pop_back();
    return strText;
}

bool MarkerKeyExists() {
    HKEY hKey = NULL;
    const LONG nOpen = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\lrgDocID", 0,
                                       KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (hKey != NULL)
        ::RegCloseKey(hKey);
    hKey = NULL;
    return nOpen == ERROR_SUCCESS;
}

LONG DeleteMarkerKey() {
    HKEY hClasses = NULL;
    LONG nStatus = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0,
                                   KEY_ALL_ACCESS | KEY_WOW64_64KEY, &hClasses);
    if (nStatus == ERROR_SUCCESS) {
        nStatus = ::RegDeleteTreeA(hClasses, "lrgDocID");
        ::RegCloseKey(hClasses);
        hClasses = NULL;
    }
    return nStatus;
}

// msiexec's verbose log lies beside the undo journal as msiexec-<install|uninstall>.log: the
// reason for an exit code is only there.
long RunMsiexec(const SContext& context, bool bInstall) {
    const size_t nSlash = context.strJournal.find_last_of("\\/");
    const std::string strLog =
        (nSlash == std::string::npos ? std::string(".") : context.strJournal.substr(0, nSlash)) +
        (bInstall ? "\\msiexec-install.log" : "\\msiexec-uninstall.log");
    std::string strOutput;
    return RunCommand(MsiexecPath() + (bInstall ? " /i " : " /x ") + QuoteArgument(context.strMsi) +
                          " /qn /norestart /l*v " + QuoteArgument(strLog),
                      kMsiexecMs, &strOutput);
}

// What the installation did to PATH: the folder that holds the console, then ";" and the old
// text, all still REG_EXPAND_SZ. Empty when so; else the fault.
std::string JudgeAddedPath(const SStoredValue& before, const SStoredValue& after) {
    if (after.nStatus != ERROR_SUCCESS)
        return "PATH could not be read after the installation: " + std::to_string(after.nStatus);
    if (after.nType != REG_EXPAND_SZ)
        return "PATH is no longer REG_EXPAND_SZ (type " + std::to_string(after.nType) + ")";
    const std::string strOld = TextOf(before);
    const std::string strNew = TextOf(after);
    const std::string strTail = ";" + strOld;
    if (strNew.size() <= strTail.size() ||
        strNew.compare(strNew.size() - strTail.size(), strTail.size(), strTail) != 0)
        return "PATH is not one more folder in front of its old value";
    std::string strFolder = strNew.substr(0, strNew.size() - strTail.size());
    Note("the folder put in front of PATH: %s", strFolder.c_str());
    if (!strFolder.empty() && strFolder.back() == '\\')
        strFolder.pop_back();
    char szExpanded[MAX_PATH];
    const DWORD nLength = ::ExpandEnvironmentStringsA(strFolder.c_str(), szExpanded, MAX_PATH);
    if (nLength == 0 || nLength > MAX_PATH ||
        !FileExists(std::string(szExpanded) + "\\idrovan-cli.exe"))
        return "the folder put in front of PATH holds no idrovan-cli.exe";
    return std::string();
}

CResult CheckMsiInstallUninstall(const SContext& context) {
    if (context.strMsi.empty())
        return CResult::WindowsSkip("no MSI given (--msi PATH)");
    if (!IsTokenElevated() && !IsUnderWine())
        return CResult::WindowsSkip("not an elevated administrator: installing needs one");
    const SStoredValue before = ReadMachinePath();
    if (before.nStatus != ERROR_SUCCESS)
        return CResult::Fail("PATH could not be read: " + std::to_string(before.nStatus));
    if (!JournalKeyToDelete(context.strJournal, "Software\\Classes\\lrgDocID") ||
        !JournalMsiToRemove(context.strJournal, context.strMsi))
        return CResult::Fail("the undo journal could not be written");
    // The package must make the marker itself: one left by this run's first run goes first (it
    // is in the journal, and the disposable machine had none of its own).
    if (MarkerKeyExists()) {
        const LONG nDelete = DeleteMarkerKey();
        Note("the marker of this run's first run deleted before installing: %ld", nDelete);
        if (nDelete != ERROR_SUCCESS)
            return CResult::Fail("the marker could not be deleted before installing: " +
                                 std::to_string(nDelete));
    }
    const long nInstall = RunMsiexec(context, true);
    Note("msiexec /i exited %ld", nInstall);
    if (nInstall != 0)
        return CResult::Fail("the installation failed: " + std::to_string(nInstall));
    std::string strFaults = JudgeAddedPath(before, ReadMachinePath());
    if (!strFaults.empty())
        strFaults += "; ";
    if (!MarkerKeyExists())
        strFaults += "the installation made no marker; ";
    // The key's security is judged by that check itself, in a process of its own.
    std::string strOutput;
    RunCommand(QuoteArgument(context.strSelf) + " --run key_security_after_first_run --programs " +
                   QuoteArgument(context.strPrograms),
               60000, &strOutput);
    Note("after the installation, key_security_after_first_run: %s", strOutput.c_str());
    if (strOutput.find("RESULT pass") == std::string::npos &&
        strOutput.find("RESULT wine-gap") == std::string::npos)
        strFaults += "the marker after the installation has not the key's security; ";
    const long nRemove = RunMsiexec(context, false);
    Note("msiexec /x exited %ld", nRemove);
    if (nRemove != 0)
        return CResult::Fail(strFaults + "the uninstallation failed: " + std::to_string(nRemove));
    const SStoredValue restored = ReadMachinePath();
    if (restored.nStatus != ERROR_SUCCESS || restored.nType != before.nType ||
        restored.strBytes != before.strBytes)
        strFaults += "PATH after the uninstallation differs from before the installation; ";
    if (!MarkerKeyExists())
        strFaults += "the uninstallation took the marker away; ";
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

}  // namespace

void AddMsiChecks(std::vector<SCheck>& checks) {
    checks.push_back(
        {"msi_install_uninstall",
         "the MSI makes the marker with the key's security and puts its folder in front of PATH, "
         "which stays REG_EXPAND_SZ; its removal leaves PATH byte for byte as before and keeps the "
         "marker",
         "docs/install-and-deploy.md#path-and-agents",
         "https://learn.microsoft.com/windows/win32/msi/environment-table", true,
         CheckMsiInstallUninstall});
}
