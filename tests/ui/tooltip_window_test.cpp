// The fading tooltip window on real layered windows under Wine: cutting texts into lines, the
// font choice, the layout from the anchor inside the work area, the opacity steps of the fades
// (with a scripted clock) and that they run from the timer, which calls fade, lay out or only
// repaint, and that the tooltip never takes activation or the focus.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/tooltip_window.h"
#include "framework/framework.h"
#include "tests/ui/ui_test_support.h"

namespace {

// The fades read this clock when a test installs it: the listed milliseconds one by one, then
// a time far beyond any fade.
std::vector<std::int64_t> g_clockScript;
size_t g_nClockReads = 0;

std::uint64_t ScriptedClock() {
    constexpr std::uint64_t kBase = 130000000000000000ull;  // some day in 2012
    const std::int64_t ms =
        g_nClockReads < g_clockScript.size() ? g_clockScript[g_nClockReads] : 10'000'000;
    ++g_nClockReads;
    return kBase + static_cast<std::uint64_t>(ms * 10000);
}

class CProbeTooltip : public CTooltipWindow {
public:
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (int i = 0; i < m_lines.GetCount(); ++i) {
            CVeltraneString* pLine = static_cast<CVeltraneString*>(m_lines.GetAt(i));
            const std::string form = pLine->IsWide() ? "w:" : "";
            lines.push_back(form + pLine->GetText());
        }
        return lines;
    }

    // The face name the tooltip asks for with its current lines, and whether the device
    // context holds its previous font again afterwards.
    std::string RequestedFace(bool* pRestored) {
        const HDC hDC = ::GetDC(m_hWnd);
        const HGDIOBJ hBefore = GetCurrentObject(hDC, OBJ_FONT);
        m_pWorkDC = CDC::FromHandle(hDC);
        std::string face;
        if (SelectTooltipFont()) {
            LOGFONTA lf{};
            GetObjectA(GetCurrentObject(hDC, OBJ_FONT), sizeof(lf), &lf);
            face = lf.lfFaceName;
            EXPECT_EQ(-12, lf.lfHeight);
            EXPECT_EQ(500, lf.lfWeight);
        }
        DeselectTooltipFont();
        *pRestored = GetCurrentObject(hDC, OBJ_FONT) == hBefore;
        m_pWorkDC = nullptr;
        ::ReleaseDC(m_hWnd, hDC);
        return face;
    }

    void UseScriptedClock(std::vector<std::int64_t> script) {
        g_clockScript = std::move(script);
        g_nClockReads = 0;
        m_pfnCurrentTime = &ScriptedClock;
    }
    void SetFade(bool bFade) { m_bFade = bFade; }

    // Alpha of the window at each paint.
    std::vector<int> m_paintAlphas;

protected:
    void OnPaint() {
        BYTE alpha = 0;
        DWORD flags = 0;
        GetLayeredWindowAttributes(m_hWnd, nullptr, &alpha, &flags);
        m_paintAlphas.push_back(alpha);
        CTooltipWindow::OnPaint();
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeTooltip, CTooltipWindow)
ON_WM_PAINT()
END_MESSAGE_MAP()

std::string Letters(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += static_cast<char>('a' + i % 26);
    }
    return s;
}

CVeltraneString Wide(const std::string& narrow) {
    CVeltraneString s(narrow.c_str());
    s.MakeWide();
    return s;
}

int Alpha(HWND hWnd) {
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!GetLayeredWindowAttributes(hWnd, nullptr, &alpha, &flags)) {
        return -1;
    }
    return alpha;
}

CRect WindowRect(HWND hWnd) {
    CRect rc;
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

class TooltipWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_owner.CreateEx(0, AfxRegisterWndClass(0), "owner", WS_POPUP,
                                     CRect(0, 0, 100, 30), nullptr, 0));
        m_tip.m_pOwnerWnd = &m_owner;
        ASSERT_TRUE(m_tip.CreateTooltip());
    }

    CWnd m_owner;
    CProbeTooltip m_tip;
};

TEST(TooltipLines, AddTextCutsLongTextsIntoPiecesOf61) {
    struct Case {
        CVeltraneString text;
        std::vector<std::string> expected;
    } const cases[] = {
        {"", {""}},
        {Letters(60).c_str(), {Letters(60)}},
        {Letters(61).c_str(), {Letters(61)}},
        {Letters(62).c_str(), {Letters(61), "j"}},
        {Letters(130).c_str(), {Letters(61), Letters(122).substr(61), Letters(130).substr(122)}},
        {"line\r\nbreaks  and   spaces stay", {"line\r\nbreaks  and   spaces stay"}},
        {Wide(Letters(62)), {"w:" + Letters(61), "w:j"}},
    };
    for (const Case& c : cases) {
        CProbeTooltip tip;
        EXPECT_TRUE(tip.AddText(c.text));
        EXPECT_EQ(c.expected, tip.Lines());
    }
}

