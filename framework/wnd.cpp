#include "framework/wnd.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "framework/menu.h"
#include "framework/thread_state.h"
#include "framework/win_app.h"
#include "support/startup_trace.h"

namespace {

// Set on a window whose binding ended while another procedure sat in front of ours: ours stays
// in that chain and forwards the window's messages to the procedure it had replaced.
constexpr char kForwardProp[] = "Idrovan.ForwardProc";

bool IsOurProcInstalled(HWND hWnd) {
    return GetWindowLongPtrA(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&AfxWndProc);
}

bool IsCtlColorMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

// Whether hWnd is of lpszClassName, given as CreateWindowEx takes it: a name or an atom.
bool IsOfClass(HWND hWnd, LPCSTR lpszClassName) {
    if (IS_INTRESOURCE(lpszClassName)) {
        return GetClassWord(hWnd, GCW_ATOM) == LOWORD(reinterpret_cast<ULONG_PTR>(lpszClassName));
    }
    char szName[257];
    return GetClassNameA(hWnd, szName, sizeof(szName)) > 0 && lstrcmpiA(szName, lpszClassName) == 0;
}

// Names the window that CreateEx is making: the first one of the requested class created on
// this thread while the hook is in place, before that window gets any message. A window of
// another class made meanwhile (the system may make the thread's default IME window inside the
// first top-level CreateWindowEx) is passed over.
LRESULT CALLBACK CreationHook(int nCode, WPARAM wParam, LPARAM lParam) {
    CThreadState& state = AfxGetThreadState();
    const HWND hWnd = reinterpret_cast<HWND>(wParam);
    if (nCode == HCBT_CREATEWND && state.pWndInit != nullptr && state.hWndInit == nullptr &&
        IsOfClass(hWnd, state.lpszClassInit)) {
        state.hWndInit = hWnd;
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

bool IsOurClassProc(HWND hWnd) {
    return GetClassLongPtrA(hWnd, GCLP_WNDPROC) == reinterpret_cast<ULONG_PTR>(&AfxWndProc);
}

}  // namespace

void AfxSetCreationPendingHook(void (*pfn)(void* pContext), void* pContext) {
    CThreadState& state = AfxGetThreadState();
    state.pfnCreationPending = pfn;
    state.pCreationPendingContext = pContext;
}

LPCSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
    static std::mutex mutex;
    static std::set<std::string> names;

    HINSTANCE hInstance = AfxGetInstanceHandle();
    char name[128];
    std::snprintf(name, sizeof(name), "Idrovan:%p:%x:%p:%p:%p", static_cast<void*>(hInstance),
                  nClassStyle, static_cast<void*>(hCursor), static_cast<void*>(hbrBackground),
                  static_cast<void*>(hIcon));

    std::lock_guard<std::mutex> lock(mutex);
    WNDCLASSA wc{};
    if (!GetClassInfoA(hInstance, name, &wc)) {
        wc.style = nClassStyle;
        wc.lpfnWndProc = &AfxWndProc;
        wc.hInstance = hInstance;
        wc.hIcon = hIcon;
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.lpszClassName = name;
        if (RegisterClassA(&wc) == 0) {
            return nullptr;
        }
    }
    return names.insert(name).first->c_str();
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (pWnd == nullptr) {
        CThreadState& state = AfxGetThreadState();
        if (state.pWndInit != nullptr && state.pWndInit->m_hWnd == nullptr &&
            hWnd == state.hWndInit) {
            // The first message of the window that CreateEx is making. Another unbound window of
            // our class that gets a message meanwhile is not taken for it.
            pWnd = state.pWndInit;
            state.pWndInit = nullptr;
            pWnd->BindToWindow(hWnd, nullptr);
        } else if (HANDLE hForward = GetPropA(hWnd, kForwardProp)) {
            if (message == WM_NCDESTROY) {
                RemovePropA(hWnd, kForwardProp);
            }
            return CallWindowProcA(reinterpret_cast<WNDPROC>(hForward), hWnd, message, wParam,
                                   lParam);
        } else {
            return DefWindowProcA(hWnd, message, wParam, lParam);
        }
    }
    IDROVAN_TRACE_MESSAGE(hWnd, message, wParam, lParam, true);
    const LRESULT result = pWnd->RouteMessage(message, wParam, lParam);
    IDROVAN_TRACE_MESSAGE(hWnd, message, wParam, lParam, false);
    return result;
}

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd == nullptr) {
        return;
    }
    const HWND hWnd = m_hWnd;
    const bool bDestroy = m_bOwnsWindow;
    // Unbind first: the derived parts of this object are gone, so the window's last messages
    // must not reach them.
    if (m_bRouted) {
        UnbindFromWindow();
    } else {
        Detach();
    }
    if (bDestroy && ::IsWindow(hWnd)) {
        ::DestroyWindow(hWnd);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (hWnd == nullptr || !IsOurProcInstalled(hWnd)) {
        return nullptr;
    }
    return reinterpret_cast<CWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) {
        return nullptr;
    }
    if (CWnd* pWnd = FromHandlePermanent(hWnd)) {
        return pWnd;
    }
    return AfxTempObject(AfxGetThreadState().tempWnds, hWnd);
}

