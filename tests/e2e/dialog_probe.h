// Looks at a running idrovan.exe from another process, the way a user meets it: finds its
// windows by caption, reads their texts and states, clicks buttons. Shared by the end-to-end
// test driver and the small probe that scripts/run.sh uses to read the ID off the screen.
//
// Everything here polls with generous bounds instead of sleeping for fixed times: Wine on a
// busy two-core machine can take seconds to show a first window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace idrovan_e2e {

constexpr const char* kMainCaption = "Veltrane Idrovan";
constexpr int kFieldId = 3001;
constexpr int kCopyButtonId = 3002;
constexpr DWORD kPatienceMs = 60000;

inline std::string WindowText(HWND hWnd) {
    char text[4096] = {0};
    // WM_GETTEXT is answered by the control's own process, so this works across processes.
    SendMessageTimeoutA(hWnd, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, kPatienceMs, nullptr);
    return text;
}

inline std::string ClassName(HWND hWnd) {
    char name[256] = {0};
    GetClassNameA(hWnd, name, sizeof(name));
    return name;
}

inline DWORD ProcessOf(HWND hWnd) {
    DWORD nProcessId = 0;
    GetWindowThreadProcessId(hWnd, &nProcessId);
    return nProcessId;
}

// Calls the predicate every 20 ms until it holds or the bound has passed.
template <typename Predicate>
bool WaitUntil(Predicate predicate, DWORD nBoundMs = kPatienceMs) {
    const ULONGLONG nEnd = GetTickCount64() + nBoundMs;
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (GetTickCount64() > nEnd) {
            return false;
        }
        Sleep(20);
    }
}

struct TopLevelSearch {
    DWORD nProcessId;
    const std::string* pCaption;
    std::vector<HWND> found;
};

// A named CALLBACK rather than a lambda: on 32-bit Windows a lambda converts only to a cdecl
// pointer, and EnumWindows calls stdcall.
inline BOOL CALLBACK CollectTopLevelWindow(HWND hWnd, LPARAM lParam) {
    auto* pSearch = reinterpret_cast<TopLevelSearch*>(lParam);
    if (IsWindowVisible(hWnd) &&
        (pSearch->nProcessId == 0 || ProcessOf(hWnd) == pSearch->nProcessId) &&
        WindowText(hWnd) == *pSearch->pCaption) {
        pSearch->found.push_back(hWnd);
    }
    return TRUE;
}

// The visible top-level windows of one process (any process for 0) with this caption.
inline std::vector<HWND> TopLevelWindows(DWORD nProcessId, const std::string& caption) {
    TopLevelSearch search{nProcessId, &caption, {}};
    EnumWindows(CollectTopLevelWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline HWND WaitForWindow(DWORD nProcessId, const std::string& caption,
                          DWORD nBoundMs = kPatienceMs) {
    HWND hFound = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> windows = TopLevelWindows(nProcessId, caption);
            hFound = windows.empty() ? nullptr : windows.front();
            return hFound != nullptr;
        },
        nBoundMs);
    return hFound;
}

// The direct children of a window in Z order, which for a dialog is its template order.
inline std::vector<HWND> Children(HWND hParent) {
    std::vector<HWND> children;
    for (HWND hChild = GetWindow(hParent, GW_CHILD); hChild != nullptr;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        children.push_back(hChild);
    }
    return children;
}

// Lets the dialog's thread handle what was posted to it before now. A sent message is handled
// inside the thread's next GetMessage or PeekMessage, before that call returns a posted one; so
// once several sent messages have come back, each in a later call, every message that was
// already queued (WM_POSTINIT above all) has been dispatched.
inline void Settle(HWND hDialog) {
    for (int i = 0; i < 3; ++i) {
        SendMessageTimeoutA(hDialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kPatienceMs, nullptr);
    }
}

// Presses a button without waiting for what it does, so that a modal box it opens cannot
// block the caller.
inline void PressButton(HWND hDialog, int nId) {
    PostMessageA(GetDlgItem(hDialog, nId), BM_CLICK, 0, 0);
}

}  // namespace idrovan_e2e
