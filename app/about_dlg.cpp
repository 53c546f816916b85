#include "about_dlg.h"

#include "resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    // The box has no controls of its own to bind.
    static_cast<void>(pDX);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Its owner is the main dialog.
    CenterWindow();
    return TRUE;
}
