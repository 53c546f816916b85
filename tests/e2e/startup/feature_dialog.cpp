// The feature-equivalent yardstick for idrovan.exe's start-up: the same template, icon, manifest
// and build flags as bare_dialog, plus exactly what idrovan.exe needs of the platform before its
// dialog is visible and nothing more: the common control classes registered, one worker thread
// started before the dialog (waking once a second, as the hover timer's does), and one hidden
// layered popup made while the dialog initialises (the tooltip's window).
//
// Built twice: as feature_dialog for the benchmark, and with IDROVAN_STARTUP_TRACE as
// feature_dialog_trace, whose trace points carry the names of idrovan.exe's matching steps so
// that startup_breakdown.sh can set the two side by side.
#include <windows.h>
#include <commctrl.h>

#include "support/startup_trace.h"

namespace {

HANDLE g_hWake = nullptr;
volatile LONG g_nKeepRunning = 1;

DWORD WINAPI Worker(LPVOID) {
    while (InterlockedCompareExchange(&g_nKeepRunning, 1, 1) != 0) {
        WaitForSingleObject(g_hWake, 1000);
    }
    return 0;
}

LRESULT CALLBACK PopupProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

// Stands for the program's global application object.
struct TraceStart {
    TraceStart() { IDROVAN_TRACE("app_constructed"); }
} g_traceStart;

HWND MakeLayeredPopup(HWND hOwner) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PopupProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "FeatureDialogPopup";
    RegisterClassA(&windowClass);
    HWND hPopup = CreateWindowExA(WS_EX_LAYERED, windowClass.lpszClassName, "",
                                  WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, hOwner,
                                  nullptr, windowClass.hInstance, nullptr);
    if (hPopup != nullptr) {
        SetLayeredWindowAttributes(hPopup, 0, 99 * 255 / 100, LWA_ALPHA);
        ShowWindow(hPopup, SW_HIDE);
    }
    return hPopup;
}

INT_PTR CALLBACK FeatureDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    IDROVAN_TRACE_MESSAGE(hDlg, message, wParam, lParam, true);
    static_cast<void>(lParam);
    if (message == WM_INITDIALOG) {
        IDROVAN_TRACE("init_dialog");
        IDROVAN_TRACE("tooltip_create");
        MakeLayeredPopup(GetDlgItem(hDlg, 3001));
        IDROVAN_TRACE("tooltip_created");
        IDROVAN_TRACE("init_dialog_done");
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    IDROVAN_TRACE("init_instance");
    INITCOMMONCONTROLSEX initCtrls{sizeof(initCtrls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&initCtrls);
    IDROVAN_TRACE("common_controls_done");
    IDROVAN_TRACE("timer_construct");
    g_hWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE hWorker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
    IDROVAN_TRACE("timer_thread_started");
    IDROVAN_TRACE("timer_constructed");
    IDROVAN_TRACE("dialog_constructed");
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(1001), nullptr, FeatureDialogProc, 0);
    InterlockedExchange(&g_nKeepRunning, 0);
    SetEvent(g_hWake);
    if (hWorker != nullptr) {
        WaitForSingleObject(hWorker, INFINITE);
        CloseHandle(hWorker);
    }
    CloseHandle(g_hWake);
    return 0;
}
