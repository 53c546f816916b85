#include "idrovan_app.h"

#include <windows.h>
#include <commctrl.h>

#include "idrovan_dlg.h"
#include "platform/win32/dll_search_win.h"
#include "support/startup_trace.h"

// The framework's standard help command; the program ships no help of its own.
// clang-format off
BEGIN_MESSAGE_MAP(CIdrovanApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()
// clang-format on

CIdrovanApp theApp;

CIdrovanApp::CIdrovanApp() {
    IDROVAN_TRACE("app_constructed");
}

BOOL CIdrovanApp::InitInstance() {
    RestrictDllSearchToSystem32();
    // Visual styles of the version 6 controls the manifest asks for need the classes
    // registered before the first dialog is created.
    IDROVAN_TRACE("init_instance");
    INITCOMMONCONTROLSEX initCtrls;
    initCtrls.dwSize = sizeof(initCtrls);
    initCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&initCtrls);
    IDROVAN_TRACE("common_controls_done");

    CWinApp::InitInstance();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CIdrovanDlg dlg;
    IDROVAN_TRACE("dialog_constructed");
    m_pMainWnd = &dlg;
    dlg.DoModal();
    IDROVAN_TRACE("dialog_ended");
    // The dialog object ends with this scope; nothing may reach it through the app after.
    m_pMainWnd = nullptr;

    // FALSE: leave the program instead of entering a message loop of the application's own.
    return FALSE;
}
