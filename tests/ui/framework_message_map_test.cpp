// Message routing of the dialog framework on real windows: map rows and their base chain, typed
// crackers, Default() reaching a subclassed control, restoring the control's procedure, commands
// routed to the application object, messages posted from other threads, and the entry's use of
// InitInstance.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "framework/framework.h"
#include "tests/ui/ui_test_support.h"

namespace {

constexpr UINT WM_PROBE = WM_USER + 7;
constexpr UINT WM_BASE_ONLY = WM_USER + 8;
constexpr UINT WM_THROW = WM_USER + 9;
constexpr UINT WM_POSTED = WM_USER + 102;

LPCSTR ProbeClass() {
    return AfxRegisterWndClass(0);
}

class CBaseProbe : public CWnd {
public:
    bool Create() {
        return CreateEx(0, ProbeClass(), "probe", WS_POPUP, CRect(0, 0, 50, 50), nullptr, 0) !=
               FALSE;
    }

    LRESULT OnProbe(WPARAM, LPARAM) { return 1; }
    LRESULT OnBaseOnly(WPARAM wParam, LPARAM lParam) {
        return static_cast<LRESULT>(wParam) + lParam;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseProbe, CWnd)
ON_MESSAGE(WM_PROBE, &CBaseProbe::OnProbe)
ON_MESSAGE(WM_BASE_ONLY, &CBaseProbe::OnBaseOnly)
END_MESSAGE_MAP()

// Records what the crackers hand to the handlers.
class CDerivedProbe : public CBaseProbe {
public:
    LRESULT OnProbe(WPARAM, LPARAM) { return 2; }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
    LRESULT OnPosted(WPARAM wParam, LPARAM lParam) {
        m_postedThread = GetCurrentThreadId();
        m_postedWParam = wParam;
        m_postedLParam = lParam;
        ++m_nPosted;
        return 0;
    }
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
        m_last = "key " + std::to_string(nChar) + " " + std::to_string(nRepCnt) + " " +
                 std::to_string(nFlags);
    }
    void OnLButtonDown(UINT nFlags, CPoint point) {
        m_last = "down " + std::to_string(nFlags) + " " + std::to_string(point.x) + "," +
                 std::to_string(point.y);
    }
    void OnSetFocus(CWnd* pOldWnd) {
        m_last = "focus " +
                 std::string(pOldWnd != nullptr && pOldWnd->m_hWnd == m_hOther ? "other" : "none");
    }
    void OnSysCommand(UINT nID, LPARAM lParam) {
        m_last = "sys " + std::to_string(nID) + " " + std::to_string(lParam);
    }

    std::string m_last;
    HWND m_hOther = nullptr;
    DWORD m_postedThread = 0;
    WPARAM m_postedWParam = 0;
    LPARAM m_postedLParam = 0;
    int m_nPosted = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedProbe, CBaseProbe)
ON_MESSAGE(WM_PROBE, &CDerivedProbe::OnProbe)
ON_MESSAGE(WM_THROW, &CDerivedProbe::OnThrow)
ON_MESSAGE(WM_POSTED, &CDerivedProbe::OnPosted)
ON_WM_KEYDOWN()
ON_WM_LBUTTONDOWN()
ON_WM_SETFOCUS()
ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

TEST(FrameworkMessageMap, DerivedRowsWinBaseRowsAreReachedTheRestGoesToDefault) {
    CDerivedProbe wnd;
    ASSERT_TRUE(wnd.Create());
    EXPECT_EQ(2, wnd.SendMessage(WM_PROBE));
    EXPECT_EQ(7, wnd.SendMessage(WM_BASE_ONLY, 3, 4));

    wnd.SetWindowText("routed");
    char text[32] = {};
    wnd.GetWindowText(text, sizeof(text));
    EXPECT_STREQ("routed", text);

    EXPECT_EQ(&wnd, CWnd::FromHandle(wnd.m_hWnd));
    EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(wnd.m_hWnd));
}