BOOL CWnd::Attach(HWND hWnd) {
    if (m_hWnd != nullptr || hWnd == nullptr) {
        return FALSE;
    }
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    if (m_bRouted) {
        return UnsubclassWindow();
    }
    const HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    m_bOwnsWindow = false;
    return hWnd;
}

void CWnd::BindToWindow(HWND hWnd, WNDPROC pfnSuper) {
    m_hWnd = hWnd;
    m_pfnSuper = pfnSuper;
    m_bRouted = true;
    SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void CWnd::UnbindFromWindow() {
    if (m_bRouted && ::IsWindow(m_hWnd)) {
        if (m_pfnSuper != nullptr) {
            if (IsOurProcInstalled(m_hWnd)) {
                SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
            } else {
                SetPropA(m_hWnd, kForwardProp, reinterpret_cast<HANDLE>(m_pfnSuper));
            }
        }
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
    }
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
    m_bRouted = false;
    m_bOwnsWindow = false;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (m_hWnd != nullptr || !::IsWindow(hWnd)) {
        return FALSE;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(hWnd, &processId);
    if (processId != GetCurrentProcessId()) {
        return FALSE;
    }
    // GWLP_USERDATA is how a window finds its object; a window that uses it already (or is
    // bound to another object) cannot be bound.
    if (GetWindowLongPtrA(hWnd, GWLP_USERDATA) != 0) {
        return FALSE;
    }
    SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetLastError(ERROR_SUCCESS);
    const LONG_PTR previous =
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
    if (previous == 0 && GetLastError() != ERROR_SUCCESS) {
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        return FALSE;
    }
    WNDPROC pfnSuper = reinterpret_cast<WNDPROC>(previous);
    // A window of our own class that had no object yet: its previous behaviour is the default
    // procedure, not ours again.
    if (pfnSuper == &AfxWndProc) {
        pfnSuper = nullptr;
    }
    BindToWindow(hWnd, pfnSuper);
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    if (pParent == nullptr || pParent->m_hWnd == nullptr) {
        return FALSE;
    }
    return SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)));
}

