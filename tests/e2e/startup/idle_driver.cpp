// idle_driver.exe <program> <seconds> <focused|unfocused>: starts the program, waits for its
// settled "Veltrane Idrovan" dialog, puts the pointer in the screen's top-left corner (away from
// the dialog), leaves the keyboard focus on the ID field (focused) or moves it to Close
// (unfocused), and then lets the dialog sit for <seconds>. Prints the CPU time that the process
// used meanwhile (GetProcessTimes) and closes the dialog. idle_cpu.sh runs it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/e2e/dialog_probe.h"
#include "tests/e2e/idrovan_run.h"

namespace {

double CpuMilliseconds(HANDLE hProcess) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(hProcess, &created, &exited, &kernel, &user)) {
        return -1;
    }
    const auto toUnits = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (toUnits(kernel) + toUnits(user)) / 10000.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: idle_driver <program> <seconds> <focused|unfocused>\n");
        return 2;
    }
    const DWORD nSeconds = static_cast<DWORD>(std::atoi(argv[2]));
    const bool bUnfocused = std::strcmp(argv[3], "unfocused") == 0;
    CIdrovanRun run(argv[1]);
    const HWND hDialog = run.Started() ? run.WaitForSettledDialog() : nullptr;
    if (hDialog == nullptr) {
        std::fprintf(stderr, "no dialog from %s\n", argv[1]);
        return 1;
    }
    SetCursorPos(0, 0);
    if (bUnfocused) {
        PostMessageA(hDialog, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(hDialog, IDCANCEL)), TRUE);
    }
    idrovan_e2e::Settle(hDialog);
    Sleep(1000);  // paints and the focus change are over
    const double dStart = CpuMilliseconds(run.Process());
    std::printf("ready %lu\n", GetProcessId(run.Process()));
    std::fflush(stdout);
    Sleep(nSeconds * 1000);
    const double dEnd = CpuMilliseconds(run.Process());
    std::printf("%s, pointer elsewhere, %lu s: %.1f ms CPU (GetProcessTimes)\n", argv[3], nSeconds,
                dEnd - dStart);
    std::fflush(stdout);
    idrovan_e2e::PressButton(hDialog, IDCANCEL);
    run.WaitForExit();
    return 0;
}