// A window of the framework's class that no object is bound to gets a message while another is
// being made: a CBT hook sends it one as soon as the new window exists, before that window's own
// first message. The hook also notes which window was made.
HWND g_hBystander = nullptr;
HWND g_hMade = nullptr;
LRESULT CALLBACK PokeBystander(int nCode, WPARAM wParam, LPARAM lParam) {
    const HWND hWnd = reinterpret_cast<HWND>(wParam);
    if (nCode == HCBT_CREATEWND && g_hMade == nullptr && hWnd != g_hBystander) {
        g_hMade = hWnd;
        SendMessageA(g_hBystander, WM_NULL, 0, 0);
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

TEST(FrameworkMessageMap, CreateExBindsTheWindowItMadeNotAnotherOneWaitingForAnObject) {
    g_hBystander = CreateWindowExA(0, ProbeClass(), "bystander", WS_POPUP, 0, 0, 10, 10, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, g_hBystander);
    g_hMade = nullptr;
    HHOOK hHook = SetWindowsHookExA(WH_CBT, PokeBystander, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    {
        CDerivedProbe wnd;
        const bool bCreated = wnd.Create();
        UnhookWindowsHookEx(hHook);
        ASSERT_TRUE(bCreated);
        ASSERT_NE(nullptr, g_hMade);
        EXPECT_EQ(g_hMade, wnd.m_hWnd);
        EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(g_hMade));
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(g_hBystander));
        EXPECT_EQ(2, SendMessageA(g_hMade, WM_PROBE, 0, 0));
    }
    EXPECT_FALSE(IsWindow(g_hMade)) << "the object destroys the window it made";
    EXPECT_TRUE(IsWindow(g_hBystander));
    DestroyWindow(g_hBystander);
    g_hBystander = nullptr;
}

// Notes which window each of its first two messages reached, through the object.
class CCreationProbe : public CWnd {
public:
    LRESULT OnNcCreate(WPARAM, LPARAM) {
        m_hNcCreate = m_hWnd;
        return Default();
    }
    LRESULT OnCreate(WPARAM, LPARAM) {
        m_hCreate = m_hWnd;
        return Default();
    }

    HWND m_hNcCreate = nullptr;
    HWND m_hCreate = nullptr;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCreationProbe, CWnd)
ON_MESSAGE(WM_NCCREATE, &CCreationProbe::OnNcCreate)
ON_MESSAGE(WM_CREATE, &CCreationProbe::OnCreate)
END_MESSAGE_MAP()

LRESULT CALLBACK PlainWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

// A class with a procedure of its own, as the system's IME window class has.
LPCSTR PlainClass() {
    static const char kName[] = "IdrovanTestPlain";
    WNDCLASSA wc{};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kName, &wc)) {
        wc.lpfnWndProc = &PlainWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kName;
        RegisterClassA(&wc);
    }
    return kName;
}

// The window made while a CreateEx is pending.
struct PendingWindow {
    LPCSTR lpszClass = nullptr;
    HWND hWnd = nullptr;
};

// The last window of the probe class made on this thread, other than the pending one, and
// noted as it is made (before anything could destroy it).
HWND g_hProbeMade = nullptr;
HWND g_hPendingMade = nullptr;

