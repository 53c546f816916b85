// The ID field on a real EDIT control in a small dialog: what it shows, how the keys scroll
// it, the clipboard, the right button, the focus colour and the hover tooltip.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/ui/static_field_host.h"

using namespace field_test;

namespace {

const char kLongText[] =
    "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

class StaticFieldTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The dialog face must report its own name here, as it does on Windows; a raster face
        // is needed as well.
        ProvideFace("MS Shell Dlg", "tahoma.ttf");
        ProvideFace("MS Sans Serif", "sserife.fon");
    }

    void SetUp() override {
        // The pointer waits away from the field, so that no tooltip comes up unasked.
        ::SetCursorPos(5, 5);
        ASSERT_TRUE(m_host.Create());
    }

    void Show(const char* pText) {
        m_host.m_field.SetFieldText(pText);
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
    }

    std::string Shown() { return WindowText(m_host.Field()); }

    void Key(UINT nKey) {
        ::SendMessageA(m_host.Field(), WM_KEYDOWN, nKey, 1);
        ::SendMessageA(m_host.Field(), WM_KEYUP, nKey, 0xC0000001);
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
    }

    int FieldTextRoom() {
        RECT client{};
        ::GetClientRect(m_host.Field(), &client);
        return client.right - 10 - client.left;
    }

    CFieldHostDlg m_host;
};

TEST_F(StaticFieldTest, ShowsLineBreaksAndSpaceRunsAsSingleSpaces) {
    const struct {
        const char* pText;
        const char* pShown;
    } cases[] = {
        {"ab\r\ncd", "ab cd"},
        {"ab     cd", "ab cd"},
        {"\r\n\r\nab\n\n  \r cd  ", " ab cd "},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        Show(c.pText);
        EXPECT_EQ(c.pShown, Shown()) << "for " << testing::PrintToString(c.pText);
    }
}

TEST_F(StaticFieldTest, CutsATextWiderThanTheFieldToTheWidestPartThatFitsWithEllipsis) {
    ASSERT_EQ("MS Shell Dlg", ReportedFace("MS Shell Dlg"));
    Show(kLongText);
    const std::string shown = Shown();
    ASSERT_TRUE(EndsWith(shown, "...")) << shown;
    const std::string kept = shown.substr(0, shown.size() - 3);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(0u, std::string(kLongText).rfind(kept, 0)) << shown;
    // Measured in the font the control draws with: the cut is neither too long nor too short.
    EXPECT_LE(TextWidthInControlFont(m_host.Field(), shown), FieldTextRoom());
    const std::string oneMore = std::string(kLongText).substr(0, kept.size() + 1) + "...";
    EXPECT_GT(TextWidthInControlFont(m_host.Field(), oneMore), FieldTextRoom());
}

TEST_F(StaticFieldTest, CutsWithTheFontTheDialogGivesTheField) {
    // Fonts of the sizes that 100 %, 150 % and 200 % give the dialog's 8-point face.
    for (const int nHeight : {-11, -16, -21}) {
        SCOPED_TRACE(nHeight);
        HFONT hFont = ::CreateFontA(nHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0,
                                    0, "MS Shell Dlg");
        ASSERT_NE(nullptr, hFont);
        ::SendMessageA(m_host.Field(), WM_SETFONT, reinterpret_cast<WPARAM>(hFont), TRUE);
        Show(kLongText);
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
        const std::string shown = Shown();
        ASSERT_TRUE(EndsWith(shown, "...")) << shown;
        const std::string kept = shown.substr(0, shown.size() - 3);
        EXPECT_LE(TextWidthInControlFont(m_host.Field(), shown), FieldTextRoom());
        const std::string oneMore = std::string(kLongText).substr(0, kept.size() + 1) + "...";
        EXPECT_GT(TextWidthInControlFont(m_host.Field(), oneMore), FieldTextRoom());
        ::SendMessageA(m_host.Field(), WM_SETFONT, 0, FALSE);
        ::DeleteObject(hFont);
    }
}

