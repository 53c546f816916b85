// The ID as every program gives it, against the ID worked out here from the facts themselves.

#include <windows.h>

#include "include/idrovan.h"
#include "tests/e2e/dialog_probe.h"
#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/independent_id.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

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

// The ID under another time zone: the root's time goes into it in UTC, so the zone must not
// matter. The zone is one of the system's own (Nepal's, 5:45 ahead of UTC, which no runner
// uses), set back from the journal.
CResult CheckOtherTimeZone(const SContext& context) {
    std::string strExpected;
    CResult result = CResult::Pass();
    if (!ExpectedId(&strExpected, &result))
        return result;
    DYNAMIC_TIME_ZONE_INFORMATION before, zone;
    ZeroMemory(&before, sizeof(before));
    ZeroMemory(&zone, sizeof(zone));
    ::GetDynamicTimeZoneInformation(&before);
    zone.Bias = -345;
    lstrcpyW(zone.StandardName, L"Nepal Standard Time");
    lstrcpyW(zone.DaylightName, L"Nepal Daylight Time");
    lstrcpyW(zone.TimeZoneKeyName, L"Nepal Standard Time");
    zone.DynamicDaylightTimeDisabled = TRUE;
    // Seen under Wine 8: the call does not return (the check was killed after 300 s). Wine
    // takes its zone from its host's TZ in any case.
    if (IsUnderWine())
        return CResult::WineGap(
            "SetDynamicTimeZoneInformation does not return under Wine 8, "
            "whose zone is its host's");
    if (!JournalTimeZoneToRestore(context.strJournal))
        return CResult::Fail("the undo journal could not be written");
    if (!SetSystemTimeZone(&zone)) {
        const std::string strError = std::to_string(::GetLastError());
        if (IsUnderWine())
            return CResult::WineGap("SetDynamicTimeZoneInformation failed (" + strError +
                                    "): Wine takes its zone from its host");
        return CResult::Fail("the time zone could not be set: " + strError);
    }
    DYNAMIC_TIME_ZONE_INFORMATION now;
    ZeroMemory(&now, sizeof(now));
    ::GetDynamicTimeZoneInformation(&now);
    Note("time zone bias before %ld min, now %ld min", before.Bias, now.Bias);
    CResult outcome = CResult::Pass();
    if (now.Bias != zone.Bias) {
        outcome = IsUnderWine() ? CResult::WineGap(
                                      "SetDynamicTimeZoneInformation reported success "
                                      "and left the zone as it was")
                                : CResult::Fail("the time zone did not change");
    } else {
        outcome = CheckConsole(context.strPrograms);
    }
    if (!SetSystemTimeZone(&before))
        Note("the time zone could not be set back here; the journal does it at the end");
    return outcome;
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
    checks.push_back({"id_other_time_zone", "idrovan-cli gives the same ID under another time zone",
                      pszStated,
                      "https://learn.microsoft.com/windows/win32/api/timezoneapi/"
                      "nf-timezoneapi-setdynamictimezoneinformation",
                      true, CheckOtherTimeZone});
    checks.push_back({"id_dll", "idrovan.dll gives the same ID, read-only", pszStated, pszReference,
                      false, CheckDll});
}
