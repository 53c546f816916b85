// The DPI that a window is drawn at, and pixel sizes scaled to it.
//
// A size written for 96 DPI (the "100 %" setting) is scaled by dpi / 96 with MulDiv's rounding.
// The DPI of a window comes from GetDpiForWindow (Windows 10 1607 and later: the DPI of the
// monitor the window is on, for a per-monitor aware program). Older Windows lack that function,
// so it is looked up at run time, and there the system DPI (LOGPIXELSY of the screen) serves:
// the program still starts on Windows 7. Any thread; no state beyond the looked-up address.
#pragma once

#include <windows.h>

// 96: the DPI at which one pixel of a size is one pixel on the screen.
constexpr UINT kDefaultDpi = 96;

// The DPI of hWnd; the system DPI for a null window or where Windows has no per-window DPI.
// Never 0.
UINT AfxGetWindowDpi(HWND hWnd);
// The system DPI: LOGPIXELSY of the screen, 96 when it cannot be read.
UINT AfxGetSystemDpi();
// nPixelsAt96 scaled to nDpi, rounded to the nearest pixel.
int AfxScaleForDpi(int nPixelsAt96, UINT nDpi);

// Sent by Windows 10 1703 and later to each child of a per-monitor aware window after the
// window's DPI changed; named here because the headers define it only for newer targets.
constexpr UINT kWmDpiChangedAfterParent = 0x02E3;
