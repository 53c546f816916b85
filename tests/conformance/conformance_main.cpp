// idrovan-conformance: every promise the programs make about Windows, checked on the machine it
// runs on, in the manner of Wine's own conformance bundle. Each check runs as a child process of
// this program (itself with --run NAME), so that a crash or a hang costs one check. Output is TAP,
// headed by what the machine is and ending with the plain line "N passed, N failed, N skipped".
//
// Exit codes: 0 nothing failed, 1 a check failed, 2 refused (--disposable-machine on a machine
// that is not one, or a bad command line), 3 an internal error.

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "idrovan_version.h"
#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/lock_helpers.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

namespace {

const int kExitPassed = 0;
const int kExitFailed = 1;
const int kExitRefused = 2;
const int kExitInternal = 3;

// The longest a check may take. Under Wine the slowest (the lock's wait) needs some 15 s; on
// Windows an account's first logon makes its profile, which can take a minute.
const DWORD kCheckTimeoutMs = 300000;
// The environment variable that must name this computer before --disposable-machine runs.
const char kDisposableVariable[] = "IDROVAN_CONFORMANCE_DISPOSABLE";

#ifdef _WIN64
const char kArchitecture[] = "x64";
#else
const char kArchitecture[] = "x86";
#endif

struct SOptions {
    bool bList = false;
    bool bCleanup = false;
    std::string strRun;
    std::string strHoldLock;       // helper: hold the marker lock; the value is unused
    long nWaitLockMs = -1;         // helper: wait this long for the marker lock
    bool bChangeKey = false;       // helper: try to change the marker key
    std::string strService;        // helper: run as this one-shot service
    std::string strServiceResult;  // the file the service writes its outcome to
    SContext context;
};

// The check's child process now running, for the Ctrl+C handler.
std::atomic<CChildProcess*> g_pRunning{nullptr};
std::atomic<bool> g_bInterrupted{false};

BOOL WINAPI OnConsoleControl(DWORD nEvent) {
    if (nEvent != CTRL_C_EVENT && nEvent != CTRL_BREAK_EVENT && nEvent != CTRL_CLOSE_EVENT)
        return FALSE;
    g_bInterrupted = true;
    CChildProcess* pChild = g_pRunning.load();
    if (pChild != nullptr)
        pChild->Kill();
    return TRUE;
}

std::string ModulePath() {
    char szPath[MAX_PATH];
    const DWORD nLength = ::GetModuleFileNameA(NULL, szPath, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH)
        return std::string();
    return szPath;
}

std::string FolderOf(const std::string& strPath) {
    const size_t nSlash = strPath.find_last_of("\\/");
    return nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
}

std::string FullPath(const std::string& strPath) {
    char szFull[MAX_PATH];
    const DWORD nLength = ::GetFullPathNameA(strPath.c_str(), MAX_PATH, szFull, NULL);
    return nLength == 0 || nLength >= MAX_PATH ? strPath : std::string(szFull);
}

void PrintUsage(FILE* pOut) {
    std::fprintf(pOut,
                 "usage: idrovan-conformance [--list | --run NAME | --cleanup]\n"
                 "                           [--disposable-machine] [--programs DIR]\n"
                 "                           [--other-programs DIR] [--journal FILE]\n"
                 "                           [--msi PACKAGE]\n"
                 "Checks what Idrovan's programs promise about Windows on this machine; TAP on\n"
                 "stdout. --disposable-machine also makes and undoes changes (accounts, a first\n"
                 "run) and needs %s set to this computer's name; with --msi it also\n"
                 "installs and removes that package.\n"
                 "Exit codes: 0 passed, 1 a check failed, 2 refused, 3 internal error.\n",
                 kDisposableVariable);
}

bool ParseOptions(int argc, char** argv, SOptions* pOptions) {
    SContext& context = pOptions->context;
    context.bDisposable = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strArg == "--list") {
            pOptions->bList = true;
        } else if (strArg == "--cleanup") {
            pOptions->bCleanup = true;
        } else if (strArg == "--disposable-machine") {
            context.bDisposable = true;
        } else if (strArg == "--run" && bHasValue) {
            pOptions->strRun = argv[++i];
        } else if (strArg == "--programs" && bHasValue) {
            context.strPrograms = FullPath(argv[++i]);
        } else if (strArg == "--other-programs" && bHasValue) {
            context.strOtherPrograms = FullPath(argv[++i]);
        } else if (strArg == "--msi" && bHasValue) {
            context.strMsi = FullPath(argv[++i]);
        } else if (strArg == "--journal" && bHasValue) {
            context.strJournal = FullPath(argv[++i]);
        } else if (strArg == "--hold-lock") {
            pOptions->strHoldLock = "yes";
        } else if (strArg == "--change-key") {
            pOptions->bChangeKey = true;
        } else if (strArg == "--service" && i + 2 < argc) {
            pOptions->strService = argv[++i];
            pOptions->strServiceResult = argv[++i];
        } else if (strArg == "--wait-lock" && bHasValue) {
            pOptions->nWaitLockMs = std::atol(argv[++i]);
        } else {
            std::fprintf(stderr, "idrovan-conformance: unknown or incomplete option %s\n",
                         strArg.c_str());
            return false;
        }
    }
    context.strSelf = ModulePath();
    if (context.strPrograms.empty())
        context.strPrograms = FolderOf(context.strSelf);
    if (context.strJournal.empty())
        context.strJournal = FolderOf(context.strSelf) + "\\idrovan-conformance.undo";
    return !context.strSelf.empty();
}

