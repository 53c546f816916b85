// CPaintDC: the device context of one BeginPaint/EndPaint pair, for a WM_PAINT handler. The
// constructor begins painting the window and the destructor ends it, so every paint that began
// also ends. Made on the stack in the handler, on the window's thread.
#pragma once

#include <windows.h>

#include "framework/dc.h"

class CWnd;

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd = nullptr;
};