TEST_F(StaticFieldTest, KeysScrollACutText) {
    Show(kLongText);
    const std::string full(kLongText);
    const std::string start = Shown();

    Key(VK_END);
    const std::string tail = Shown();
    EXPECT_FALSE(EndsWith(tail, "...")) << tail;
    EXPECT_LT(tail.size(), full.size());
    EXPECT_TRUE(EndsWith(full, tail)) << tail;
    EXPECT_LE(TextWidthInControlFont(m_host.Field(), tail), FieldTextRoom());

    Key(VK_RIGHT);  // already at the end
    EXPECT_EQ(tail, Shown());

    Key(VK_HOME);
    EXPECT_EQ(start, Shown());
    Key(VK_LEFT);  // already at the start
    EXPECT_EQ(start, Shown());

    Key(VK_RIGHT);
    const std::string second = Shown();
    EXPECT_TRUE(EndsWith(second, "...")) << second;
    EXPECT_EQ(0u, full.substr(1).rfind(second.substr(0, second.size() - 3), 0)) << second;

    Key(VK_LEFT);
    EXPECT_EQ(start, Shown());
}

TEST_F(StaticFieldTest, KeysOnlyReachTheControlWhenTheTextFits) {
    const char kShort[] = "0123456789";
    Show(kShort);
    ASSERT_EQ(kShort, Shown());
    const struct {
        UINT nKey;
        DWORD nCaret;  // where the control's own handling puts the caret
    } cases[] = {{VK_END, 10}, {VK_LEFT, 9}, {VK_HOME, 0}, {VK_RIGHT, 1}};
    for (const auto& c : cases) {
        Key(c.nKey);
        EXPECT_EQ(kShort, Shown()) << "key " << c.nKey;
        DWORD nStart = 0;
        DWORD nEnd = 0;
        ::SendMessageA(m_host.Field(), EM_GETSEL, reinterpret_cast<WPARAM>(&nStart),
                       reinterpret_cast<LPARAM>(&nEnd));
        EXPECT_EQ(c.nCaret, nEnd) << "key " << c.nKey;
    }
}

TEST_F(StaticFieldTest, SetFieldTextMakesTheControlReadOnly) {
    ASSERT_EQ(0, ::GetWindowLongA(m_host.Field(), GWL_STYLE) & ES_READONLY);
    Show("0123456789");
    EXPECT_NE(0, ::GetWindowLongA(m_host.Field(), GWL_STYLE) & ES_READONLY);
}

TEST_F(StaticFieldTest, ShowsOnlyEllipsisWhenNotOneCharacterFits) {
    ::SetWindowPos(m_host.Field(), nullptr, 0, 0, 14, 20, SWP_NOMOVE | SWP_NOZORDER);
    Show("W");
    EXPECT_EQ("...", Shown());
}

TEST_F(StaticFieldTest, WithoutAUsableFontShowsTheTextWholeAndStopsRepainting) {
    // A raster font is never taken over for measuring; the field must not keep asking to be
    // painted again in the hope of one.
    ASSERT_EQ("MS Sans Serif", ReportedFace("MS Sans Serif"));
    HFONT hRaster = ::CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                  "MS Sans Serif");
    ASSERT_NE(nullptr, hRaster);
    {
        CFieldHostDlg host;
        ASSERT_TRUE(host.Create(188, false));
        ::SendMessageA(host.Field(), WM_SETFONT, reinterpret_cast<WPARAM>(hRaster), FALSE);
        host.m_field.SetFieldText(kLongText);
        host.ShowHost();
        EXPECT_TRUE(PaintUntilSettled(host.Field()));
        EXPECT_EQ(kLongText, WindowText(host.Field()));
    }
    ::DeleteObject(hRaster);
}