void MakePendingWindow(void* pContext) {
    PendingWindow* pPending = static_cast<PendingWindow*>(pContext);
    pPending->hWnd = CreateWindowExA(0, pPending->lpszClass, "unrelated", WS_POPUP, 0, 0, 10, 10,
                                     nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    g_hPendingMade = pPending->hWnd;
}

LRESULT CALLBACK NoteMadeWindows(int nCode, WPARAM wParam, LPARAM lParam) {
    const HWND hWnd = reinterpret_cast<HWND>(wParam);
    char szClass[257] = {};
    if (nCode == HCBT_CREATEWND && g_hPendingMade != nullptr &&
        GetClassNameA(hWnd, szClass, sizeof(szClass)) > 0 &&
        lstrcmpiA(szClass, ProbeClass()) == 0) {
        g_hProbeMade = hWnd;
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

struct PendingCase {
    const char* pszName;
    LPCSTR (*pfnClass)();
    bool bCreated;
};

LPCSTR OtherFrameworkClass() {
    return AfxRegisterWndClass(CS_DBLCLKS);
}

// Another window is made on the thread while CreateEx is pending, before the window it asked
// for (the system may make the thread's default IME window there). A window of another class is
// passed over: the object gets its own window from the first message on. One of the same class
// cannot be told from the one asked for; CreateEx then fails and leaves no binding behind.
TEST(FrameworkMessageMap, CreateExBindsOnlyAWindowOfItsClassAndFailsCleanlyOtherwise) {
    const PendingCase cases[] = {
        {"a class with its own procedure", &PlainClass, true},
        {"another class of the framework", &OtherFrameworkClass, true},
        {"the same class", &ProbeClass, false},
    };
    for (const PendingCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        PendingWindow pending;
        pending.lpszClass = c.pfnClass();
        ASSERT_NE(nullptr, pending.lpszClass);
        g_hProbeMade = nullptr;
        g_hPendingMade = nullptr;
        HHOOK hHook = SetWindowsHookExA(WH_CBT, NoteMadeWindows, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, hHook);
        AfxSetCreationPendingHook(&MakePendingWindow, &pending);
        CCreationProbe wnd;
        const BOOL bCreated =
            wnd.CreateEx(0, ProbeClass(), "probe", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr);
        AfxSetCreationPendingHook(nullptr, nullptr);
        UnhookWindowsHookEx(hHook);
        ASSERT_NE(nullptr, pending.hWnd);

        // The window asked for: the one of its class made after the unrelated one.
        const HWND hAskedFor = g_hProbeMade;
        ASSERT_NE(nullptr, hAskedFor);
        EXPECT_EQ(c.bCreated, bCreated != FALSE);
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(pending.hWnd));
        EXPECT_EQ(0, GetWindowLongPtrA(pending.hWnd, GWLP_USERDATA));
        if (c.bCreated) {
            EXPECT_EQ(hAskedFor, wnd.m_hWnd);
            EXPECT_EQ(hAskedFor, wnd.m_hNcCreate);
            EXPECT_EQ(hAskedFor, wnd.m_hCreate);
            EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hAskedFor));
        } else {
            EXPECT_EQ(nullptr, wnd.m_hWnd);
            EXPECT_FALSE(IsWindow(hAskedFor)) << "the window nobody could bind is not left over";
        }
        EXPECT_TRUE(IsWindow(pending.hWnd)) << "the unrelated window is its maker's";
        DestroyWindow(pending.hWnd);
    }
}

TEST(FrameworkMessageMap, CrackersDecodeTheParameters) {
    CDerivedProbe wnd;
    ASSERT_TRUE(wnd.Create());
    CDerivedProbe other;
    ASSERT_TRUE(other.Create());
    wnd.m_hOther = other.m_hWnd;

    struct Case {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const char* expected;
    } const cases[] = {
        {WM_KEYDOWN, VK_LEFT, MAKELPARAM(3, 0x14B), "key 37 3 331"},
        {WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(-5, 7), "down 5 -5,7"},
        {WM_LBUTTONDOWN, 0, MAKELPARAM(300, -2), "down 0 300,-2"},
        {WM_SETFOCUS, reinterpret_cast<WPARAM>(other.m_hWnd), 0, "focus other"},
        {WM_SETFOCUS, 0, 0, "focus none"},
        {WM_SYSCOMMAND, 16, 42, "sys 16 42"},
    };
    for (const Case& c : cases) {
        wnd.m_last.clear();
        wnd.SendMessage(c.message, c.wParam, c.lParam);
        EXPECT_EQ(c.expected, wnd.m_last) << "message " << c.message;
    }
}

TEST(FrameworkMessageMap, ExceptionFromAHandlerEndsOnlyThatMessage) {
    CDerivedProbe wnd;
    ASSERT_TRUE(wnd.Create());
    EXPECT_EQ(0, wnd.SendMessage(WM_THROW));
    EXPECT_EQ(2, wnd.SendMessage(WM_PROBE));
}