std::vector<SCheck> AllChecks() {
    std::vector<SCheck> checks;
    AddStaticChecks(checks);
    AddAccountChecks(checks);  // the disposable first run comes before what reads the marker
    AddServiceChecks(checks);
    AddMsiChecks(checks);
    AddLockChecks(checks);
    AddKeyChecks(checks);
    AddIdChecks(checks);
    return checks;
}

// --run NAME: one check in this process; its outcome as the last line of output.
int RunOne(const SContext& context, const std::string& strName) {
    for (const SCheck& check : AllChecks()) {
        if (strName != check.pszName || check.pfnRun == nullptr)
            continue;
        if (check.bChangesMachine && !context.bDisposable) {
            std::printf("RESULT windows only with --disposable-machine\n");
            return kExitPassed;
        }
        const CResult result = check.pfnRun(context);
        static const char* const kKinds[] = {"pass", "fail", "wine-gap", "windows"};
        std::fflush(stdout);
        std::printf("\nRESULT %s %s\n", kKinds[result.eOutcome], result.strReason.c_str());
        std::fflush(stdout);
        return kExitPassed;
    }
    std::fprintf(stderr, "idrovan-conformance: no check named %s\n", strName.c_str());
    return kExitInternal;
}

std::string ChildCommandLine(const SContext& context, const char* pszName) {
    std::string strLine = QuoteArgument(context.strSelf) + " --run " + pszName + " --programs " +
                          QuoteArgument(context.strPrograms) + " --journal " +
                          QuoteArgument(context.strJournal);
    if (!context.strOtherPrograms.empty())
        strLine += " --other-programs " + QuoteArgument(context.strOtherPrograms);
    if (!context.strMsi.empty())
        strLine += " --msi " + QuoteArgument(context.strMsi);
    if (context.bDisposable)
        strLine += " --disposable-machine";
    return strLine;
}

