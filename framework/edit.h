// CEdit: an EDIT control, usually bound to a dialog's control with DDX_Control; derive from it
// to change the control's behaviour through a message map. UI thread only.
#pragma once

#include "framework/wnd.h"

class CEdit : public CWnd {
public:
    void SetSel(int nStartChar, int nEndChar, BOOL bNoScroll = FALSE);
    void GetSel(int& nStartChar, int& nEndChar) const;
    BOOL SetReadOnly(BOOL bReadOnly = TRUE);
    void ReplaceSel(LPCSTR lpszNewText, BOOL bCanUndo = FALSE);
    void LimitText(int nChars = 0);
};
