// Declarative message maps: one small static table per class, chained to the table of its base
// class. Each row names a message (for WM_COMMAND also a notification code and a range of
// control identifiers) and a typed cracker that decodes WPARAM/LPARAM and calls the handler.
//
// Use in a class derived from CCmdTarget (normally CWnd or one of its descendants):
//
//     class CMyWnd : public CWnd {
//         ...
//         void OnPaint();
//         LRESULT OnPrivate(WPARAM wParam, LPARAM lParam);
//         DECLARE_MESSAGE_MAP()
//     };
//
//     BEGIN_MESSAGE_MAP(CMyWnd, CWnd)
//         ON_WM_PAINT()
//         ON_MESSAGE(WM_USER + 5, &CMyWnd::OnPrivate)
//     END_MESSAGE_MAP()
//
// Handlers have fixed names and signatures per message, as listed at each macro; a handler that
// wants the previous behaviour as well calls the base version (CWnd::OnPaint() and friends), which
// runs Default(). Rows are searched from the most derived class to the base, first match wins.
// The crackers are captureless lambdas, so the tables hold plain function pointers: no
// executable code is generated at run time and no member-pointer casts are involved.
#pragma once

#include <windows.h>

class CCmdTarget;

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;    // WM_COMMAND only: notification code (0 for menus, accelerators, BN_CLICKED)
    UINT nID;      // WM_COMMAND only: first control or command identifier
    UINT nLastID;  // WM_COMMAND only: last identifier of the range
    LRESULT (*pfnDispatch)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root of the chain
    const AFX_MSGMAP_ENTRY* lpEntries;     // ends with a row whose pfnDispatch is null
};

// A control's WM_CTLCOLOR* message, reflected from its parent back to the control itself.
constexpr UINT WM_REFLECT_BASE = 0xBC00;
constexpr UINT AFX_WM_CTLCOLOR = 0x0019;
constexpr UINT WM_REFLECT_CTLCOLOR = WM_REFLECT_BASE + AFX_WM_CTLCOLOR;

// What a parent's ON_WM_CTLCOLOR row receives (through lParam) for any WM_CTLCOLOR* message.
struct AFX_CTLCOLOR {
    HWND hWnd;      // the control
    HDC hDC;        // the device context it is about to draw with
    UINT nCtlType;  // CTLCOLOR_EDIT, CTLCOLOR_STATIC, ...
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                             \
protected:                                                                                \
    static const AFX_MSGMAP* GetThisMessageMap();                                         \
    const AFX_MSGMAP* GetMessageMap() const override;                                     \
                                                                                          \
public:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                            \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }     \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                     \
        using ThisClass = theClass;                                                       \
        using TheBaseClass = baseClass;                                                   \
        static_cast<void>(sizeof(ThisClass));                                             \
        static const AFX_MSGMAP_ENTRY afxEntries[] = {

#define END_MESSAGE_MAP()                                                                 \
            {0, 0, 0, 0, nullptr}};                                                       \
        static const AFX_MSGMAP afxMap = {&TheBaseClass::GetThisMessageMap, afxEntries}; \
        return &afxMap;                                                                   \
    }
// clang-format on

// The cracker body sees pTarget, wParam and lParam, and ThisClass.
#define AFX_MSG_CRACKER(...)                                                  \
    [](CCmdTarget* pTarget, [[maybe_unused]] WPARAM wParam,                   \
       [[maybe_unused]] LPARAM lParam) -> LRESULT {                           \
        [[maybe_unused]] ThisClass* pThis = static_cast<ThisClass*>(pTarget); \
        __VA_ARGS__                                                           \
    }

#define AFX_MSG_POINT CPoint(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)))
#define AFX_MSG_HWND_WND(h) CWnd::FromHandle(reinterpret_cast<HWND>(h))

// void OnPaint()
#define ON_WM_PAINT()                                                   \
    { WM_PAINT, 0, 0, 0, AFX_MSG_CRACKER(pThis->OnPaint(); return 0;) } \
    ,