TEST(TooltipLines, ClearLinesEmptiesAndLinesAccumulate) {
    CProbeTooltip tip;
    tip.AddText("one");
    tip.AddText("two");
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), tip.Lines());
    tip.ClearLines();
    EXPECT_EQ(0, tip.GetLineCount());
}

TEST(TooltipLines, WithoutOwnerOrWindowNothingIsShown) {
    CProbeTooltip tip;
    EXPECT_FALSE(tip.CreateTooltip());
    tip.AddText("text");
    EXPECT_FALSE(tip.ShowAt(POINT{10, 10}, false));
    EXPECT_FALSE(tip.Show(true));
    EXPECT_FALSE(tip.m_bVisible);
}

TEST_F(TooltipWindow, CreatedHiddenAtFullOpacity) {
    EXPECT_NE(nullptr, m_tip.m_hWnd);
    EXPECT_FALSE(m_tip.m_bVisible);
    EXPECT_FALSE(IsWindowVisible(m_tip.m_hWnd));
    EXPECT_EQ(252, Alpha(m_tip.m_hWnd));
    EXPECT_EQ(m_owner.m_hWnd, GetWindow(m_tip.m_hWnd, GW_OWNER));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN),
              m_tip.GetStyle() & ~WS_VISIBLE & ~0xFFFFu);
    const DWORD nExStyle = WS_EX_LAYERED | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
    EXPECT_EQ(nExStyle, m_tip.GetExStyle() & nExStyle);
}

TEST_F(TooltipWindow, FontIsArialUnlessAWideLineHasACharacterAbove127) {
    struct Case {
        const char* name;
        std::vector<CVeltraneString> lines;
        const char* face;
    } const cases[] = {
        {"plain text", {"abc", "def"}, "Arial"},
        {"8-bit text above 127", {"caf\xE9"}, "Arial"},
        {"wide ASCII", {Wide("abc")}, "Arial"},
        {"wide above 127 in a later line", {"abc", Wide("caf\xE9")}, "MS Mincho"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_tip.ClearLines();
        for (const CVeltraneString& line : c.lines) {
            m_tip.AddText(line);
        }
        bool bRestored = false;
        EXPECT_EQ(c.face, m_tip.RequestedFace(&bRestored));
        EXPECT_TRUE(bRestored);
    }
}

TEST_F(TooltipWindow, ShowAtLaysTheWindowOutFromTheAnchorInsideTheWorkArea) {
    m_tip.SetFade(false);
    m_tip.AddText("");
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor));
    const CRect work(monitor.rcWork);
    struct Case {
        POINT anchor;
        bool bAbove;
        CRect expected;
    } const cases[] = {
        {{100, 200}, false, CRect(100, 200, 110, 222)},
        {{100, 200}, true, CRect(100, 178, 110, 200)},
        // Moved back inside, as little as needed, past each edge.
        {{work.right - 5, work.bottom - 4},
         false,
         CRect(work.right - 10, work.bottom - 22, work.right, work.bottom)},
        {{work.left - 50, work.top + 10},
         true,
         CRect(work.left, work.top, work.left + 10, work.top + 22)},
    };
    for (const Case& c : cases) {
        m_tip.Show(false);
        ASSERT_TRUE(m_tip.ShowAt(c.anchor, c.bAbove));
        EXPECT_TRUE(m_tip.m_bVisible);
        EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd));
        EXPECT_EQ(c.expected, WindowRect(m_tip.m_hWnd))
            << c.anchor.x << "," << c.anchor.y << (c.bAbove ? " above" : " below");
    }
}

TEST_F(TooltipWindow, WindowIsTheWidestLinePlusTenAndTheLinesPlusTen) {
    m_tip.SetFade(false);
    m_tip.AddText("a rather longer line");
    m_tip.AddText("");
    m_tip.AddText("x");

    // The same font, measured here.
    const HDC hDC = ::GetDC(m_tip.m_hWnd);
    const LOGFONTA lf = ui_test::TooltipLogFont();
    CFont font;
    ASSERT_TRUE(font.CreateFontIndirect(&lf));
    SIZE longer{};
    SIZE shorter{};
    {
        CSelectObject select(CDC::FromHandle(hDC), font);
        GetTextExtentPoint32A(hDC, "a rather longer line", 20, &longer);
        GetTextExtentPoint32A(hDC, "x", 1, &shorter);
    }
    ::ReleaseDC(m_tip.m_hWnd, hDC);

    ASSERT_TRUE(m_tip.ShowAt(POINT{40, 50}, false));
    const CRect rc = WindowRect(m_tip.m_hWnd);
    EXPECT_EQ(longer.cx + 10, rc.Width());
    EXPECT_EQ(longer.cy + 12 + shorter.cy + 10, rc.Height());
}