HWND CWnd::UnsubclassWindow() {
    if (!m_bRouted) {
        return nullptr;
    }
    const HWND hWnd = m_hWnd;
    UnbindFromWindow();
    return hWnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam) {
    if (m_hWnd != nullptr || lpszClassName == nullptr) {
        return FALSE;
    }
    CThreadState& state = AfxGetThreadState();
    CWnd* const pPreviousInit = state.pWndInit;
    const HWND hPreviousInitWnd = state.hWndInit;
    const LPCSTR lpszPreviousClass = state.lpszClassInit;
    // Without the hook the window being made could not be told from others; nothing is made.
    const HHOOK hHook = SetWindowsHookExA(WH_CBT, &CreationHook, nullptr, GetCurrentThreadId());
    if (hHook == nullptr) {
        return FALSE;
    }
    state.pWndInit = this;
    state.hWndInit = nullptr;
    state.lpszClassInit = lpszClassName;
    if (state.pfnCreationPending != nullptr) {
        // Not again for a window that the seam itself makes.
        void (*const pfnPending)(void*) = state.pfnCreationPending;
        state.pfnCreationPending = nullptr;
        pfnPending(state.pCreationPendingContext);
        state.pfnCreationPending = pfnPending;
    }
    const HWND hWnd =
        CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth, nHeight,
                        hWndParent, nIDorHMenu, AfxGetInstanceHandle(), lpParam);
    UnhookWindowsHookEx(hHook);
    if (state.pWndInit == this) {
        state.pWndInit = pPreviousInit;
    }
    state.hWndInit = hPreviousInitWnd;
    state.lpszClassInit = lpszPreviousClass;
    if (hWnd == nullptr) {
        // A window that got as far as its first message was unbound at WM_NCDESTROY.
        return FALSE;
    }
    if (m_hWnd == hWnd) {
        m_bOwnsWindow = true;
        return TRUE;
    }
    if (m_hWnd == nullptr && !IsOurClassProc(hWnd) && SubclassWindow(hWnd)) {
        // A class whose procedure is not ours, bound now that it exists.
        m_bOwnsWindow = true;
        return TRUE;
    }
    // The object is bound to another window of the class, made while this one was pending, or
    // to none although the window is of our class and so went through its first messages
    // without it. Neither is the window asked for: let go of the other window (it belongs to
    // whoever made it) and do not keep one this object never saw being created.
    if (m_hWnd != nullptr) {
        UnbindFromWindow();
    }
    ::DestroyWindow(hWnd);
    return FALSE;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam) {
    return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top,
                    pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    const HWND hWnd = m_hWnd;
    const bool bRouted = m_bRouted;
    const BOOL bResult = ::DestroyWindow(hWnd);
    if (!bRouted) {
        // A routed window let go at WM_NCDESTROY; a merely attached one lets go here.
        m_hWnd = nullptr;
        m_bOwnsWindow = false;
    }
    return bResult;
}

LRESULT CWnd::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    CThreadState& state = AfxGetThreadState();
    const MSG previous = state.currentMsg;
    state.currentMsg = MSG{m_hWnd, message, wParam, lParam, 0, {0, 0}};
    ++state.nDispatchDepth;

    LRESULT result = 0;
    if (message == WM_NCDESTROY) {
        result = HandleNcDestroy(wParam, lParam);  // this object may be gone afterwards
    } else {
        try {
            result = WindowProc(message, wParam, lParam);
        } catch (...) {
            result = 0;
        }
    }

    state.currentMsg = previous;
    if (--state.nDispatchDepth == 0) {
        state.DeleteTempObjects();
    }
    return result;
}

LRESULT CWnd::HandleNcDestroy(WPARAM wParam, LPARAM lParam) {
    const HWND hWnd = m_hWnd;
    const WNDPROC pfnSuper = m_pfnSuper;
    UnbindFromWindow();
    RemovePropA(hWnd, kForwardProp);
    const LRESULT result = pfnSuper != nullptr
                               ? CallWindowProcA(pfnSuper, hWnd, WM_NCDESTROY, wParam, lParam)
                               : ::DefWindowProcA(hWnd, WM_NCDESTROY, wParam, lParam);
    try {
        PostNcDestroy();
    } catch (...) {
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) {
        result = DefWindowProc(message, wParam, lParam);
    }
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (IsCtlColorMessage(message)) {
        if (ReflectCtlColor(message, wParam, lParam, pResult)) {
            return TRUE;
        }
        AFX_CTLCOLOR ctl{reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam),
                         message - WM_CTLCOLORMSGBOX};
        LRESULT brush = 0;
        if (DispatchMapped(AFX_WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&ctl), &brush) &&
            brush != 0) {
            *pResult = brush;
            return TRUE;
        }
        return FALSE;
    }
    if (DispatchMapped(message, wParam, lParam, pResult)) {
        return TRUE;
    }
    // Commands no window handles go to the application object.
    if (message == WM_COMMAND && lParam == 0) {
        CWinApp* pApp = AfxGetApp();
        if (pApp != nullptr && pApp->OnCmdMsg(LOWORD(wParam))) {
            *pResult = 0;
            return TRUE;
        }
    }
    return FALSE;
}