// BOOL OnEraseBkgnd(CDC* pDC)
#define ON_WM_ERASEBKGND()                                                                   \
    {                                                                                        \
        WM_ERASEBKGND, 0, 0, 0,                                                              \
            AFX_MSG_CRACKER(                                                                 \
                return pThis->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam)));) \
    }                                                                                        \
    ,
// void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags)
#define ON_WM_KEYDOWN()                                                                      \
    {                                                                                        \
        WM_KEYDOWN, 0, 0, 0,                                                                 \
            AFX_MSG_CRACKER(                                                                 \
                pThis->OnKeyDown(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
                return 0;)                                                                   \
    }                                                                                        \
    ,
// void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags)
#define ON_WM_KEYUP()                                                                      \
    {                                                                                      \
        WM_KEYUP, 0, 0, 0,                                                                 \
            AFX_MSG_CRACKER(                                                               \
                pThis->OnKeyUp(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
                return 0;)                                                                 \
    }                                                                                      \
    ,
// void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags)
#define ON_WM_CHAR()                                                                      \
    {                                                                                     \
        WM_CHAR, 0, 0, 0,                                                                 \
            AFX_MSG_CRACKER(                                                              \
                pThis->OnChar(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
                return 0;)                                                                \
    }                                                                                     \
    ,
// void OnSetFocus(CWnd* pOldWnd)
#define ON_WM_SETFOCUS()                                                            \
    {                                                                               \
        WM_SETFOCUS, 0, 0, 0,                                                       \
            AFX_MSG_CRACKER(pThis->OnSetFocus(AFX_MSG_HWND_WND(wParam)); return 0;) \
    }                                                                               \
    ,
// void OnKillFocus(CWnd* pNewWnd)
#define ON_WM_KILLFOCUS()                                                            \
    {                                                                                \
        WM_KILLFOCUS, 0, 0, 0,                                                       \
            AFX_MSG_CRACKER(pThis->OnKillFocus(AFX_MSG_HWND_WND(wParam)); return 0;) \
    }                                                                                \
    ,
// void OnMouseMove(UINT nFlags, CPoint point)   (point in client coordinates)
#define ON_WM_MOUSEMOVE()                                                                 \
    {                                                                                     \
        WM_MOUSEMOVE, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnMouseMove(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                    \
    }                                                                                     \
    ,
// void OnLButtonDown(UINT nFlags, CPoint point)
#define ON_WM_LBUTTONDOWN()                                                                 \
    {                                                                                       \
        WM_LBUTTONDOWN, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnLButtonDown(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                      \
    }                                                                                       \
    ,
// void OnLButtonUp(UINT nFlags, CPoint point)
#define ON_WM_LBUTTONUP()                                                                 \
    {                                                                                     \
        WM_LBUTTONUP, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnLButtonUp(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                    \
    }                                                                                     \
    ,
// void OnLButtonDblClk(UINT nFlags, CPoint point)
#define ON_WM_LBUTTONDBLCLK()                                                                 \
    {                                                                                         \
        WM_LBUTTONDBLCLK, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnLButtonDblClk(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                        \
    }                                                                                         \
    ,
// void OnRButtonDown(UINT nFlags, CPoint point)
#define ON_WM_RBUTTONDOWN()                                                                 \
    {                                                                                       \
        WM_RBUTTONDOWN, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnRButtonDown(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                      \
    }                                                                                       \
    ,
// void OnRButtonUp(UINT nFlags, CPoint point)
#define ON_WM_RBUTTONUP()                                                                 \
    {                                                                                     \
        WM_RBUTTONUP, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnRButtonUp(static_cast<UINT>(wParam), AFX_MSG_POINT); \
                            return 0;)                                                    \
    }                                                                                     \
    ,
// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                                     \
    {                                                                                          \
        WM_SYSCOMMAND, 0, 0, 0,                                                                \
            AFX_MSG_CRACKER(pThis->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0;) \
    }                                                                                          \
    ,
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                            \
    {                                                                                    \
        WM_QUERYDRAGICON, 0, 0, 0,                                                       \
            AFX_MSG_CRACKER(return reinterpret_cast<LRESULT>(pThis->OnQueryDragIcon());) \
    }                                                                                    \
    ,
// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER()                                                                 \
    {                                                                                 \
        WM_TIMER, 0, 0, 0,                                                            \
            AFX_MSG_CRACKER(pThis->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;) \
    }                                                                                 \
    ,
// void OnSize(UINT nType, int cx, int cy)
#define ON_WM_SIZE()                                                           \
    {                                                                          \
        WM_SIZE, 0, 0, 0,                                                      \
            AFX_MSG_CRACKER(pThis->OnSize(static_cast<UINT>(wParam),           \
                                          static_cast<short>(LOWORD(lParam)),  \
                                          static_cast<short>(HIWORD(lParam))); \
                            return 0;)                                         \
    }                                                                          \
    ,
// void OnClose()
#define ON_WM_CLOSE()                                                   \
    { WM_CLOSE, 0, 0, 0, AFX_MSG_CRACKER(pThis->OnClose(); return 0;) } \
    ,
// void OnDestroy()
#define ON_WM_DESTROY()                                                     \
    { WM_DESTROY, 0, 0, 0, AFX_MSG_CRACKER(pThis->OnDestroy(); return 0;) } \
    ,
// HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor): a parent's own colour handler for
// every WM_CTLCOLOR* message; it runs only when the child's reflected CtlColor gave no brush.
#define ON_WM_CTLCOLOR()                                                                         \
    {                                                                                            \
        AFX_WM_CTLCOLOR, 0, 0, 0,                                                                \
            AFX_MSG_CRACKER(                                                                     \
                const AFX_CTLCOLOR* pCtl = reinterpret_cast<const AFX_CTLCOLOR*>(lParam);        \
                return reinterpret_cast<LRESULT>(pThis->OnCtlColor(                              \
                    CDC::FromHandle(pCtl->hDC), CWnd::FromHandle(pCtl->hWnd), pCtl->nCtlType));) \
    }                                                                                            \
    ,
// HBRUSH CtlColor(CDC* pDC, UINT nCtlColor): the control's own colours, reflected from its
// parent's WM_CTLCOLOR* message. A non-null brush paints the background and is what the parent
// returns; null leaves the parent's normal handling in place.
#define ON_WM_CTLCOLOR_REFLECT()                                                              \
    {                                                                                         \
        WM_REFLECT_CTLCOLOR, 0, 0, 0,                                                         \
            AFX_MSG_CRACKER(return reinterpret_cast<LRESULT>(pThis->CtlColor(                 \
                CDC::FromHandle(reinterpret_cast<HDC>(wParam)), static_cast<UINT>(lParam)));) \
    }                                                                                         \
    ,

// LRESULT memberFxn(WPARAM wParam, LPARAM lParam), for private (WM_USER + n) messages.
#define ON_MESSAGE(message, memberFxn)                                     \
    {                                                                      \
        static_cast<UINT>(message), 0, 0, 0,                               \
            AFX_MSG_CRACKER(return (pThis->*(memberFxn))(wParam, lParam);) \
    }                                                                      \
    ,
// void memberFxn(), for a menu or accelerator command or a button click (code 0).
#define ON_COMMAND(id, memberFxn)                                    \
    {                                                                \
        WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), \
            AFX_MSG_CRACKER((pThis->*(memberFxn))(); return 0;)      \
    }                                                                \
    ,
// void memberFxn(), for notification code wNotifyCode from control id.
#define ON_CONTROL(wNotifyCode, id, memberFxn)                                                    \
    {                                                                                             \
        WM_COMMAND, static_cast<UINT>(wNotifyCode), static_cast<UINT>(id), static_cast<UINT>(id), \
            AFX_MSG_CRACKER((pThis->*(memberFxn))(); return 0;)                                   \
    }                                                                                             \
    ,
// void memberFxn()
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
