#include "framework/win_app.h"

#include <cstring>

#include "framework/wnd.h"

namespace {

CWinApp* g_pApp = nullptr;

}  // namespace

// clang-format off
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()
// clang-format on

CWinApp::CWinApp(LPCSTR lpszAppName) : m_pszAppName(lpszAppName) {
    if (g_pApp == nullptr) {
        g_pApp = this;
    }
}

CWinApp::~CWinApp() {
    if (g_pApp == this) {
        g_pApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::SetRegistryKey(LPCSTR lpszRegistryKey) {
    if (lpszRegistryKey == nullptr) {
        return;
    }
    std::strncpy(m_szRegistryKey, lpszRegistryKey, sizeof(m_szRegistryKey) - 1);
    m_szRegistryKey[sizeof(m_szRegistryKey) - 1] = '\0';
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
    return g_pApp;
}

CWnd* AfxGetMainWnd() {
    return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
    if (g_pApp != nullptr && g_pApp->m_hInstance != nullptr) {
        return g_pApp->m_hInstance;
    }
    return GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    return AfxGetInstanceHandle();
}

HINSTANCE AfxFindResourceHandle(LPCSTR /*lpszName*/, LPCSTR /*lpszType*/) {
    // The program keeps all its resources in its own module.
    return AfxGetResourceHandle();
}

int AfxWinMain(HINSTANCE hInstance, int /*nCmdShow*/) {
    CWinApp* pApp = AfxGetApp();
    if (pApp == nullptr) {
        return -1;
    }
    pApp->m_hInstance = hInstance;
    try {
        if (!pApp->InitInstance()) {
            return pApp->ExitInstance();
        }
        return pApp->Run();
    } catch (...) {
        return -1;
    }
}

// The program's entry. It lives in the same object file as the CWinApp constructor on purpose:
// a program that defines its application object pulls this file out of the static library, and
// with it the entry that the C runtime's start-up code asks for.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int nCmdShow) {
    return AfxWinMain(hInstance, nCmdShow);
}
