// startup_timer.exe <runs> <program A> <program B> [<program C> ...]: starts the programs in
// turn, <runs> rounds of one start each, and measures from CreateProcess to the moment their
// "Veltrane Idrovan" dialog is visible; then reads the process's peak memory and closes the
// dialog. Prints the median of each and the ratio of A's median to each other's. A first,
// unmeasured start of each warms Wine's caches; alternating spreads any load of the machine
// over all programs alike. STARTUP_TIMER_LINGER_MS keeps each dialog open that much longer
// before closing it (the breakdown's first paints come after the measured moment).
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
    // The breakdown wants the first paints, which come after the dialog is visible.
    if (const char* pLinger = std::getenv("STARTUP_TIMER_LINGER_MS")) {
        Sleep(static_cast<DWORD>(std::atoi(pLinger)));
    }
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
    if (argc < 4) {
        std::fprintf(stderr, "usage: startup_timer <runs> <program A> <program B> [...]\n");
        return 2;
    }
    const int nRuns = std::max(1, std::atoi(argv[1]));
    const std::vector<std::string> programs(argv + 2, argv + argc);
    const size_t nPrograms = programs.size();
    std::vector<std::vector<double>> times(nPrograms);
    std::vector<SIZE_T> peaks(nPrograms, 0);
    for (const std::string& program : programs) {
        TimeOneStart(program);
    }
    for (int i = 0; i < nRuns; ++i) {
        for (size_t p = 0; p < nPrograms; ++p) {
            Sample sample = TimeOneStart(programs[p]);
            if (sample.dMilliseconds < 0) {
                // Once in a while, under a loaded machine, a start fails outright; try once more.
                sample = TimeOneStart(programs[p]);
            }
            if (sample.dMilliseconds < 0) {
                std::fprintf(stderr, "no dialog from %s\n", programs[p].c_str());
                return 1;
            }
            times[p].push_back(sample.dMilliseconds);
            peaks[p] = std::max(peaks[p], sample.nPeakWorkingSet);
        }
    }
    for (size_t p = 0; p < nPrograms; ++p) {
        std::printf(
            "%c %s: median %.1f ms to a visible dialog over %d runs, peak working set %zu KiB\n",
            static_cast<char>('A' + p), programs[p].c_str(), Median(times[p]), nRuns,
            static_cast<size_t>(peaks[p] / 1024));
    }
    // Beside the ratio of the medians, the median of the ratios within each round: the two
    // starts of a round meet much the same load of the machine.
    for (size_t p = 1; p < nPrograms; ++p) {
        std::vector<double> roundRatios;
        for (int i = 0; i < nRuns; ++i) {
            roundRatios.push_back(times[0][i] / times[p][i]);
        }
        std::printf("ratio A / %c: %.3f (median of the rounds' own ratios: %.3f)\n",
                    static_cast<char>('A' + p), Median(times[0]) / Median(times[p]),
                    Median(roundRatios));
    }
    return 0;
}
