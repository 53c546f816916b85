#include "idrovan_dlg.h"

#include "about_dlg.h"
#include "framework/clipboard_writer.h"
#include "framework/data_exchange.h"
#include "framework/paint_dc.h"
#include "framework/menu.h"
#include "framework/types.h"
#include "framework/win_app.h"
#include "identification/drive_id.h"
#include "resource.h"
#include "support/startup_trace.h"

// clang-format off
BEGIN_MESSAGE_MAP(CIdrovanDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_BUTTON_COPY, &CIdrovanDlg::OnCopyToClipboard)
    ON_CONTROL(FN_COPY_BUSY, IDC_EDIT_ID, &CIdrovanDlg::OnFieldCopyBusy)
    ON_CONTROL(FN_COPY_FAILED, IDC_EDIT_ID, &CIdrovanDlg::OnFieldCopyFailed)
    ON_MESSAGE(WM_POSTINIT, &CIdrovanDlg::OnPostInit)
    ON_MESSAGE(WM_SYSCOLORCHANGE, &CIdrovanDlg::OnSysColorChange)
    ON_MESSAGE(WM_SETTINGCHANGE, &CIdrovanDlg::OnSettingChange)
    ON_MESSAGE(WM_DPICHANGED, &CIdrovanDlg::OnDpiChanged)
END_MESSAGE_MAP()
// clang-format on

CIdrovanDlg::CIdrovanDlg() : CDialog(IDD_IDROVAN_DIALOG) {
    m_hIcon = LoadIconA(AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON),
                        MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_strID.Empty();
}

CIdrovanDlg::~CIdrovanDlg() = default;

void CIdrovanDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_ID, m_fieldID);
    DDX_Control(pDX, IDC_BUTTON_COPY, m_btnCopy);
}

BOOL CIdrovanDlg::OnInitDialog() {
    IDROVAN_TRACE("init_dialog");
    CDialog::OnInitDialog();
    IDROVAN_TRACE("controls_bound");

    AddAboutEntry();
    IDROVAN_TRACE("about_entry_added");
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    // Not yet shown: it appears where it is put here.
    CenterWindow();

    IDROVAN_TRACE("menu_and_icons_done");
    const bool bHaveID = RetrieveID();
    IDROVAN_TRACE("id_derived");
    if (bHaveID) {
        m_fieldID.SetFieldText(m_strID.GetText());
    }
    IDROVAN_TRACE("field_text_set");
    UpdateData(FALSE);

    PostMessage(WM_POSTINIT, 0, 0);
    IDROVAN_TRACE("init_dialog_done");
    // TRUE: the system gives the focus to the first tab stop, the ID field.
    return TRUE;
}

void CIdrovanDlg::AddAboutEntry() {
    CMenu* pSysMenu = GetSystemMenu(FALSE);
    if (pSysMenu == nullptr) {
        return;
    }
    CVeltraneString strAboutMenu;
    // A missing string leaves the text empty, and an empty entry is not worth adding.
    strAboutMenu.LoadResourceText(IDS_ABOUTBOX, nullptr);
    if (strAboutMenu.GetLength() == 0) {
        return;
    }
    pSysMenu->AppendMenu(MF_SEPARATOR);
    pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu.GetText());
}

bool CIdrovanDlg::RetrieveID() {
    CDriveID driveID;
    m_strID = driveID.GetID();
    return m_strID.GetLength() != 0;
}

LRESULT CIdrovanDlg::OnPostInit(WPARAM wParam, LPARAM lParam) {
    IDROVAN_TRACE("post_init");
    static_cast<void>(wParam);
    static_cast<void>(lParam);
    const BOOL bHaveID = m_strID.GetLength() != 0 ? TRUE : FALSE;
    m_btnCopy.EnableWindow(bHaveID);
    m_fieldID.EnableWindow(bHaveID);
    if (!bHaveID) {
        ShowError(IDS_ERROR_NO_ID);
    }
    return 0;
}

void CIdrovanDlg::ShowError(UINT nTextId) {
    CVeltraneString strMessage;
    CVeltraneString strCaption;
    strMessage.LoadResourceText(nTextId, nullptr);
    strCaption.LoadResourceText(IDS_ERROR_CAPTION, nullptr);
    MessageBox(strMessage.GetText(), strCaption.GetText(), MB_OK | MB_ICONHAND);
}

void CIdrovanDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    // The system uses the low four bits of a command internally.
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CIdrovanDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CIdrovanDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CIdrovanDlg::OnCopyToClipboard() {
    if (m_strID.GetLength() == 0) {
        return;
    }
    CClipboardWriter writer;
    const int nLength = m_strID.GetLength();
    if (writer.CopyText(GetSafeHwnd(), m_strID.GetText(), nLength)) {
        return;
    }
    // Whatever was on the clipboard before is still there; a user who pastes it would hand the
    // vendor the wrong text.
    ShowError(writer.WasBusy() ? IDS_ERROR_CLIPBOARD_BUSY : IDS_ERROR_COPY_FAILED);
}

// A double-click in the field copies as the button does, and fails as loudly.
void CIdrovanDlg::OnFieldCopyBusy() {
    ShowError(IDS_ERROR_CLIPBOARD_BUSY);
}

void CIdrovanDlg::OnFieldCopyFailed() {
    ShowError(IDS_ERROR_COPY_FAILED);
}

LRESULT CIdrovanDlg::OnSysColorChange(WPARAM wParam, LPARAM lParam) {
    if (m_fieldID.GetSafeHwnd() != nullptr) {
        m_fieldID.SendMessage(WM_SYSCOLORCHANGE, wParam, lParam);
    }
    return Default();
}

LRESULT CIdrovanDlg::OnSettingChange(WPARAM wParam, LPARAM lParam) {
    if (m_fieldID.GetSafeHwnd() != nullptr) {
        m_fieldID.SendMessage(WM_SETTINGCHANGE, wParam, lParam);
    }
    return Default();
}

LRESULT CIdrovanDlg::OnDpiChanged(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // The system's dialog handling rescales the dialog, its controls and their fonts; the field
    // then cuts its text and lays out its tooltip anew.
    const LRESULT nResult = Default();
    m_fieldID.DpiChanged();
    return nResult;
}