TEST_F(StaticFieldTest, DoubleClickCopiesTheWholeDisplayText) {
    const struct {
        const char* pText;
        const char* pCopied;
    } cases[] = {
        {"fits\r\nin   the field", "fits in the field"},
        {"0123456789abcdefghijklmnopqrstuvwxyz\r\n0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ  0123456789",
         "0123456789abcdefghijklmnopqrstuvwxyz 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(PutOnClipboard("stale"));
        Show(c.pText);
        ::SendMessageA(m_host.Field(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 4));
        EXPECT_EQ(c.pCopied, ClipboardText());
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
        EXPECT_EQ(m_host.Field(), ::GetFocus());
        DWORD nStart = 1;
        DWORD nEnd = 0;
        ::SendMessageA(m_host.Field(), EM_GETSEL, reinterpret_cast<WPARAM>(&nStart),
                       reinterpret_cast<LPARAM>(&nEnd));
        EXPECT_EQ(0u, nStart);
        EXPECT_EQ(Shown().size(), nEnd) << "the whole shown text stays selected";
    }
    EXPECT_TRUE(EndsWith(Shown(), "..."));
}

// Counts the popup menus that opened on this thread, and closes them so that the test goes on.
int g_nMenusOpened = 0;
void CALLBACK CloseMenus(HWND, UINT, UINT_PTR, DWORD) {
    HWND hMenu = ::FindWindowA("#32768", nullptr);
    if (hMenu != nullptr && ::IsWindowVisible(hMenu)) {
        ++g_nMenusOpened;
        ::EndMenu();
    }
}

TEST_F(StaticFieldTest, RightClickOpensNoMenu) {
    Show(kLongText);
    g_nMenusOpened = 0;
    // A menu would run its own loop inside these calls; the timer fires there.
    const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 100, CloseMenus);
    ::SendMessageA(m_host.Field(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    ::SendMessageA(m_host.Field(), WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    ::KillTimer(nullptr, nTimer);
    EXPECT_EQ(0, g_nMenusOpened);
}

TEST_F(StaticFieldTest, FocusChangesTheBackground) {
    Show(kLongText);
    const struct {
        bool bFocus;
        COLORREF crExpected;
    } cases[] = {{false, ::GetSysColor(COLOR_BTNFACE)},
                 {true, RGB(220, 220, 230)},
                 {false, ::GetSysColor(COLOR_BTNFACE)}};
    for (const auto& c : cases) {
        ::SetFocus(c.bFocus ? m_host.Field() : m_host.Button());
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
        EXPECT_EQ(c.crExpected, ClientPixel(m_host.Field(), 2, 2)) << "focus " << c.bFocus;
    }
}

// A black-and-white scheme of the kind high contrast brings, set for the test's duration and put
// back afterwards.
class CBlackSchemeScope {
public:
    CBlackSchemeScope() {
        for (size_t i = 0; i < kCount; ++i) {
            m_saved[i] = ::GetSysColor(kElements[i]);
        }
        ::SetSysColors(static_cast<int>(kCount), kElements, kScheme);
    }
    ~CBlackSchemeScope() { ::SetSysColors(static_cast<int>(kCount), kElements, m_saved); }
    CBlackSchemeScope(const CBlackSchemeScope&) = delete;
    CBlackSchemeScope& operator=(const CBlackSchemeScope&) = delete;

    static constexpr size_t kCount = 5;
    static constexpr INT kElements[kCount] = {COLOR_BTNFACE, COLOR_WINDOW, COLOR_WINDOWTEXT,
                                              COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT};
    static constexpr COLORREF kScheme[kCount] = {RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 255, 255),
                                                 RGB(0, 0, 160), RGB(255, 255, 255)};

private:
    COLORREF m_saved[kCount] = {};
};

// The colours found in the field's client area, inside its one-pixel edge.
std::vector<COLORREF> FieldColours(HWND hField) {
    RECT client{};
    ::GetClientRect(hField, &client);
    std::vector<COLORREF> colours;
    HDC hDC = ::GetDC(hField);
    for (int y = 1; y + 1 < client.bottom; ++y) {
        for (int x = 1; x + 1 < client.right; ++x) {
            const COLORREF colour = ::GetPixel(hDC, x, y);
            if (std::find(colours.begin(), colours.end(), colour) == colours.end()) {
                colours.push_back(colour);
            }
        }
    }
    ::ReleaseDC(hField, hDC);
    return colours;
}

TEST_F(StaticFieldTest, HighContrastTakesTheSchemesColoursSoTheIdStaysReadable) {
    CBlackSchemeScope scheme;
    // The field makes its own brush from the button face colour when told of the change.
    ::SendMessageA(m_host.Field(), WM_SYSCOLORCHANGE, 0, 0);
    Show("0123456789abcdef");
    const COLORREF kBlack = RGB(0, 0, 0);
    const COLORREF kWhite = RGB(255, 255, 255);
    const struct {
        const char* pName;
        int nHighContrast;
        bool bFocus;
        COLORREF crBackground;
        COLORREF crText;  // among the drawn colours; kBlack on black means none drawn
    } cases[] = {
        {"high contrast, unfocused: window and window text", 1, false, kBlack, kWhite},
        {"high contrast, focused: highlight and its text", 1, true, RGB(0, 0, 160), kWhite},
        {"standard scheme, focused: the field's own colours", 0, true, RGB(220, 220, 230), kBlack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        m_host.m_field.m_nHighContrast = c.nHighContrast;
        ::SetFocus(c.bFocus ? m_host.Field() : m_host.Button());
        // A scheme switched on or off reaches the field as a change of settings; that alone
        // must repaint it.
        ::SendMessageA(m_host.Field(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
        EXPECT_EQ(c.crBackground, ClientPixel(m_host.Field(), 2, 2));
        const std::vector<COLORREF> colours = FieldColours(m_host.Field());
        EXPECT_GT(colours.size(), 1u) << "the text is invisible";
        EXPECT_NE(colours.end(), std::find(colours.begin(), colours.end(), c.crText));
    }
}

// Hover: the tests rest the real pointer over the field and wait for the hover timer.
class StaticFieldHoverTest : public StaticFieldTest {
protected:
    POINT FieldPoint(int x, int y) {
        POINT pt{x, y};
        ::ClientToScreen(m_host.Field(), &pt);
        return pt;
    }

    bool TooltipShown() {
        HWND hTooltip = m_host.m_field.m_tooltip.GetSafeHwnd();
        return hTooltip != nullptr && ::IsWindowVisible(hTooltip) &&
               m_host.m_field.m_tooltip.m_bVisible;
    }

    struct Request {
        ULONGLONG nTickMs;  // when the field's thread took it from the queue
        LPARAM lParam;
    };
    static int s_nRequests;
    static std::vector<Request> s_requests;
    static HWND s_hField;
    static LRESULT CALLBACK CountRequests(int nCode, WPARAM wParam, LPARAM lParam) {
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == WM_FIELD_HOVER &&
            pMsg->hwnd == s_hField) {
            ++s_nRequests;
            s_requests.push_back(Request{::GetTickCount64(), pMsg->lParam});
        }
        return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
    }
};
int StaticFieldHoverTest::s_nRequests = 0;
std::vector<StaticFieldHoverTest::Request> StaticFieldHoverTest::s_requests;
HWND StaticFieldHoverTest::s_hField = nullptr;

TEST_F(StaticFieldHoverTest, RestingPointerShowsTheFullTextBelowTheFieldUntilMoveOrClick) {
    Show(kLongText);
    ::SetFocus(m_host.Field());
    const POINT rest = FieldPoint(30, 6);
    ::SetCursorPos(rest.x, rest.y);
    ASSERT_TRUE(PumpUntil([&] { return TooltipShown(); }));

    RECT tooltip{};
    ::GetWindowRect(m_host.m_field.m_tooltip.GetSafeHwnd(), &tooltip);
    RECT client{};
    ::GetClientRect(m_host.Field(), &client);
    const POINT bottom = FieldPoint(0, client.bottom);
    EXPECT_EQ(rest.x, tooltip.left);
    EXPECT_EQ(bottom.y, tooltip.top);
    // The whole text, not the cut one: 82 characters make two lines of the tooltip.
    EXPECT_EQ(2, m_host.m_field.m_tooltip.GetLineCount());

    // A move over the field hides it.
    ::SetCursorPos(rest.x + 9, rest.y);
    ASSERT_TRUE(PumpUntil([&] { return !TooltipShown(); }));

    // Back with the focus and resting again, it reappears at the new x; a click hides it.
    ::SetFocus(m_host.Field());
    ASSERT_TRUE(PumpUntil([&] { return TooltipShown(); }));
    ::GetWindowRect(m_host.m_field.m_tooltip.GetSafeHwnd(), &tooltip);
    EXPECT_EQ(rest.x + 9, tooltip.left);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ASSERT_EQ(2u, ::SendInput(2, click, sizeof(INPUT)));
    EXPECT_TRUE(PumpUntil([&] { return !TooltipShown(); }));
}

TEST_F(StaticFieldHoverTest, NoTooltipForAnUnfocusedFieldARestOutsideItOrATextThatFits) {
    const struct {
        const char* pText;
        bool bFocus;
        bool bOutside;  // the pointer rests on the dialog just below the field's client area
    } cases[] = {{kLongText, false, false}, {kLongText, true, true}, {"fits", true, false}};
    s_hField = m_host.Field();
    HHOOK hHook =
        ::SetWindowsHookExA(WH_GETMESSAGE, CountRequests, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    int nStep = 0;
    for (const auto& c : cases) {
        Show(c.pText);
        ::SetFocus(c.bFocus ? m_host.Field() : m_host.Button());
        // A move onto the field, or the focus, starts the watch.
        RECT client{};
        ::GetClientRect(m_host.Field(), &client);
        const POINT rest = FieldPoint(30 + 10 * nStep++, c.bOutside ? client.bottom + 5 : 6);
        ::SetCursorPos(rest.x, rest.y);
        ASSERT_TRUE(PumpUntil([&] {
            POINT now{};
            return ::GetCursorPos(&now) && now.x == rest.x && now.y == rest.y;
        }));
        s_nRequests = 0;
        EXPECT_TRUE(PumpUntil([] { return s_nRequests > 0; }))
            << c.pText << (c.bOutside ? " (outside)" : "");
        EXPECT_FALSE(TooltipShown()) << c.pText << (c.bOutside ? " (outside)" : "");
    }
    ::UnhookWindowsHookEx(hHook);
}

TEST_F(StaticFieldHoverTest, ARestIsReportedAfterTwoSecondsAndAgainEveryThirdTick) {
    // Only lower bounds: a busy machine can make the ticks late, never early. A text that fits
    // opens no tooltip, so the timer keeps watching and reports the same rest again and again.
    Show("fits");
    ::SetFocus(m_host.Field());
    s_hField = m_host.Field();
    s_requests.clear();
    HHOOK hHook =
        ::SetWindowsHookExA(WH_GETMESSAGE, CountRequests, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    const POINT rest = FieldPoint(40, 6);
    const LPARAM restParam = MAKELPARAM(static_cast<WORD>(rest.x), static_cast<WORD>(rest.y));
    const ULONGLONG nMovedMs = ::GetTickCount64();
    ::SetCursorPos(rest.x, rest.y);
    std::vector<ULONGLONG> restTimes;
    EXPECT_TRUE(PumpUntil([&] {
        restTimes.clear();
        for (const Request& request : s_requests) {
            if (request.lParam == restParam) {
                restTimes.push_back(request.nTickMs);
            }
        }
        return restTimes.size() >= 2;
    }));
    ::UnhookWindowsHookEx(hHook);
    ASSERT_GE(restTimes.size(), 2u);
    // The rest begins at a tick after the move and must last 2000 ms (the clocks differ by a
    // few milliseconds at most).
    EXPECT_GE(restTimes[0] - nMovedMs, 1950u);
    // After a request the next tick, 1000 ms later, begins a new rest of two more ticks. The
    // slack allows for the first request waiting in the queue a little longer than the second.
    EXPECT_GE(restTimes[1] - restTimes[0], 2750u);
}

// Messages that reached the watched control while an object was still bound to it.
HWND g_hWatched = nullptr;
int g_nBoundMessages = 0;
LRESULT CALLBACK CountBoundMessages(int nCode, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->hwnd == g_hWatched &&
        ::GetWindowLongPtrA(g_hWatched, GWLP_USERDATA) != 0) {
        ++g_nBoundMessages;
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

TEST_F(StaticFieldHoverTest, FieldGoingBeforeItsControlLetsGoOfTheControlFirst) {
    // Destroying the field's shown tooltip gives the focus back to the control; that message
    // must find the control on its own, not the field's parts half taken apart.
    ui_test::DialogTemplate tmpl(WS_POPUP | WS_CAPTION | WS_VISIBLE, 268, 55, "Outliving control");
    tmpl.AddItem(ui_test::DialogTemplate::kEdit, kFieldId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                 64, 9, 188, 14, "");
    CDialog dlg;
    ASSERT_TRUE(dlg.CreateIndirect(tmpl.Get()));
    const HWND hEdit = ::GetDlgItem(dlg.m_hWnd, kFieldId);
    auto pField = std::make_unique<CStaticFieldProbe>();
    ASSERT_TRUE(pField->SubclassWindow(hEdit));
    pField->SetFieldText(kLongText);
    ASSERT_TRUE(PaintUntilSettled(hEdit));
    ::SetFocus(hEdit);
    POINT pt{20, 6};
    ::ClientToScreen(hEdit, &pt);
    ::PostMessageA(hEdit, WM_FIELD_HOVER, 0,
                   MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
    ASSERT_TRUE(PumpUntil([&] { return pField->m_tooltip.m_bVisible; }));

    g_hWatched = hEdit;
    g_nBoundMessages = 0;
    HHOOK hHook =
        ::SetWindowsHookExA(WH_CALLWNDPROC, CountBoundMessages, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    pField.reset();
    ::UnhookWindowsHookEx(hHook);
    EXPECT_EQ(0, g_nBoundMessages);
    EXPECT_TRUE(::IsWindow(hEdit));
    dlg.DestroyWindow();
}

TEST_F(StaticFieldHoverTest, AChangeOfDpiHidesTheTooltipUntilTheNextRest) {
    Show(kLongText);
    ::SetFocus(m_host.Field());
    const POINT rest = FieldPoint(30, 6);
    const LPARAM lParam = MAKELPARAM(static_cast<WORD>(rest.x), static_cast<WORD>(rest.y));
    ::PostMessageA(m_host.Field(), WM_FIELD_HOVER, 0, lParam);
    ASSERT_TRUE(PumpUntil([&] { return TooltipShown(); }));
    HWND hTooltip = m_host.m_field.m_tooltip.GetSafeHwnd();
    RECT before{};
    ::GetWindowRect(hTooltip, &before);

    // Sent by Windows to the children of a per-monitor aware window whose DPI changed.
    ::SendMessageA(m_host.Field(), kWmDpiChangedAfterParent, 0, 0);
    EXPECT_FALSE(m_host.m_field.m_tooltip.m_bVisible);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindowVisible(hTooltip); }));

    // The next rest brings it back, laid out as before at this unchanged DPI.
    ::PostMessageA(m_host.Field(), WM_FIELD_HOVER, 0, lParam);
    ASSERT_TRUE(PumpUntil([&] { return TooltipShown(); }));
    RECT after{};
    ::GetWindowRect(hTooltip, &after);
    EXPECT_EQ(before.right - before.left, after.right - after.left);
    EXPECT_EQ(before.bottom - before.top, after.bottom - after.top);
}

TEST_F(StaticFieldHoverTest, RequestLeftOfThePrimaryScreenStillMapsIntoTheField) {
    Show(kLongText);
    ::SetWindowPos(m_host.GetSafeHwnd(), nullptr, -300, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::SetFocus(m_host.Field());
    ASSERT_TRUE(PaintUntilSettled(m_host.Field()));
    const POINT rest = FieldPoint(20, 6);
    ASSERT_LT(rest.x, 0);
    ::PostMessageA(m_host.Field(), WM_FIELD_HOVER, 0,
                   MAKELPARAM(static_cast<WORD>(rest.x), static_cast<WORD>(rest.y)));
    ASSERT_TRUE(PumpUntil([&] { return TooltipShown(); }));
    // Read as unsigned, the point would lie far right of the field and bring no tooltip. The
    // tooltip starts at the pointer, or where a screen there has its left edge.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(::GetMonitorInfoA(::MonitorFromPoint(rest, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT tooltip{};
    ::GetWindowRect(m_host.m_field.m_tooltip.GetSafeHwnd(), &tooltip);
    EXPECT_EQ(std::max(rest.x, monitor.rcWork.left), tooltip.left);
}

}  // namespace
