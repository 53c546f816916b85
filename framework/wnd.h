// CWnd: a C++ object bound to one Win32 window.
//
// Binding and routing. A window is bound to its object in one of two ways:
//  - CreateEx makes the window; for a class registered through AfxRegisterWndClass the object
//    receives every message from the first one on (the object being created is kept in a
//    thread-local slot until the window's first message arrives, and a CBT hook names that
//    window: the first one of the requested class made on the thread meanwhile, so that no
//    other window waiting for an object is bound, nor a window the system makes along the way,
//    such as the thread's default IME window); for a system class (EDIT, BUTTON, ...) the
//    window is subclassed right after it was created. CreateEx succeeds only with the object
//    bound to the window that CreateWindowEx returned: were it bound to another window of the
//    class made first while this one was pending, it lets that window go again, destroys the
//    one it made and fails.
//  - SubclassWindow / SubclassDlgItem (and DDX_Control) put this framework's window procedure in
//    front of an existing window's own. Messages go to the object's message map first; those no
//    row handles, and handlers that call Default(), reach the window's previous procedure.
// The object is found from the window through GWLP_USERDATA. At WM_NCDESTROY the previous
// procedure is put back (only when ours is still the installed one, so a later subclasser is not
// cut off), the object lets go of the handle, and PostNcDestroy runs.
//
// Colours. A parent reflects every WM_CTLCOLOR* of a bound child to the child's message map as
// WM_REFLECT_CTLCOLOR (ON_WM_CTLCOLOR_REFLECT -> CtlColor). A non-null brush from the child is
// what the parent returns (a dialog too); otherwise the parent's own ON_WM_CTLCOLOR row, if any,
// and then Default() decide.
//
// Ownership. A window made by CreateEx belongs to the object: the destructor destroys it if it
// still exists. A subclassed window belongs to whoever made it: the destructor only restores its
// procedure. CWnd::FromHandle of a window not bound to an object gives a temporary wrapper that
// lives while the current message is handled.
//
// Threads. An object is used on the thread that owns its window. Other threads talk to a window
// only by PostMessage; the message is handled on the window's thread. No C++ exception leaves a
// window procedure: one thrown by a handler ends that message with result 0.
#pragma once

#include <windows.h>

#include "framework/cmd_target.h"
#include "framework/dc.h"
#include "framework/types.h"

class CMenu;

// Registers (once per process) a window class with this framework's window procedure and the
// given class style, cursor, background brush and icon, and returns its name; null when the
// class cannot be registered. The name stays valid for the life of the process.
LPCSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr,
                           HBRUSH hbrBackground = nullptr, HICON hIcon = nullptr);

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    // The object bound to hWnd, or a temporary wrapper (see above); null for null.
    static CWnd* FromHandle(HWND hWnd);
    // The object bound to hWnd, or null when none is.
    static CWnd* FromHandlePermanent(HWND hWnd);

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Plain association of a handle, without routing (no messages reach the map).
    BOOL Attach(HWND hWnd);
    HWND Detach();

    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    // Restores the previous window procedure (when ours is installed) and lets go of the window.
    HWND UnsubclassWindow();

    virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName,
                          DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent,
                          HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                  const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();

    // Message routing.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Previous behaviour for message: the subclassed window's own procedure, the dialog's
    // default handling, or DefWindowProcA.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Previous behaviour for the message now being handled by this window.
    LRESULT Default();
    // Called on a bound child for a message its parent reflects (WM_CTLCOLOR*). True with a
    // non-zero *pResult when the child took it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Runs after the window is gone and the object has let go of it (WM_NCDESTROY).
    virtual void PostNcDestroy();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Window state and geometry.
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    BOOL BringWindowToTop();
    // Moves the window, keeping its size, so that it is centred over its owner when the owner
    // is visible and not minimised, else over the work area of the monitor it is on (the
    // nearest one); either way it is kept inside that monitor's work area. Neither activates
    // nor reorders it.
    void CenterWindow();
    void GetClientRect(LPRECT lpRect) const;
    void GetWindowRect(LPRECT lpRect) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ScreenToClient(LPRECT lpRect) const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int nID) const;

    // Painting.
    void Invalidate(BOOL bErase = TRUE);
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE);
    void ValidateRect(LPCRECT lpRect);
    void UpdateWindow();
    // GetDC wrapped as a temporary CDC; pair with ReleaseDC on the same window.
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);
    BOOL HideCaret();
    BOOL ShowCaret();

    // Text, focus, icons, menus, timers.
    void SetWindowText(LPCSTR lpszString);
    int GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const;
    int GetWindowTextLength() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    CMenu* GetSystemMenu(BOOL bRevert) const;
    void SetFont(HFONT hFont, BOOL bRedraw = TRUE);
    HFONT GetFont() const;
    int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    HWND m_hWnd = nullptr;

protected:
    // Default handlers for the rows of message_map.h: each runs Default().
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    void OnSysCommand(UINT nID, LPARAM lParam);
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSize(UINT nType, int cx, int cy);
    void OnClose();
    void OnDestroy();
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);

    // Binds this object to hWnd for routing and remembers the previous procedure (null for
    // a window of our own class, whose previous behaviour is DefWindowProcA).
    void BindToWindow(HWND hWnd, WNDPROC pfnSuper);
    // Undoes BindToWindow and lets go of the handle; the previous procedure is put back when
    // ours is still the installed one (else the window's messages are forwarded to it).
    void UnbindFromWindow();

    WNDPROC m_pfnSuper = nullptr;  // previous procedure of a subclassed window
    bool m_bRouted = false;        // GWLP_USERDATA points at this object
    bool m_bOwnsWindow = false;    // made by CreateEx: destroyed with the object

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    friend class CDialog;
    LRESULT RouteMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleNcDestroy(WPARAM wParam, LPARAM lParam);
    bool ReflectCtlColor(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
};

// Test seam: pfn(pContext) runs inside every CreateEx on the calling thread while its window is
// pending, after the creation hook is in place and before CreateWindowEx makes the window: the
// place where the system may make a window of its own first. Null removes it.
void AfxSetCreationPendingHook(void (*pfn)(void* pContext), void* pContext);

// The window procedure of every bound window.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