bool CWnd::ReflectCtlColor(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const HWND hChild = reinterpret_cast<HWND>(lParam);
    if (hChild == nullptr || hChild == m_hWnd) {
        return false;
    }
    CWnd* pChild = FromHandlePermanent(hChild);
    if (pChild == nullptr) {
        return false;
    }
    LRESULT brush = 0;
    if (pChild->OnChildNotify(message, wParam, lParam, &brush) && brush != 0) {
        *pResult = brush;
        return true;
    }
    return false;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT* pResult) {
    if (!IsCtlColorMessage(message)) {
        return FALSE;
    }
    const LPARAM nCtlType = message - WM_CTLCOLORMSGBOX;
    CThreadState& state = AfxGetThreadState();
    const MSG previous = state.currentMsg;
    state.currentMsg = MSG{m_hWnd, WM_REFLECT_CTLCOLOR, wParam, nCtlType, 0, {0, 0}};
    BOOL bHandled = FALSE;
    try {
        bHandled = DispatchMapped(WM_REFLECT_CTLCOLOR, wParam, nCtlType, pResult);
    } catch (...) {
        bHandled = FALSE;
    }
    state.currentMsg = previous;
    return bHandled;
}

void CWnd::PostNcDestroy() {}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_hWnd == nullptr) {
        return 0;
    }
    if (m_pfnSuper != nullptr) {
        return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    }
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    const MSG& current = AfxGetThreadState().currentMsg;
    if (m_hWnd == nullptr || current.hwnd != m_hWnd) {
        return 0;
    }
    return DefWindowProc(current.message, current.wParam, current.lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint) {
    if (lpRect != nullptr) {
        MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left,
                   lpRect->bottom - lpRect->top, bRepaint);
    }
}

BOOL CWnd::BringWindowToTop() {
    return ::BringWindowToTop(m_hWnd);
}

void CWnd::CenterWindow() {
    if (m_hWnd == nullptr) {
        return;
    }
    CRect window;
    GetWindowRect(&window);
    const HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    const bool bOverOwner = hOwner != nullptr && ::IsWindowVisible(hOwner) && !::IsIconic(hOwner);
    // The monitor that the result must stay on: the owner's, or the window's own.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoA(
            ::MonitorFromWindow(bOverOwner ? hOwner : m_hWnd, MONITOR_DEFAULTTONEAREST),
            &monitor)) {
        return;
    }
    const CRect work(monitor.rcWork);
    CRect over(work);
    if (bOverOwner) {
        ::GetWindowRect(hOwner, &over);
    }
    int x = over.left + (over.Width() - window.Width()) / 2;
    int y = over.top + (over.Height() - window.Height()) / 2;
    // The right and bottom edges first, so that a window larger than the work area keeps its
    // caption (top left) on the screen.
    x = std::max(std::min(x, static_cast<int>(work.right) - window.Width()),
                 static_cast<int>(work.left));
    y = std::max(std::min(y, static_cast<int>(work.bottom) - window.Height()),
                 static_cast<int>(work.top));
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    if (lpRect != nullptr && !::GetClientRect(m_hWnd, lpRect)) {
        ::SetRectEmpty(lpRect);
    }
}

void CWnd::GetWindowRect(LPRECT lpRect) const {
    if (lpRect != nullptr && !::GetWindowRect(m_hWnd, lpRect)) {
        ::SetRectEmpty(lpRect);
    }
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const {
    if (lpPoint != nullptr) {
        ::ClientToScreen(m_hWnd, lpPoint);
    }
}

void CWnd::ClientToScreen(LPRECT lpRect) const {
    if (lpRect != nullptr) {
        ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(lpRect), 2);
    }
}

