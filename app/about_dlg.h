// CAboutDlg: the About box (template 1000), run modally from the main dialog's system menu.
// Everything it shows comes from its template; it ends through OK or its close box. It opens
// centred on the main dialog.
// UI thread only.
#pragma once

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};