TEST(FrameworkMessageMap, PostedFromAnotherThreadIsHandledOnTheWindowThread) {
    CDerivedProbe wnd;
    ASSERT_TRUE(wnd.Create());
    const HWND hWnd = wnd.m_hWnd;
    std::thread poster([hWnd] { PostMessageA(hWnd, WM_POSTED, 0x1234, -77); });
    poster.join();
    ASSERT_TRUE(ui_test::PumpUntil([&] { return wnd.m_nPosted > 0; }));
    EXPECT_EQ(GetCurrentThreadId(), wnd.m_postedThread);
    EXPECT_EQ(0x1234u, wnd.m_postedWParam);
    EXPECT_EQ(-77, wnd.m_postedLParam);
    EXPECT_EQ(1, wnd.m_nPosted);
}

// An edit control that refuses the letter x and leaves every other message to the control.
class CFilterEdit : public CEdit {
public:
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags) {
        if (nChar != 'x') {
            CEdit::OnChar(nChar, nRepCnt, nFlags);
        }
    }
    void PostNcDestroy() override {
        ++m_nPostNcDestroy;
        m_procAtNcDestroy = GetWindowLongPtrA(m_hDestroyed, GWLP_WNDPROC);
    }

    HWND m_hDestroyed = nullptr;
    LONG_PTR m_procAtNcDestroy = 0;
    int m_nPostNcDestroy = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFilterEdit, CEdit)
ON_WM_CHAR()
END_MESSAGE_MAP()

// A procedure another component puts in front of ours.
WNDPROC g_pfnBehindOuter = nullptr;
LRESULT CALLBACK OuterProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(g_pfnBehindOuter, hWnd, message, wParam, lParam);
}

class FrameworkSubclass : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_host.Create());
        m_hEdit = NewEdit();
        ASSERT_NE(nullptr, m_hEdit);
        m_originalProc = GetWindowLongPtrA(m_hEdit, GWLP_WNDPROC);
    }

    HWND NewEdit() {
        return CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 40, 20,
                               m_host.m_hWnd, nullptr, GetModuleHandleA(nullptr), nullptr);
    }

    std::string EditText() const {
        char text[64] = {};
        GetWindowTextA(m_hEdit, text, sizeof(text));
        return text;
    }

    CBaseProbe m_host;  // destroys the edit controls with itself
    HWND m_hEdit = nullptr;
    LONG_PTR m_originalProc = 0;
};

TEST_F(FrameworkSubclass, DefaultReachesTheControlsOwnProcedure) {
    CFilterEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(m_hEdit));
    EXPECT_EQ(&edit, CWnd::FromHandle(m_hEdit));

    for (char c : std::string("axb")) {
        edit.SendMessage(WM_CHAR, static_cast<WPARAM>(c), 1);
    }
    EXPECT_EQ("ab", EditText());

    // A message without a row reaches the edit control itself, not DefWindowProc.
    edit.SendMessage(EM_SETLIMITTEXT, 5);
    EXPECT_EQ(5, edit.SendMessage(EM_GETLIMITTEXT));

    EXPECT_FALSE(CFilterEdit().SubclassWindow(m_hEdit)) << "one window, one object";
}

TEST_F(FrameworkSubclass, UnsubclassPutsTheOriginalProcedureBack) {
    CFilterEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(m_hEdit));
    EXPECT_EQ(m_hEdit, edit.UnsubclassWindow());
    EXPECT_EQ(nullptr, edit.m_hWnd);
    EXPECT_EQ(m_originalProc, GetWindowLongPtrA(m_hEdit, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(m_hEdit));
    // The window is free again for another object.
    CFilterEdit again;
    EXPECT_TRUE(again.SubclassWindow(m_hEdit));
}

