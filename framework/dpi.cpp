#include "framework/dpi.h"

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// Looked up once: the address stays valid for the life of the process, since user32.dll is
// never unloaded while windows exist.
GetDpiForWindowFn LookUpGetDpiForWindow() {
    const HMODULE hUser = ::GetModuleHandleA("user32.dll");
    if (hUser == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(hUser, "GetDpiForWindow")));
}

}  // namespace

UINT AfxGetSystemDpi() {
    const HDC hScreen = ::GetDC(nullptr);
    if (hScreen == nullptr) {
        return kDefaultDpi;
    }
    const int nDpi = ::GetDeviceCaps(hScreen, LOGPIXELSY);
    ::ReleaseDC(nullptr, hScreen);
    return nDpi > 0 ? static_cast<UINT>(nDpi) : kDefaultDpi;
}

UINT AfxGetWindowDpi(HWND hWnd) {
    static const GetDpiForWindowFn pfnGetDpiForWindow = LookUpGetDpiForWindow();
    if (hWnd != nullptr && pfnGetDpiForWindow != nullptr) {
        // 0 for a window that is gone.
        const UINT nDpi = pfnGetDpiForWindow(hWnd);
        if (nDpi != 0) {
            return nDpi;
        }
    }
    return AfxGetSystemDpi();
}

int AfxScaleForDpi(int nPixelsAt96, UINT nDpi) {
    return ::MulDiv(nPixelsAt96, static_cast<int>(nDpi), static_cast<int>(kDefaultDpi));
}
