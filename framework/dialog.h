// CDialog: a dialog built from a dialog template, modal (DoModal) or modeless (CreateIndirect).
//
// The template comes from the resources (constructor with a template identifier or name, looked
// up with AfxFindResourceHandle) or from memory (InitModalIndirect / CreateIndirect with a
// DLGTEMPLATE the caller keeps alive while the dialog is created). The dialog window is bound to
// the object before WM_INITDIALOG, so every message from then on passes through the message
// map; Default() hands a message to the system's dialog handling.
//
// Order of events: WM_INITDIALOG -> OnInitDialog (the base runs UpdateData(FALSE), which runs
// DoDataExchange: DDX_Control binds template controls to member objects). A TRUE result lets
// the system give the focus to the first tab-stop control. IDOK (Enter, the OK button) runs
// OnOK, which takes the data back (UpdateData(TRUE)) and ends the dialog with IDOK; IDCANCEL
// (Escape, the close box, button 2) runs OnCancel, which ends it with IDCANCEL. DoModal runs the
// modal loop on the calling thread and returns that result (-1 when the dialog could not be
// created or bound to this object, which ends it at once). The window is destroyed before
// DoModal returns; the object may be used again.
//
// With no parent given, a modal dialog is owned by the application's main window when that
// window exists and is not the dialog itself, so that window stays disabled while it runs.
// UI thread only.
#pragma once

#include <windows.h>

#include "framework/wnd.h"

class CDataExchange;

class CDialog : public CWnd {
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    explicit CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Uses an in-memory template for the next DoModal.
    BOOL InitModalIndirect(LPCDLGTEMPLATEA lpDialogTemplate, CWnd* pParentWnd = nullptr);
    virtual INT_PTR DoModal();
    // Modeless dialog from an in-memory template; destroy it with DestroyWindow.
    BOOL CreateIndirect(LPCDLGTEMPLATEA lpDialogTemplate, CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    // Runs DoDataExchange in the given direction; false when an exchange failed.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    LPCSTR m_lpszTemplateName = nullptr;
    LPCDLGTEMPLATEA m_lpDialogTemplate = nullptr;
    CWnd* m_pParentWnd = nullptr;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    LPCDLGTEMPLATEA LoadTemplate(HINSTANCE* phInst) const;
    HWND GetOwnerWindow() const;
};

// The dialog procedure used for every CDialog: it binds the dialog window to its object at
// the first message and otherwise leaves everything to the bound window procedure.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
