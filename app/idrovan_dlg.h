// CIdrovanDlg: the main dialog (template 1001). It derives the computer ID once while it
// initialises, shows it in the ID field and lets the user copy it; when no ID can be derived
// it disables the field and the Copy button and says so in an error box.
//
// The decision about the controls and the error box waits for WM_POSTINIT, which the dialog
// posts to itself at the end of OnInitDialog, so that the box appears over a dialog that is
// already on screen. The dialog opens centred on its monitor's work area. A Copy that fails
// says so in an error box, never silently. Changes of system colours, settings and DPI, which
// only the top-level window gets, are passed on to the ID field. Run modally by CIdrovanApp; UI
// thread only. The dialog owns its button, its field (with the field's hover thread) and the ID
// text as members.
#pragma once

#include <windows.h>

#include "controls/static_field.h"
#include "framework/button.h"
#include "framework/dialog.h"
#include "support/veltrane_string.h"

constexpr UINT WM_POSTINIT = WM_USER + 102;

class CIdrovanDlg : public CDialog {
public:
    CIdrovanDlg();
    ~CIdrovanDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    // Derives the ID into m_strID; true when there is one.
    bool RetrieveID();

    LRESULT OnPostInit(WPARAM wParam, LPARAM lParam);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCopyToClipboard();
    void OnFieldCopyBusy();
    void OnFieldCopyFailed();
    LRESULT OnSysColorChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnSettingChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // Shows the error box with the string nTextId.
    void ShowError(UINT nTextId);

    DECLARE_MESSAGE_MAP()

    // A shared icon from the resources: the system keeps it, so it is never destroyed here.
    HICON m_hIcon = nullptr;
    CButton m_btnCopy;
    CStaticField m_fieldID;
    CVeltraneString m_strID;

private:
    void AddAboutEntry();
};
