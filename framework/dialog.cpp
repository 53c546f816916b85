#include "framework/dialog.h"

#include "framework/data_exchange.h"
#include "framework/thread_state.h"
#include "framework/win_app.h"

// clang-format off
BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()
// clang-format on

namespace {

// Binds hWnd to the dialog object being created, at the first message that reaches the dialog
// procedure; the object, or null when there is none to bind or binding failed.
CDialog* BindDialogBeingCreated(HWND hWnd, UINT message, LPARAM lParam) {
    CThreadState& state = AfxGetThreadState();
    CDialog* pDlg = state.pDlgInit;
    if (pDlg == nullptr && message == WM_INITDIALOG) {
        pDlg = reinterpret_cast<CDialog*>(lParam);
    }
    if (pDlg == nullptr || pDlg->m_hWnd != nullptr) {
        return nullptr;
    }
    state.pDlgInit = nullptr;
    return pDlg->SubclassWindow(hWnd) ? pDlg : nullptr;
}

}  // namespace

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Once the dialog is bound, its messages pass through AfxWndProc first; they reach this
    // procedure only on their way to the system's default dialog handling.
    if (GetWindowLongPtrA(hWnd, GWLP_USERDATA) == 0) {
        CDialog* pDlg = BindDialogBeingCreated(hWnd, message, lParam);
        if (pDlg != nullptr && message == WM_INITDIALOG) {
            // Bound only now, so the window procedure has not seen this one.
            return pDlg->RouteMessage(message, wParam, lParam);
        }
    }
    // A bound dialog's WM_INITDIALOG is handled by its object and never gets here. One that
    // does was not bound to the object that made it (lParam): nothing could ever end it, so
    // end it now, with the result DoModal gives for a dialog that could not be made.
    if (message == WM_INITDIALOG && lParam != 0 &&
        reinterpret_cast<CDialog*>(lParam)->m_hWnd != hWnd) {
        ::EndDialog(hWnd, -1);
    }
    return FALSE;
}

CDialog::CDialog() = default;

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd) {}

CDialog::CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd)
    : m_lpszTemplateName(lpszTemplateName), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

BOOL CDialog::InitModalIndirect(LPCDLGTEMPLATEA lpDialogTemplate, CWnd* pParentWnd) {
    if (lpDialogTemplate == nullptr) {
        return FALSE;
    }
    m_lpDialogTemplate = lpDialogTemplate;
    m_pParentWnd = pParentWnd;
    return TRUE;
}

LPCDLGTEMPLATEA CDialog::LoadTemplate(HINSTANCE* phInst) const {
    if (m_lpDialogTemplate != nullptr) {
        *phInst = AfxGetInstanceHandle();
        return m_lpDialogTemplate;
    }
    if (m_lpszTemplateName == nullptr) {
        return nullptr;
    }
    const HINSTANCE hInst = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
    const HRSRC hResource = FindResourceA(hInst, m_lpszTemplateName, RT_DIALOG);
    if (hResource == nullptr) {
        return nullptr;
    }
    const HGLOBAL hTemplate = LoadResource(hInst, hResource);
    if (hTemplate == nullptr) {
        return nullptr;
    }
    *phInst = hInst;
    return static_cast<LPCDLGTEMPLATEA>(LockResource(hTemplate));
}

HWND CDialog::GetOwnerWindow() const {
    HWND hOwner = nullptr;
    if (m_pParentWnd != nullptr) {
        hOwner = m_pParentWnd->m_hWnd;
    } else if (CWnd* pMain = AfxGetMainWnd(); pMain != nullptr && pMain != this) {
        hOwner = pMain->m_hWnd;
    }
    if (hOwner == nullptr || !::IsWindow(hOwner)) {
        return nullptr;
    }
    return GetAncestor(hOwner, GA_ROOT);
}

INT_PTR CDialog::DoModal() {
    if (m_hWnd != nullptr) {
        return -1;
    }
    HINSTANCE hInst = nullptr;
    const LPCDLGTEMPLATEA lpTemplate = LoadTemplate(&hInst);
    if (lpTemplate == nullptr) {
        return -1;
    }
    CThreadState& state = AfxGetThreadState();
    CDialog* const pPreviousInit = state.pDlgInit;
    state.pDlgInit = this;
    const INT_PTR nResult = DialogBoxIndirectParamA(hInst, lpTemplate, GetOwnerWindow(),
                                                    &AfxDlgProc, reinterpret_cast<LPARAM>(this));
    if (state.pDlgInit == this) {
        state.pDlgInit = pPreviousInit;
    }
    return nResult;
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATEA lpDialogTemplate, CWnd* pParentWnd) {
    if (m_hWnd != nullptr || lpDialogTemplate == nullptr) {
        return FALSE;
    }
    m_pParentWnd = pParentWnd;
    CThreadState& state = AfxGetThreadState();
    CDialog* const pPreviousInit = state.pDlgInit;
    state.pDlgInit = this;
    const HWND hWnd =
        CreateDialogIndirectParamA(AfxGetInstanceHandle(), lpDialogTemplate,
                                   pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                                   &AfxDlgProc, reinterpret_cast<LPARAM>(this));
    if (state.pDlgInit == this) {
        state.pDlgInit = pPreviousInit;
    }
    if (hWnd == nullptr) {
        return FALSE;
    }
    if (m_hWnd != hWnd) {
        // Made but not bound to this object: nobody would destroy it.
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    m_bOwnsWindow = true;
    return TRUE;
}

void CDialog::EndDialog(int nResult) {
    if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, nResult);
    }
}

LRESULT CDialog::HandleInitDialog(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (...) {
        return FALSE;
    }
    return !dx.m_bFailed;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (pDX == nullptr || pDX->m_pDlgWnd == nullptr || rControl.m_hWnd != nullptr) {
        return;
    }
    const HWND hControl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (hControl == nullptr || !rControl.SubclassWindow(hControl)) {
        pDX->m_bFailed = TRUE;
    }
}
