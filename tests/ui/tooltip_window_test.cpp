// The fading tooltip window on real layered windows under Wine: cutting texts into lines, the
// font choice, the layout from the anchor, the opacity steps of the fades (with a scripted
// clock), and which calls fade, lay out or only repaint.
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
    EXPECT_TRUE(m_tip.GetExStyle() & WS_EX_LAYERED);
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

TEST_F(TooltipWindow, ShowAtLaysTheWindowOutFromTheAnchor) {
    m_tip.SetFade(false);
    m_tip.AddText("");
    struct Case {
        POINT anchor;
        bool bAbove;
        CRect expected;
    } const cases[] = {
        {{100, 200}, false, CRect(100, 200, 110, 222)},
        {{100, 200}, true, CRect(100, 178, 110, 200)},
        {{1275, 1020}, false, CRect(1275, 1020, 1285, 1042)},  // not kept on the screen
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

TEST_F(TooltipWindow, FadeInEndsOpaqueAndFadeOutEndsFaintAndHidden) {
    m_tip.AddText("fading");
    ASSERT_TRUE(m_tip.ShowAt(POINT{30, 30}, false));
    EXPECT_EQ(252, Alpha(m_tip.m_hWnd));
    EXPECT_GT(m_tip.m_paintAlphas.size(), 1u) << "repainted at every step";
    EXPECT_EQ(25, m_tip.m_paintAlphas.front());

    m_tip.m_paintAlphas.clear();
    m_tip.Show(false);
    EXPECT_EQ(25, Alpha(m_tip.m_hWnd));
    EXPECT_FALSE(m_tip.m_bVisible);
    EXPECT_FALSE(IsWindowVisible(m_tip.m_hWnd));
    ASSERT_FALSE(m_tip.m_paintAlphas.empty());
    EXPECT_EQ(252, m_tip.m_paintAlphas.front());
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
        std::vector<int> alphas;          // at each step's paint
        int nFinal;
    } const cases[] = {
        // levels 10, 39, 54, 98 (10 + 89 x elapsed / 300, truncated)
        {"in", true, {0, 0, 100, 150, 299, 300}, {25, 99, 137, 249}, 252},
        // levels 99, 70, 55, 11
        {"out", false, {0, 0, 100, 150, 299, 300}, {252, 178, 140, 28}, 25},
        // the clock goes back an hour after the second step: the count restarts there
        {"clock set back", true, {0, 0, 50, -3600000, -3599900, -3599700}, {25, 61, 25, 99}, 252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_tip.UseScriptedClock(c.clock);
        m_tip.m_paintAlphas.clear();
        EXPECT_TRUE(m_tip.Fade(c.bFadeIn));
        EXPECT_EQ(c.alphas, m_tip.m_paintAlphas);
        EXPECT_EQ(c.nFinal, Alpha(m_tip.m_hWnd));
    }
}

TEST_F(TooltipWindow, ShowingAShownWindowOrHidingAHiddenOneDoesNotFade) {
    m_tip.AddText("steady");
    ASSERT_TRUE(m_tip.ShowAt(POINT{20, 20}, false));
    m_tip.SetOpacity(50);
    m_tip.m_paintAlphas.clear();
    EXPECT_TRUE(m_tip.Show(true));
    EXPECT_EQ(127, Alpha(m_tip.m_hWnd));
    EXPECT_TRUE(m_tip.m_paintAlphas.empty());

    m_tip.Show(false);
    m_tip.SetOpacity(50);
    m_tip.m_paintAlphas.clear();
    EXPECT_FALSE(m_tip.Show(false));
    EXPECT_EQ(127, Alpha(m_tip.m_hWnd));
    EXPECT_TRUE(m_tip.m_paintAlphas.empty());
    EXPECT_FALSE(m_tip.Fade(true)) << "no fade while hidden";
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
