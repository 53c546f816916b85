// CButton: a BUTTON control, usually bound to a dialog's control with DDX_Control.
// UI thread only.
#pragma once

#include "framework/wnd.h"

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int nCheck);
    UINT GetState() const;
};
