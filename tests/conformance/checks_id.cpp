// The ID as every program gives it, against the ID worked out here from the facts themselves.

#include <windows.h>

#include "include/idrovan.h"
#include "tests/e2e/dialog_probe.h"
#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/independent_id.h"
#include "tests/conformance/machine_profile.h"

namespace {

// The independent ID, or a skip/fail result in *pResult.
bool ExpectedId(std::string* pId, CResult* pResult) {
    if (!IndependentDigestSelfCheck()) {
        *pResult = CResult::Fail("the independent digest fails its own known answers");
        return false;
    }
    SIdFacts facts;
    std::string strWhy;
    if (!ReadIdFacts(&facts, &strWhy)) {
        *pResult = strWhy.compare(0, 9, "no marker") == 0
                       ? CResult::WindowsSkip(strWhy +
                                              ": a first run (idrovan-cli as "
                                              "administrator, or --disposable-machine) "
                                              "makes one")
                       : CResult::Fail(strWhy);
        return false;
    }
    Note("facts: root %s, file system %s (serial and marker not shown)", facts.strRoot.c_str(),
         facts.strFileSystem.c_str());
    *pId = DeriveId(facts);
    return true;
}

// idrovan-cli --no-write from the folder against the independent ID.
CResult CheckConsole(const std::string& strFolder) {
    std::string strExpected;
    CResult result = CResult::Pass();
    if (!ExpectedId(&strExpected, &result))
        return result;
    const std::string strCli = strFolder + "\\idrovan-cli.exe";
    if (!FileExists(strCli))
        return CResult::Fail(strCli + " is missing");
    CChildProcess cli;
    if (!cli.Start(QuoteArgument(strCli) + " --no-write")) {
        const std::string strError = std::to_string(::GetLastError());
        // Wine runs 32-bit programs only where the system has its 32-bit half.
        if (IsUnderWine())
            return CResult::WineGap("this Wine could not start " + strCli + " (error " + strError +
                                    "): no 32-bit Wine here");
        return CResult::Fail(strCli + " could not be started: " + strError);
    }
    DWORD nCode = 0;
    const long nExit = cli.Finish(30000, &nCode) ? static_cast<long>(nCode) : -1;
    const std::string strOutput = cli.Output();
    const std::string strId = strOutput.substr(0, strOutput.find_first_of("\r\n"));
    Note("%s --no-write exited %ld", strCli.c_str(), nExit);
    // STATUS_DLL_NOT_FOUND: a Wine without its 32-bit half starts the process but cannot load
    // its kernel32.
    if (IsUnderWine() && static_cast<unsigned long>(nExit) == 0xC0000135UL)
        return CResult::WineGap("this Wine could not load the 32-bit kernel32 for " + strCli);
    if (nExit != 0)
        return CResult::Fail("exit code " + std::to_string(nExit) + ": " + strOutput);
    if (strId != strExpected)
        return CResult::Fail("it printed " + strId + ", the facts give " + strExpected);
    return CResult::Pass();
}

CResult CheckOwnConsole(const SContext& context) {
    return CheckConsole(context.strPrograms);
}

CResult CheckOtherConsole(const SContext& context) {
    if (context.strOtherPrograms.empty())
        return CResult::WindowsSkip("no --other-programs folder given");
#ifndef _WIN64
    if (!IsWow64())
        return CResult::WindowsSkip("32-bit Windows runs no x64 program");
#endif
    return CheckConsole(context.strOtherPrograms);
}

typedef int(IDROVAN_CALL* GetComputerIdFn)(unsigned int, char*, unsigned int, unsigned int*,
                                           idrovan_detail*);

CResult CheckDll(const SContext& context) {
    std::string strExpected;
    CResult result = CResult::Pass();
    if (!ExpectedId(&strExpected, &result))
        return result;
    const std::string strDll = context.strPrograms + "\\idrovan.dll";
    HMODULE hDll = ::LoadLibraryExA(strDll.c_str(), NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (hDll == NULL)
        return CResult::Fail(strDll + " could not be loaded: " + std::to_string(::GetLastError()));
    auto pfnGet = reinterpret_cast<GetComputerIdFn>(
        reinterpret_cast<void*>(::GetProcAddress(hDll, "idrovan_get_computer_id")));
    char szId[IDROVAN_ID_SIZE] = {0};
    unsigned int nNeeded = 0;
    idrovan_detail detail;
    ZeroMemory(&detail, sizeof(detail));
    detail.size = sizeof(detail);
    const int nResult =
        pfnGet != nullptr ? pfnGet(IDROVAN_READ_ONLY, szId, sizeof(szId), &nNeeded, &detail) : -1;
    ::FreeLibrary(hDll);
    hDll = NULL;
    Note("idrovan_get_computer_id(IDROVAN_READ_ONLY): %d, step %d, marker key %d", nResult,
         detail.step, detail.marker_key);
    if (nResult != IDROVAN_OK)
        return CResult::Fail("result " + std::to_string(nResult));
    if (strExpected != szId)
        return CResult::Fail(std::string("the DLL gave ") + szId + ", the facts give " +
                             strExpected);
    return CResult::Pass();
}

// The dialog, as a user meets it: its ID field read from another process.
CResult CheckDialog(const SContext& context) {
    std::string strExpected;
    CResult result = CResult::Pass();
    if (!ExpectedId(&strExpected, &result))
        return result;
    CChildProcess dialog;
    if (!dialog.Start(QuoteArgument(context.strPrograms + "\\idrovan.exe")))
        return CResult::Fail("idrovan.exe could not be started: " +
                             std::to_string(::GetLastError()));
    const HWND hDialog = idrovan_e2e::WaitForWindow(dialog.ProcessId(), idrovan_e2e::kMainCaption);
    if (hDialog == NULL)
        return CResult::Fail("no dialog appeared (is there a desktop?)");
    const std::string strShown =
        idrovan_e2e::WindowText(::GetDlgItem(hDialog, idrovan_e2e::kFieldId));
    ::PostMessageA(hDialog, WM_CLOSE, 0, 0);
    DWORD nExitCode = 0;
    if (!dialog.Finish(30000, &nExitCode))
        Note("the dialog did not close within 30 s and was ended");
    if (strShown != strExpected)
        return CResult::Fail("the dialog showed " + strShown + ", the facts give " + strExpected);
    return CResult::Pass();
}

}  // namespace

void AddIdChecks(std::vector<SCheck>& checks) {
    const char* const pszStated = "docs/design.md#promises-every-change-keeps";
    const char* const pszReference =
        "https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-getvolumeinformationa; "
        "https://learn.microsoft.com/windows/win32/api/sysinfoapi/"
        "nf-sysinfoapi-getsystemwindowsdirectorya";
    checks.push_back({"id_console",
                      "idrovan-cli --no-write prints the ID that the volume serial, file system, "
                      "root creation time and marker give",
                      pszStated, pszReference, false, CheckOwnConsole});
    checks.push_back({"id_console_other_architecture",
                      "the other architecture's idrovan-cli prints the same ID", pszStated,
                      pszReference, false, CheckOtherConsole});
    checks.push_back({"id_dialog", "idrovan.exe shows the same ID in its field", pszStated,
                      pszReference, false, CheckDialog});
    checks.push_back({"id_dll", "idrovan.dll gives the same ID, read-only", pszStated, pszReference,
                      false, CheckDll});
}
