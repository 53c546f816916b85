// Dialog data exchange between a dialog's controls and its members, run by
// CDialog::UpdateData from DoDataExchange. UI thread only.
#pragma once

#include <windows.h>

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls -> members; FALSE: members -> controls
    CWnd* m_pDlgWnd;
    BOOL m_bFailed = FALSE;  // some exchange could not be done
};

// Binds control nIDC of the dialog to rControl by subclassing it, once: a control that is
// already bound is left as it is. A missing control or a failed subclass marks the exchange
// failed and binds nothing.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