// Runs one check in a child and turns what it said into its TAP lines.
EOutcome RunInChild(const SContext& context, const SCheck& check, int nNumber) {
    CChildProcess child;
    CResult result = CResult::Fail("the check's process could not be started");
    std::vector<std::string> notes;
    if (child.Start(ChildCommandLine(context, check.pszName))) {
        g_pRunning = &child;
        DWORD nExitCode = 0;
        const bool bEnded = child.Finish(kCheckTimeoutMs, &nExitCode);
        g_pRunning = nullptr;
        std::string strOutput = child.Output();
        bool bResult = false;
        size_t nStart = 0;
        while (nStart < strOutput.size()) {
            size_t nEnd = strOutput.find('\n', nStart);
            if (nEnd == std::string::npos)
                nEnd = strOutput.size();
            std::string strLine = strOutput.substr(nStart, nEnd - nStart);
            nStart = nEnd + 1;
            if (!strLine.empty() && strLine.back() == '\r')
                strLine.pop_back();
            if (strLine.compare(0, 7, "RESULT ") == 0) {
                const std::string strRest = strLine.substr(7);
                const size_t nSpace = strRest.find(' ');
                const std::string strKind = strRest.substr(0, nSpace);
                const std::string strWhy =
                    nSpace == std::string::npos ? std::string() : strRest.substr(nSpace + 1);
                bResult = true;
                result = strKind == "pass"       ? CResult::Pass()
                         : strKind == "wine-gap" ? CResult::WineGap(strWhy)
                         : strKind == "windows"  ? CResult::WindowsSkip(strWhy)
                                                 : CResult::Fail(strWhy);
            } else if (!strLine.empty()) {
                notes.push_back(strLine);
            }
        }
        if (!bEnded)
            result = CResult::Fail("timed out after " + std::to_string(kCheckTimeoutMs / 1000) +
                                   " s and was killed");
        else if (!bResult)
            result = CResult::Fail("the check's process ended without a result, exit code " +
                                   std::to_string(nExitCode));
        if (g_bInterrupted)
            result = CResult::Fail("interrupted");
    }
    switch (result.eOutcome) {
        case kPass:
            std::printf("ok %d - %s\n", nNumber, check.pszName);
            break;
        case kFail:
            std::printf("not ok %d - %s\n", nNumber, check.pszName);
            notes.insert(notes.begin(), "failed: " + result.strReason);
            break;
        case kWineGap:
            std::printf("ok %d - %s # SKIP wine-gap: %s\n", nNumber, check.pszName,
                        result.strReason.c_str());
            break;
        case kWindowsSkip:
            std::printf("ok %d - %s # SKIP windows: %s\n", nNumber, check.pszName,
                        result.strReason.c_str());
            break;
    }
    std::printf("#   claim: %s\n#   stated: %s\n#   expected per: %s\n", check.pszClaim,
                check.pszStated, check.pszReference);
    for (const std::string& strNote : notes)
        std::printf("#   %s\n", strNote.c_str());
    std::fflush(stdout);
    return result.eOutcome;
}

void PrintMachine(const SContext& context) {
    const std::string strWine = WineVersion();
    std::printf("TAP version 13\n");
    std::printf("# idrovan-conformance %s (%s), mode: %s\n", IDROVAN_VERSION_TEXT, kArchitecture,
                context.bDisposable ? "disposable-machine" : "default");
    std::printf("# windows: %s; wow64: %s; wine: %s\n", WindowsVersion().c_str(),
                IsWow64() ? "yes" : "no", strWine.empty() ? "no" : strWine.c_str());
    std::printf("# token: elevation type %s, elevated %s; EnableLUA: %s; session: %lu\n",
                ElevationTypeName().c_str(), IsTokenElevated() ? "yes" : "no", EnableLua().c_str(),
                SessionId());
    for (const std::string& strFolder : {context.strPrograms, context.strOtherPrograms}) {
        if (strFolder.empty())
            continue;
        for (const char* pszName : {"idrovan.exe", "idrovan-cli.exe", "idrovan.dll"}) {
            const std::string strPath = strFolder + "\\" + pszName;
            const std::string strDigest = Sha256OfFile(strPath);
            std::printf("# sha256 %s %s\n", strDigest.empty() ? "(missing)" : strDigest.c_str(),
                        strPath.c_str());
        }
    }
    std::printf("# sha256 %s %s\n", Sha256OfFile(context.strSelf).c_str(), context.strSelf.c_str());
}

bool ProductInstalled(std::string* pWhich) {
    const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    for (REGSAM nView : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY hKey = NULL;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | nView, &hKey) !=
            ERROR_SUCCESS)
            continue;
        char szSubKey[256];
        bool bFound = false;
        for (DWORD i = 0; !bFound; ++i) {
            DWORD nSubKey = sizeof(szSubKey);
            if (::RegEnumKeyExA(hKey, i, szSubKey, &nSubKey, NULL, NULL, NULL, NULL) !=
                ERROR_SUCCESS)
                break;
            char szName[256] = {0};
            DWORD nName = sizeof(szName);
            if (::RegGetValueA(hKey, szSubKey, "DisplayName", RRF_RT_REG_SZ, NULL, szName,
                               &nName) == ERROR_SUCCESS &&
                std::strncmp(szName, "Idrovan", 7) == 0) {
                *pWhich = szName;
                bFound = true;
            }
        }
        ::RegCloseKey(hKey);
        hKey = NULL;
        if (bFound)
            return true;
    }
    return false;
}

