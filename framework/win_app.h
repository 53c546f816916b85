// CWinApp: the application object. The program defines exactly one, as a global; it registers
// itself when constructed. The program's entry (WinMain, defined beside the CWinApp
// constructor) calls its InitInstance once; FALSE ends the program at once (after
// ExitInstance) without a message loop, TRUE runs the message loop (Run) until WM_QUIT.
// Everything here runs on the program's single user-interface thread.
#pragma once

#include <windows.h>

#include "framework/cmd_target.h"

class CWnd;

// The framework's standard help command.
constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    // Names the registry key under HKEY_CURRENT_USER\Software under which settings would be
    // kept. Nothing is read or written there by the framework.
    void SetRegistryKey(LPCSTR lpszRegistryKey);

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
    LPCSTR m_pszAppName = nullptr;
    char m_szRegistryKey[256] = {};

    // The framework's help command handler. The program ships no help, so it shows nothing.
    void OnHelp();

protected:
    DECLARE_MESSAGE_MAP()
};

// The single application object (null before it is constructed and after it is destroyed).
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The module that holds the program's resources.
HINSTANCE AfxGetResourceHandle();
// The module that holds resource lpszName of type lpszType (the program's own module).
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);

// What WinMain does: runs the application object's start-up and returns the exit code
// (-1 when there is no application object).
int AfxWinMain(HINSTANCE hInstance, int nCmdShow);