TEST_F(TooltipWindow, FadesRunFromTheTimerWithoutBlockingAndEndOpaqueOrHidden) {
    m_tip.AddText("fading");
    // Showing returns at once, faint, with the fade still to run.
    ASSERT_TRUE(m_tip.ShowAt(POINT{30, 30}, false));
    EXPECT_TRUE(m_tip.IsFading());
    EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd));
    EXPECT_LT(Alpha(m_tip.m_hWnd), 252);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    EXPECT_EQ(252, Alpha(m_tip.m_hWnd));
    ASSERT_FALSE(m_tip.m_paintAlphas.empty());
    EXPECT_EQ(25, m_tip.m_paintAlphas.front()) << "first drawn faint, never flashing up opaque";

    // Hiding: no longer marked visible at once, on the screen until the fade out ends.
    m_tip.Show(false);
    EXPECT_FALSE(m_tip.m_bVisible);
    EXPECT_TRUE(m_tip.IsFading());
    EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd));
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    EXPECT_EQ(25, Alpha(m_tip.m_hWnd));
    EXPECT_FALSE(IsWindowVisible(m_tip.m_hWnd));

    // Shown again while fading out, it stays up.
    ASSERT_TRUE(m_tip.ShowAt(POINT{30, 30}, false));
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    m_tip.Show(false);
    ASSERT_TRUE(m_tip.ShowAt(POINT{30, 30}, false));
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    EXPECT_TRUE(m_tip.m_bVisible);
    EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd));
    EXPECT_EQ(252, Alpha(m_tip.m_hWnd));
}

TEST_F(TooltipWindow, FadeStepsFollowTheElapsedTime) {
    m_tip.AddText("steps");
    m_tip.SetFade(false);
    ASSERT_TRUE(m_tip.ShowAt(POINT{30, 30}, false));
    ui_test::PumpPending();

    struct Case {
        const char* name;
        bool bFadeIn;
        std::vector<std::int64_t> clock;  // start, then one reading per step
        std::vector<int> alphas;          // after each step; the last one ends the fade
    } const cases[] = {
        // levels 10, 39, 54, 98 (10 + 89 x elapsed / 300, truncated), then 99
        {"in", true, {0, 0, 100, 150, 299, 300}, {25, 99, 137, 249, 252}},
        // levels 99, 70, 55, 11, then 10
        {"out", false, {0, 0, 100, 150, 299, 300}, {252, 178, 140, 28, 25}},
        // the clock goes back an hour after the second step: the count restarts there
        {"clock set back", true, {0, 0, 50, -3600000, -3599900, -3599700}, {25, 61, 25, 99, 252}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_tip.UseScriptedClock(c.clock);
        // The steps are made here, one per clock reading; no message is dispatched, so the
        // timer makes none in between.
        ASSERT_TRUE(m_tip.Fade(c.bFadeIn));
        std::vector<int> alphas;
        while (m_tip.FadeStep()) {
            alphas.push_back(Alpha(m_tip.m_hWnd));
        }
        EXPECT_EQ(c.alphas, alphas);
        EXPECT_FALSE(m_tip.IsFading());
        EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd)) << "a window marked visible stays up";
    }
}

TEST_F(TooltipWindow, ShowingAShownWindowOrHidingAHiddenOneDoesNotFade) {
    m_tip.AddText("steady");
    ASSERT_TRUE(m_tip.ShowAt(POINT{20, 20}, false));
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    m_tip.SetOpacity(50);
    m_tip.m_paintAlphas.clear();
    EXPECT_TRUE(m_tip.Show(true));
    EXPECT_EQ(127, Alpha(m_tip.m_hWnd));
    EXPECT_TRUE(m_tip.m_paintAlphas.empty());

    EXPECT_FALSE(m_tip.IsFading());

    m_tip.Show(false);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return !m_tip.IsFading(); }));
    m_tip.SetOpacity(50);
    m_tip.m_paintAlphas.clear();
    EXPECT_FALSE(m_tip.Show(false));
    EXPECT_FALSE(m_tip.IsFading());
    EXPECT_EQ(127, Alpha(m_tip.m_hWnd));
    EXPECT_TRUE(m_tip.m_paintAlphas.empty());
    EXPECT_FALSE(m_tip.FadeStep()) << "no step without a fade";
}

