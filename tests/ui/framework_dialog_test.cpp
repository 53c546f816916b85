// Dialogs of the dialog framework on real windows: a modal dialog from an in-memory template
// with data exchange, initialisation and every way of ending it, and the reflection of the
// controls' colour messages to the controls themselves.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/framework.h"
#include "tests/ui/ui_test_support.h"

namespace {

constexpr int IDC_FIELD = 3001;
constexpr int IDC_LOCKED = 3002;
constexpr UINT WM_AFTER_INIT = WM_USER + 102;

using ui_test::DialogTemplate;

DialogTemplate MakeTemplate(DWORD style) {
    DialogTemplate dlg(style | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 200, 60,
                       "Probe");
    dlg.AddItem(DialogTemplate::kEdit, IDC_FIELD, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10,
                100, 14, "")
        .AddItem(DialogTemplate::kEdit, IDC_LOCKED, WS_BORDER | ES_READONLY, 10, 30, 100, 14,
                 "locked")
        .AddItem(DialogTemplate::kButton, IDOK, WS_TABSTOP | BS_PUSHBUTTON, 120, 10, 50, 14, "OK")
        .AddItem(DialogTemplate::kButton, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 120, 30, 50, 14,
                 "Cancel");
    return dlg;
}

// Paints its background with a brush of its own and remembers which colour message its parent
// reflected to it.
class CColourEdit : public CEdit {
public:
    CColourEdit() { m_brush.CreateSolidBrush(kColour); }

    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor) {
        m_nLastCtlColor = static_cast<int>(nCtlColor);
        ++m_nCalls;
        if (!m_bGiveBrush) {
            return nullptr;
        }
        pDC->SetBkColor(kColour);
        return m_brush;
    }

    static constexpr COLORREF kColour = RGB(10, 200, 30);
    CBrush m_brush;
    bool m_bGiveBrush = true;
    int m_nLastCtlColor = -1;
    int m_nCalls = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CColourEdit, CEdit)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class CProbeDialog : public CDialog {
public:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ++m_nInit;
        m_bBoundAtInit = m_field.m_hWnd != nullptr &&
                         m_field.m_hWnd == ::GetDlgItem(m_hWnd, IDC_FIELD) &&
                         m_ok.m_hWnd == ::GetDlgItem(m_hWnd, IDOK);
        m_bVisibleAtInit = IsWindowVisible() != FALSE;
        PostMessage(WM_AFTER_INIT);
        return TRUE;
    }

    LRESULT OnAfterInit(WPARAM, LPARAM) {
        m_bVisibleAfterInit = IsWindowVisible() != FALSE;
        m_bFieldHadFocus = ::GetFocus() == m_field.m_hWnd;
        if (m_end) {
            m_end(*this);
        }
        return 0;
    }

    std::function<void(CProbeDialog&)> m_end;
    CColourEdit m_field;
    CColourEdit m_locked;
    CButton m_ok;
    int m_nInit = 0;
    int m_nSaves = 0;
    int m_nLoads = 0;
    bool m_bBoundAtInit = false;
    bool m_bVisibleAtInit = true;
    bool m_bVisibleAfterInit = false;
    bool m_bFieldHadFocus = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_FIELD, m_field);
        DDX_Control(pDX, IDC_LOCKED, m_locked);
        DDX_Control(pDX, IDOK, m_ok);
        ++(pDX->m_bSaveAndValidate ? m_nSaves : m_nLoads);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDialog, CDialog)
ON_MESSAGE(WM_AFTER_INIT, &CProbeDialog::OnAfterInit)
END_MESSAGE_MAP()

void PostKey(HWND hWnd, UINT vk) {
    PostMessageA(hWnd, WM_KEYDOWN, vk, 1);
    PostMessageA(hWnd, WM_KEYUP, vk, 0xC0000001);
}

