// startup_timer.exe <runs> <program A> <program B>: starts the two programs in turn, <runs>
// times each, and measures from CreateProcess to the moment their "Veltrane Idrovan" dialog is
// visible; then reads the process's peak memory and closes the dialog. Prints the median of
// each and the ratio A / B. A first, unmeasured start of each warms Wine's caches.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/dialog_probe.h"
#include "tests/e2e/idrovan_run.h"

namespace {

struct Sample {
    double dMilliseconds = -1;
    SIZE_T nPeakWorkingSet = 0;
};

Sample TimeOneStart(const std::string& exePath) {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    CIdrovanRun run(exePath);
    Sample sample;
    if (!run.Started()) {
        return sample;
    }
    HWND hDialog = nullptr;
    // Polls without sleeping, so that the moment is not rounded to a sleep period.
    const ULONGLONG nEnd = GetTickCount64() + idrovan_e2e::kPatienceMs;
    while (GetTickCount64() < nEnd) {
        HWND hFound = FindWindowA(nullptr, idrovan_e2e::kMainCaption);
        if (hFound != nullptr && idrovan_e2e::ProcessOf(hFound) == run.ProcessId() &&
            IsWindowVisible(hFound)) {
            hDialog = hFound;
            break;
        }
        SwitchToThread();
    }
    QueryPerformanceCounter(&now);
    if (hDialog == nullptr) {
        return sample;
    }
    sample.dMilliseconds =
        1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
    idrovan_e2e::Settle(hDialog);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(run.Process(), &counters, sizeof(counters))) {
        sample.nPeakWorkingSet = counters.PeakWorkingSetSize;
    }
    idrovan_e2e::PressButton(hDialog, IDCANCEL);
    run.WaitForExit();
    return sample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: startup_timer <runs> <program A> <program B>\n");
        return 2;
    }
    const int nRuns = std::max(1, std::atoi(argv[1]));
    const std::string programs[2] = {argv[2], argv[3]};
    std::vector<double> times[2];
    SIZE_T peaks[2] = {0, 0};
    for (const std::string& program : programs) {
        TimeOneStart(program);
    }
    for (int i = 0; i < nRuns; ++i) {
        for (int p = 0; p < 2; ++p) {
            Sample sample = TimeOneStart(programs[p]);
            if (sample.dMilliseconds < 0) {
                std::fprintf(stderr, "no dialog from %s\n", programs[p].c_str());
                return 1;
            }
            times[p].push_back(sample.dMilliseconds);
            peaks[p] = std::max(peaks[p], sample.nPeakWorkingSet);
        }
    }
    for (int p = 0; p < 2; ++p) {
        std::printf(
            "%s: median %.1f ms to a visible dialog over %d runs, peak working set %zu KiB\n",
            programs[p].c_str(), Median(times[p]), nRuns, static_cast<size_t>(peaks[p] / 1024));
    }
    std::printf("ratio A / B: %.3f\n", Median(times[0]) / Median(times[1]));
    return 0;
}