// The three things --disposable-machine needs; prints why it refuses and returns false.
bool MayChangeMachine(const SContext& context) {
    char szNamed[256] = {0};
    const DWORD nNamed = ::GetEnvironmentVariableA(kDisposableVariable, szNamed, sizeof(szNamed));
    const std::string strComputer = ComputerName();
    if (nNamed == 0 || nNamed >= sizeof(szNamed) || strComputer.empty() ||
        ::lstrcmpiA(szNamed, strComputer.c_str()) != 0) {
        std::printf(
            "Bail out! refused: %s must name this computer (%s) for "
            "--disposable-machine\n",
            kDisposableVariable, strComputer.c_str());
        return false;
    }
    HKEY hKey = NULL;
    const LONG nStatus = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\lrgDocID", 0,
                                         KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (hKey != NULL)
        ::RegCloseKey(hKey);
    hKey = NULL;
    if (nStatus != ERROR_FILE_NOT_FOUND) {
        std::printf(
            "Bail out! refused: the marker key exists (status %ld): this machine has an "
            "ID that --disposable-machine could take away\n",
            nStatus);
        return false;
    }
    std::string strProduct;
    if (ProductInstalled(&strProduct)) {
        std::printf("Bail out! refused: %s is installed\n", strProduct.c_str());
        return false;
    }
    if (JournalHasEntries(context.strJournal)) {
        std::printf(
            "Bail out! refused: the undo journal %s of an earlier run is not replayed; "
            "run --cleanup first\n",
            context.strJournal.c_str());
        return false;
    }
    return true;
}

int RunAll(const SContext& context) {
    PrintMachine(context);
    if (context.bDisposable && !MayChangeMachine(context))
        return kExitRefused;
    std::vector<SCheck> checks;
    std::string strWithoutMsi;
    for (const SCheck& check : AllChecks()) {
        if (check.pfnRun == nullptr || (check.bChangesMachine && !context.bDisposable))
            continue;
        if (context.strMsi.empty() && std::strncmp(check.pszName, "msi_", 4) == 0)
            strWithoutMsi += std::string(" ") + check.pszName;
        else
            checks.push_back(check);
    }
    // Not a skip of the run: the package was not asked for, and the head says which checks it
    // would have decided.
    if (!strWithoutMsi.empty())
        std::printf("# not run, no MSI given (--msi PATH):%s\n", strWithoutMsi.c_str());
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    std::printf("1..%u\n", static_cast<unsigned>(checks.size()));
    int nCounts[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < checks.size(); ++i) {
        if (g_bInterrupted) {
            std::printf("not ok %u - %s\n#   failed: not run, interrupted\n",
                        static_cast<unsigned>(i + 1), checks[i].pszName);
            ++nCounts[kFail];
            continue;
        }
        ++nCounts[RunInChild(context, checks[i], static_cast<int>(i + 1))];
    }
    bool bUndone = true;
    if (context.bDisposable) {
        bUndone = ReplayJournal(context.strJournal, "# ");
        if (!bUndone) {
            std::printf("# the undo journal %s could not be replayed in full; run --cleanup\n",
                        context.strJournal.c_str());
        }
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    const int nFailed = nCounts[kFail] + (bUndone ? 0 : 1);
    std::printf("%d passed, %d failed, %d skipped\n", nCounts[kPass], nFailed,
                nCounts[kWineGap] + nCounts[kWindowsSkip]);
    std::fflush(stdout);
    return nFailed != 0 ? kExitFailed : kExitPassed;
}

}  // namespace

void Note(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::vprintf(pszFormat, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    SOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage(stderr);
        return kExitRefused;
    }
    const SContext& context = options.context;
    if (options.bList) {
        for (const SCheck& check : AllChecks())
            std::printf("%s%s%s\n", check.pszName,
                        check.bChangesMachine ? " (--disposable-machine)" : "",
                        check.pfnRun == nullptr ? " (the other architecture's build only)" : "");
        return kExitPassed;
    }
    if (!options.strHoldLock.empty())
        return HoldMarkerLockUntilKilled();
    if (options.nWaitLockMs >= 0)
        return WaitForMarkerLock(static_cast<DWORD>(options.nWaitLockMs));
    if (options.bChangeKey)
        return TryToChangeMarkerKey();
    if (!options.strService.empty())
        return RunAsLockService(options.strService, options.strServiceResult);
    if (options.bCleanup) {
        std::printf("replaying %s\n", context.strJournal.c_str());
        return ReplayJournal(context.strJournal, "") ? kExitPassed : kExitFailed;
    }
    if (!options.strRun.empty())
        return RunOne(context, options.strRun);
    return RunAll(context);
}