TEST(FrameworkDialog, ModalDialogInitialisesBindsAndEndsThroughOkAndCancelHandling) {
    struct Case {
        const char* name;
        std::function<void(CProbeDialog&)> end;
        INT_PTR nExpected;
        int nExpectedSaves;
    } const cases[] = {
        {"OK command", [](CProbeDialog& d) { d.PostMessage(WM_COMMAND, IDOK); }, IDOK, 1},
        {"cancel command", [](CProbeDialog& d) { d.PostMessage(WM_COMMAND, IDCANCEL); }, IDCANCEL,
         0},
        {"OK button clicked", [](CProbeDialog& d) { d.m_ok.PostMessage(BM_CLICK); }, IDOK, 1},
        {"close box", [](CProbeDialog& d) { d.PostMessage(WM_SYSCOMMAND, SC_CLOSE); }, IDCANCEL, 0},
        {"Escape in the field", [](CProbeDialog& d) { PostKey(d.m_field.m_hWnd, VK_ESCAPE); },
         IDCANCEL, 0},
        {"Enter in the field", [](CProbeDialog& d) { PostKey(d.m_field.m_hWnd, VK_RETURN); }, IDOK,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogTemplate tmpl = MakeTemplate(WS_VISIBLE);
        CProbeDialog dlg;
        ASSERT_TRUE(dlg.InitModalIndirect(tmpl.Get()));
        dlg.m_end = c.end;
        EXPECT_EQ(c.nExpected, dlg.DoModal());
        EXPECT_EQ(1, dlg.m_nInit);
        EXPECT_TRUE(dlg.m_bBoundAtInit);
        EXPECT_FALSE(dlg.m_bVisibleAtInit) << "initialised before it is first shown";
        EXPECT_TRUE(dlg.m_bVisibleAfterInit);
        EXPECT_TRUE(dlg.m_bFieldHadFocus) << "TRUE from OnInitDialog focuses the first tab stop";
        EXPECT_EQ(1, dlg.m_nLoads);
        EXPECT_EQ(c.nExpectedSaves, dlg.m_nSaves);
        EXPECT_EQ(nullptr, dlg.m_hWnd);
        EXPECT_EQ(nullptr, dlg.m_field.m_hWnd) << "controls let go when their windows are gone";
    }
}

TEST(FrameworkDialog, ModalDialogWithoutTemplateFails) {
    CDialog missing(4242u);
    EXPECT_EQ(-1, missing.DoModal());
    CDialog empty;
    EXPECT_EQ(-1, empty.DoModal());
}

TEST(FrameworkDialog, DataExchangeReportsAMissingControl) {
    class CMissingControl : public CDialog {
    protected:
        void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, 999, m_edit); }
        CEdit m_edit;
    };
    DialogTemplate tmpl = MakeTemplate(0);
    CMissingControl dlg;
    ASSERT_TRUE(dlg.CreateIndirect(tmpl.Get()));
    EXPECT_FALSE(dlg.UpdateData(FALSE));
    DDX_Control(nullptr, IDC_FIELD, dlg);  // refused without harm
    dlg.DestroyWindow();
}