TEST(TooltipActivation, ShowingOrClickingTheTooltipLeavesActivationAndFocusWithTheOwner) {
    // An owner with a control that has the focus, as the ID field has in the dialog.
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, AfxRegisterWndClass(0), "owner", WS_POPUP | WS_VISIBLE,
                               CRect(20, 20, 320, 120), nullptr, 0));
    const HWND hEdit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 5, 5, 100, 20,
                                       owner.m_hWnd, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hEdit);
    SetForegroundWindow(owner.m_hWnd);
    SetActiveWindow(owner.m_hWnd);
    SetFocus(hEdit);
    ui_test::PumpPending();
    ASSERT_EQ(owner.m_hWnd, GetActiveWindow());

    CProbeTooltip tip;
    tip.m_pOwnerWnd = &owner;
    ASSERT_TRUE(tip.CreateTooltip());
    tip.AddText("never active");
    ASSERT_TRUE(tip.ShowAt(POINT{60, 130}, false));
    ui_test::PumpUntil([&] { return !tip.IsFading(); });
    EXPECT_TRUE(IsWindowVisible(tip.m_hWnd));
    EXPECT_EQ(owner.m_hWnd, GetActiveWindow());
    EXPECT_EQ(owner.m_hWnd, GetForegroundWindow());
    EXPECT_EQ(hEdit, GetFocus());

    // A click on it: the system asks first, and is told not to activate.
    EXPECT_EQ(MA_NOACTIVATE,
              SendMessageA(tip.m_hWnd, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(owner.m_hWnd),
                           MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)));
    RECT rc{};
    GetWindowRect(tip.m_hWnd, &rc);
    SetCursorPos(rc.left + 3, rc.top + 3);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(2u, SendInput(2, click, sizeof(INPUT)));
    ui_test::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(owner.m_hWnd, GetActiveWindow());
    EXPECT_EQ(hEdit, GetFocus());
    SetCursorPos(5, 5);
}

TEST_F(TooltipWindow, SetOpacityTakesOnly10To99) {
    struct Case {
        int nPercent;
        int nExpectedAlpha;
    } const cases[] = {{50, 127}, {9, 127}, {100, 127}, {-1, 127}, {10, 25}, {99, 252}};
    m_tip.SetOpacity(50);
    for (const Case& c : cases) {
        m_tip.SetOpacity(c.nPercent);
        EXPECT_EQ(c.nExpectedAlpha, Alpha(m_tip.m_hWnd)) << c.nPercent << " percent";
    }
}

TEST_F(TooltipWindow, SameAnchorRepaintsInTheOldSizeNewAnchorLaysOutAgain) {
    m_tip.SetFade(false);
    m_tip.AddText("");
    ASSERT_TRUE(m_tip.ShowAt(POINT{60, 70}, false));
    const CRect first = WindowRect(m_tip.m_hWnd);

    m_tip.AddText("a second, much longer line");
    m_tip.m_paintAlphas.clear();
    EXPECT_TRUE(m_tip.ShowAt(POINT{60, 70}, false));
    EXPECT_EQ(first, WindowRect(m_tip.m_hWnd));
    EXPECT_FALSE(m_tip.m_paintAlphas.empty()) << "repainted";

    EXPECT_TRUE(m_tip.ShowAt(POINT{61, 70}, false));
    const CRect second = WindowRect(m_tip.m_hWnd);
    EXPECT_EQ(61, second.left);
    EXPECT_GT(second.Width(), first.Width());
    EXPECT_GT(second.Height(), first.Height());
}

TEST_F(TooltipWindow, SameAnchorWhileHiddenShowsTheWindowAgain) {
    m_tip.SetFade(false);
    m_tip.AddText("again");
    ASSERT_TRUE(m_tip.ShowAt(POINT{80, 90}, false));
    m_tip.Show(false);
    m_tip.AddText("and more");
    EXPECT_TRUE(m_tip.ShowAt(POINT{80, 90}, false));
    EXPECT_TRUE(m_tip.m_bVisible);
    EXPECT_TRUE(IsWindowVisible(m_tip.m_hWnd));
    EXPECT_EQ(80, WindowRect(m_tip.m_hWnd).left);
}

TEST_F(TooltipWindow, PaintWithNothingToDrawStillValidates) {
    m_tip.SetFade(false);
    m_tip.AddText("soon gone");
    ASSERT_TRUE(m_tip.ShowAt(POINT{10, 10}, false));
    m_tip.ClearLines();
    m_tip.Invalidate();
    ui_test::PumpPending();
    EXPECT_FALSE(GetUpdateRect(m_tip.m_hWnd, nullptr, FALSE));
}

}  // namespace
