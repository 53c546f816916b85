// The recorder behind the trace points of support/startup_trace.h, linked only into the
// instrumented build idrovan_startup_trace. Points go into a fixed table (no allocation, any
// thread); when the process ends the table is appended to the file that IDROVAN_TRACE_FILE
// names (else idrovan_startup_trace.txt in the current directory), one run per block:
//   run <program file name>
//   <microseconds since the process was created> <point name>
// startup_breakdown.sh turns the blocks into a table of steps.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/startup_trace.h"

namespace {

struct Point {
    const char* pName;
    int nControl;  // dialog control identifier for messages, else 0
    LONGLONG nTime;
};

constexpr int kMaxPoints = 512;
Point g_points[kMaxPoints];
std::atomic<int> g_nPoints{0};

LONGLONG Now() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                                 now.dwLowDateTime);
}

void Record(const char* pName, int nControl) {
    const int n = g_nPoints.fetch_add(1);
    if (n < kMaxPoints) {
        g_points[n] = Point{pName, nControl, Now()};
    }
}

// Writes the table when the process ends, whichever way it ends normally.
struct Writer {
    ~Writer() {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
            return;
        }
        const LONGLONG nCreated = static_cast<LONGLONG>(
            (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
        const char* pPath = std::getenv("IDROVAN_TRACE_FILE");
        FILE* pFile = std::fopen(pPath != nullptr ? pPath : "idrovan_startup_trace.txt", "a");
        if (pFile == nullptr) {
            return;
        }
        char szModule[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, szModule, MAX_PATH);
        const char* pSlash = std::strrchr(szModule, '\\');
        std::fprintf(pFile, "run %s\n", pSlash != nullptr ? pSlash + 1 : szModule);
        const int nPoints = std::min(g_nPoints.load(), kMaxPoints);
        for (int i = 0; i < nPoints; ++i) {
            const Point& point = g_points[i];
            const double dMicroseconds = static_cast<double>(point.nTime - nCreated) / 10.0;
            if (point.nControl != 0) {
                std::fprintf(pFile, "%.0f %s:%d\n", dMicroseconds, point.pName, point.nControl);
            } else {
                std::fprintf(pFile, "%.0f %s\n", dMicroseconds, point.pName);
            }
        }
        std::fclose(pFile);
    }
};
Writer g_writer;

}  // namespace

void StartupTracePoint(const char* pName) {
    Record(pName, 0);
}

void StartupTraceMessage(void* hWnd, unsigned message, unsigned long long wParam, long long lParam,
                         bool bEnter) {
    HWND hTarget = static_cast<HWND>(hWnd);
    const char* pName = nullptr;
    switch (message) {
        case WM_PAINT:
            pName = bEnter ? "paint_begin" : "paint_end";
            break;
        case WM_SHOWWINDOW:
            pName = bEnter && wParam != 0 ? "dialog_show" : nullptr;
            break;
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            // Sent by a control to its dialog while it paints: the moment each control draws.
            pName = bEnter ? "control_colour" : nullptr;
            hTarget = reinterpret_cast<HWND>(lParam);
            break;
        default:
            break;
    }
    if (pName == nullptr) {
        return;
    }
    int nControl = GetDlgCtrlID(hTarget);
    if (nControl == 0) {
        // Not a dialog control (those are numbered, the label -1): the dialog or the tooltip.
        nControl = GetParent(hTarget) == nullptr ? -100 : -101;
    }
    Record(pName, nControl);
}