TEST_F(FrameworkSubclass, DestructionRestoresTheProcedureOnlyWhenOursIsInstalled) {
    for (const bool bCovered : {false, true}) {
        SCOPED_TRACE(bCovered ? "another procedure in front" : "ours in front");
        const HWND hEdit = NewEdit();
        ASSERT_NE(nullptr, hEdit);
        CFilterEdit edit;
        edit.m_hDestroyed = hEdit;
        ASSERT_TRUE(edit.SubclassWindow(hEdit));
        const LONG_PTR outer = reinterpret_cast<LONG_PTR>(&OuterProc);
        if (bCovered) {
            g_pfnBehindOuter =
                reinterpret_cast<WNDPROC>(SetWindowLongPtrA(hEdit, GWLP_WNDPROC, outer));
        }
        DestroyWindow(hEdit);
        EXPECT_EQ(nullptr, edit.m_hWnd);
        EXPECT_EQ(1, edit.m_nPostNcDestroy);
        EXPECT_EQ(bCovered ? outer : m_originalProc, edit.m_procAtNcDestroy);
    }
}

TEST_F(FrameworkSubclass, ObjectGoneUnderAnotherSubclasserStillForwardsToTheControl) {
    {
        CFilterEdit edit;
        ASSERT_TRUE(edit.SubclassWindow(m_hEdit));
        g_pfnBehindOuter = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(m_hEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterProc)));
    }
    SendMessageA(m_hEdit, EM_SETLIMITTEXT, 9, 0);
    EXPECT_EQ(9, SendMessageA(m_hEdit, EM_GETLIMITTEXT, 0, 0));
    SendMessageA(m_hEdit, WM_CHAR, 'x', 1);
    EXPECT_EQ("x", EditText()) << "the filter went with its object";
}

TEST(FrameworkWrappers, TemporaryWrapperForAWindowWithoutObject) {
    const HWND hWnd = CreateWindowExA(0, "STATIC", "plain", WS_POPUP, 0, 0, 10, 10, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hWnd));
    CWnd* pTemp = CWnd::FromHandle(hWnd);
    ASSERT_NE(nullptr, pTemp);
    EXPECT_EQ(hWnd, pTemp->m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandle(nullptr));
    DestroyWindow(hWnd);
}

class CProbeApp : public CWinApp {
public:
    BOOL InitInstance() override {
        ++m_nInit;
        return m_bContinue;
    }
    int Run() override {
        ++m_nRun;
        return 11;
    }
    int ExitInstance() override { return 7; }
    void OnHelpCommand() { ++m_nHelp; }

    BOOL m_bContinue = FALSE;
    int m_nInit = 0;
    int m_nRun = 0;
    int m_nHelp = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeApp, CWinApp)
ON_COMMAND(ID_HELP, &CProbeApp::OnHelpCommand)
END_MESSAGE_MAP()

TEST(FrameworkApplication, EntryRunsInitInstanceOnceAndFalseEndsWithoutALoop) {
    struct Case {
        BOOL bContinue;
        int nExpectedResult;
        int nExpectedRuns;
    } const cases[] = {{FALSE, 7, 0}, {TRUE, 11, 1}};
    for (const Case& c : cases) {
        CProbeApp app;
        ASSERT_EQ(&app, AfxGetApp());
        app.m_bContinue = c.bContinue;
        EXPECT_EQ(c.nExpectedResult, AfxWinMain(GetModuleHandleA(nullptr), SW_SHOW));
        EXPECT_EQ(1, app.m_nInit);
        EXPECT_EQ(c.nExpectedRuns, app.m_nRun);
    }
    EXPECT_EQ(nullptr, AfxGetApp());
}

TEST(FrameworkApplication, CommandsNoWindowHandlesReachTheApplication) {
    CProbeApp app;
    CDerivedProbe wnd;
    ASSERT_TRUE(wnd.Create());
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
    EXPECT_EQ(1, app.m_nHelp);
    // A control's notification is not a command for the application.
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), reinterpret_cast<LPARAM>(wnd.m_hWnd));
    EXPECT_EQ(1, app.m_nHelp);
}

}  // namespace