void CWnd::ScreenToClient(LPPOINT lpPoint) const {
    if (lpPoint != nullptr) {
        ::ScreenToClient(m_hWnd, lpPoint);
    }
}

void CWnd::ScreenToClient(LPRECT lpRect) const {
    if (lpRect != nullptr) {
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(lpRect), 2);
    }
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

void CWnd::Invalidate(BOOL bErase) {
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

void CWnd::InvalidateRect(LPCRECT lpRect, BOOL bErase) {
    ::InvalidateRect(m_hWnd, lpRect, bErase);
}

void CWnd::ValidateRect(LPCRECT lpRect) {
    ::ValidateRect(m_hWnd, lpRect);
}

void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}

CDC* CWnd::GetDC() {
    return CDC::FromHandle(::GetDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* pDC) {
    if (pDC == nullptr || pDC->m_hDC == nullptr) {
        return 0;
    }
    return ::ReleaseDC(m_hWnd, pDC->m_hDC);
}

BOOL CWnd::HideCaret() {
    return ::HideCaret(m_hWnd);
}

BOOL CWnd::ShowCaret() {
    return ::ShowCaret(m_hWnd);
}

void CWnd::SetWindowText(LPCSTR lpszString) {
    ::SetWindowTextA(m_hWnd, lpszString);
}

int CWnd::GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const {
    if (lpszStringBuf == nullptr || nMaxCount <= 0) {
        return 0;
    }
    return ::GetWindowTextA(m_hWnd, lpszStringBuf, nMaxCount);
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}

CWnd* CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}

CWnd* CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert));
}

void CWnd::SetFont(HFONT hFont, BOOL bRedraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), bRedraw);
}

HFONT CWnd::GetFont() const {
    return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
}

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
    if (lpszCaption == nullptr && AfxGetApp() != nullptr) {
        lpszCaption = AfxGetApp()->m_pszAppName;
    }
    return ::MessageBoxA(m_hWnd, lpszText != nullptr ? lpszText : "", lpszCaption, nType);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return ::KillTimer(m_hWnd, nIDEvent);
}

void CWnd::OnPaint() {
    Default();
}

BOOL CWnd::OnEraseBkgnd(CDC* /*pDC*/) {
    return static_cast<BOOL>(Default());
}

void CWnd::OnKeyDown(UINT /*nChar*/, UINT /*nRepCnt*/, UINT /*nFlags*/) {
    Default();
}

void CWnd::OnKeyUp(UINT /*nChar*/, UINT /*nRepCnt*/, UINT /*nFlags*/) {
    Default();
}

void CWnd::OnChar(UINT /*nChar*/, UINT /*nRepCnt*/, UINT /*nFlags*/) {
    Default();
}

void CWnd::OnSetFocus(CWnd* /*pOldWnd*/) {
    Default();
}

void CWnd::OnKillFocus(CWnd* /*pNewWnd*/) {
    Default();
}

void CWnd::OnMouseMove(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnLButtonDown(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnLButtonUp(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnLButtonDblClk(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnRButtonDown(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnRButtonUp(UINT /*nFlags*/, CPoint /*point*/) {
    Default();
}

void CWnd::OnSysCommand(UINT /*nID*/, LPARAM /*lParam*/) {
    Default();
}

HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}

void CWnd::OnTimer(UINT_PTR /*nIDEvent*/) {
    Default();
}

void CWnd::OnSize(UINT /*nType*/, int /*cx*/, int /*cy*/) {
    Default();
}

void CWnd::OnClose() {
    Default();
}

void CWnd::OnDestroy() {
    Default();
}

HBRUSH CWnd::OnCtlColor(CDC* /*pDC*/, CWnd* /*pWnd*/, UINT /*nCtlColor*/) {
    return reinterpret_cast<HBRUSH>(Default());
}
