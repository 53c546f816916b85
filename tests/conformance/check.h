#pragma once

// One conformance check: a claim the programs make about Windows, where the project states it,
// the Microsoft page that says what Windows does, and the code that finds out on this machine.
//
// A check runs in a child process of its own (`idrovan-conformance --run NAME`), so that a crash
// or a hang costs that check alone. It reports through CResult and may write notes (Note()),
// which the parent copies into the TAP output under the check's line. Checks run one at a time.

#include <string>
#include <vector>

// How a check ended. A skip always says why, and says whether Wine lacks what Windows has
// (kWineGap: the check cannot decide under Wine, in the manner of Wine's own todo_wine) or this
// Windows machine lacks what the check needs (kWindowsSkip: no seclogon service, UAC off, not an
// administrator).
enum EOutcome { kPass, kFail, kWineGap, kWindowsSkip };

struct CResult {
    EOutcome eOutcome;
    std::string strReason;

    static CResult Pass() { return {kPass, std::string()}; }
    static CResult Fail(const std::string& why) { return {kFail, why}; }
    static CResult WineGap(const std::string& why) { return {kWineGap, why}; }
    static CResult WindowsSkip(const std::string& why) { return {kWindowsSkip, why}; }
};

// What every check may look at: the folders of the programs under test and the mode.
struct SContext {
    std::string strSelf;      // this program's full path
    std::string strPrograms;  // the folder holding idrovan.exe, idrovan-cli.exe and idrovan.dll
    // The other architecture's programs (x86 beside x64 or the reverse), or empty when not given.
    std::string strOtherPrograms;
    std::string strJournal;  // the undo journal's path
    std::string strMsi;      // --msi: the package to install and remove, or empty
    bool bDisposable;        // --disposable-machine: checks that change the machine run too
};

struct SCheck {
    const char* pszName;
    const char* pszClaim;      // what the programs promise
    const char* pszStated;     // where the project says so
    const char* pszReference;  // the Microsoft page that gives the expected result
    bool bChangesMachine;      // runs only with --disposable-machine
    // Null for a check of the other architecture's build, which this one lists but never runs.
    CResult (*pfnRun)(const SContext& context);
};

// A line of what the check saw, printed as a TAP comment under its result.
void Note(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// The checks of each family, in the order they run.
void AddStaticChecks(std::vector<SCheck>& checks);
void AddLockChecks(std::vector<SCheck>& checks);
void AddKeyChecks(std::vector<SCheck>& checks);
void AddIdChecks(std::vector<SCheck>& checks);
void AddAccountChecks(std::vector<SCheck>& checks);
void AddServiceChecks(std::vector<SCheck>& checks);
// Named "msi_...": they run only where --msi names a package.
void AddMsiChecks(std::vector<SCheck>& checks);