// Takes the user data of every top-level window made while it is installed, so that the
// framework cannot bind a dialog to its object.
LRESULT CALLBACK TakeUserData(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HCBT_CREATEWND) {
        const CBT_CREATEWNDA* pCreate = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
        if ((pCreate->lpcs->style & WS_CHILD) == 0) {
            SetWindowLongPtrA(reinterpret_cast<HWND>(wParam), GWLP_USERDATA, 1);
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// Ends whatever dialog named "Probe" is still up, so that a dialog nobody can end does not
// hold the test for ever.
void CALLBACK EndStrandedProbe(HWND, UINT, UINT_PTR, DWORD) {
    if (HWND hDlg = FindWindowA(nullptr, "Probe")) {
        EndDialog(hDlg, 99);
    }
}

TEST(FrameworkDialog, ADialogThatCannotBeBoundIsEndedAndLeavesNoWindow) {
    DialogTemplate tmpl = MakeTemplate(WS_VISIBLE);
    HHOOK hHook = SetWindowsHookExA(WH_CBT, TakeUserData, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    const UINT_PTR nTimer = SetTimer(nullptr, 0, 5000, EndStrandedProbe);

    CProbeDialog modal;
    ASSERT_TRUE(modal.InitModalIndirect(tmpl.Get()));
    EXPECT_EQ(-1, modal.DoModal());
    EXPECT_EQ(0, modal.m_nInit);

    CProbeDialog modeless;
    EXPECT_FALSE(modeless.CreateIndirect(tmpl.Get()));
    EXPECT_EQ(nullptr, modeless.m_hWnd);

    KillTimer(nullptr, nTimer);
    UnhookWindowsHookEx(hHook);
    ui_test::PumpPending();
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Probe"));
}

class FrameworkReflection : public ::testing::Test {
protected:
    void SetUp() override {
        m_tmpl = std::make_unique<DialogTemplate>(MakeTemplate(WS_VISIBLE));
        ASSERT_TRUE(m_dlg.CreateIndirect(m_tmpl->Get()));
        ASSERT_TRUE(m_dlg.m_bBoundAtInit);
        ui_test::PumpPending();
    }
    void TearDown() override { m_dlg.DestroyWindow(); }

    // Repaints the control now; its parent reflects the colour message while it paints.
    static COLORREF RepaintAndSample(CWnd& control) {
        RedrawWindow(control.m_hWnd, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_FRAME);
        CClientDC dc(&control);
        CRect rc;
        control.GetClientRect(&rc);
        return GetPixel(dc.m_hDC, rc.right - 2, rc.bottom - 2);
    }

    std::unique_ptr<DialogTemplate> m_tmpl;
    CProbeDialog m_dlg;
};

TEST_F(FrameworkReflection, ControlColourIsReflectedToTheControlAndItsBrushPaints) {
    struct Case {
        const char* name;
        CColourEdit* pEdit;
        bool bDisable;
        int nExpectedType;
    } const cases[] = {
        {"editable", &m_dlg.m_field, false, CTLCOLOR_EDIT},
        {"read-only", &m_dlg.m_locked, false, CTLCOLOR_STATIC},
        {"disabled", &m_dlg.m_field, true, CTLCOLOR_STATIC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.pEdit->EnableWindow(!c.bDisable);
        c.pEdit->m_nCalls = 0;
        const COLORREF painted = RepaintAndSample(*c.pEdit);
        EXPECT_GT(c.pEdit->m_nCalls, 0);
        EXPECT_EQ(c.nExpectedType, c.pEdit->m_nLastCtlColor);
        EXPECT_EQ(CColourEdit::kColour, painted);
        c.pEdit->EnableWindow(TRUE);
    }
}

TEST_F(FrameworkReflection, DialogReturnsTheChildsBrushOrItsOwnWhenTheChildGivesNone) {
    CClientDC dc(&m_dlg.m_field);
    const WPARAM hdc = reinterpret_cast<WPARAM>(dc.m_hDC);
    const LPARAM field = reinterpret_cast<LPARAM>(m_dlg.m_field.m_hWnd);

    EXPECT_EQ(reinterpret_cast<LRESULT>(static_cast<HBRUSH>(m_dlg.m_field.m_brush)),
              m_dlg.SendMessage(WM_CTLCOLOREDIT, hdc, field));

    m_dlg.m_field.m_bGiveBrush = false;
    const LRESULT fallback = m_dlg.SendMessage(WM_CTLCOLOREDIT, hdc, field);
    EXPECT_NE(0, fallback);
    EXPECT_NE(reinterpret_cast<LRESULT>(static_cast<HBRUSH>(m_dlg.m_field.m_brush)), fallback);
    EXPECT_NE(CColourEdit::kColour, RepaintAndSample(m_dlg.m_field));
}

}  // namespace
