// CAboutDlg: the About box (template 1000), run modally from the main dialog's system menu.
// Everything it shows comes from its template; it ends through OK or its close box.
// UI thread only.
#pragma once

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
