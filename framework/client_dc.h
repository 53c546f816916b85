// CClientDC: the device context of a window's client area, from GetDC in the constructor and
// given back with ReleaseDC on the same window in the destructor. Made on the stack for one
// drawing or measuring step, on the window's thread.
#pragma once

#include <windows.h>

#include "framework/dc.h"

class CWnd;

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};
