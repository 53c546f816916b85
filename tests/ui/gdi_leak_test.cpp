// GDI leaks in the controls that draw for themselves: a thousand rounds of layout and painting of
// the tooltip and of the ID field, and a hundred fields made and destroyed, must leave this
// process with as many GDI objects as before.
// The count comes from tests/ui/gdi_object_count.h; the first tests show that it sees leaked
// objects and device contexts, so that an unchanged count means something.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/tooltip_window.h"
#include "framework/framework.h"
#include "tests/ui/gdi_object_count.h"
#include "tests/ui/static_field_host.h"
#include "tests/ui/ui_test_support.h"

namespace {

constexpr int kRounds = 1000;
constexpr int kWarmUpRounds = 20;

// A clock that moves 4 ms at every reading.
std::uint64_t g_nClockTicks = 0;
std::uint64_t SteppingClock() {
    g_nClockTicks += 4 * 10000;
    return 130000000000000000ull + g_nClockTicks;
}

class CQuickFadeTooltip : public CTooltipWindow {
public:
    // Fades of a few steps and no waiting, so that a thousand rounds still fade in and out.
    void UseQuickFades() {
        m_nFadeMs = 20;
        m_pfnCurrentTime = &SteppingClock;
    }
};

// A few rounds first, so that what the system makes once and keeps (cached device contexts,
// font data) is made before counting; then kRounds rounds must leave the count as it was.
template <typename Round>
void ExpectRoundsKeepTheObjectCount(Round round) {
    for (int i = 0; i < kWarmUpRounds; ++i) {
        round(i);
    }
    const long nBefore = ui_test::CountGdiObjects();
    ASSERT_GE(nBefore, 0);
    for (int i = 0; i < kRounds; ++i) {
        round(i);
    }
    EXPECT_EQ(nBefore, ui_test::CountGdiObjects());
}

CVeltraneString WideText(const char* pText) {
    CVeltraneString s(pText);
    s.MakeWide();
    return s;
}

TEST(GdiObjectCount, SeesLeakedObjectsAndDeviceContexts) {
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, AfxRegisterWndClass(0), "dc source", WS_POPUP | WS_VISIBLE,
                                CRect(0, 0, 50, 50), nullptr, 0));
    const long nBefore = ui_test::CountGdiObjects();
    ASSERT_GE(nBefore, 0) << "no way to count GDI objects here";
    EXPECT_EQ(nBefore, ui_test::CountGdiObjects()) << "counting changes the count";

    constexpr int kLeaks = 25;
    std::vector<HGDIOBJ> objects;
    for (int i = 0; i < kLeaks; ++i) {
        objects.push_back(::CreateSolidBrush(RGB(i, i, i)));
        objects.push_back(::CreatePen(PS_SOLID, 1, RGB(i, 0, 0)));
    }
    const long nWithObjects = ui_test::CountGdiObjects();
    std::vector<HDC> dcs;
    for (int i = 0; i < kLeaks; ++i) {
        dcs.push_back(::GetDC(window.m_hWnd));
    }
    const long nWithDCs = ui_test::CountGdiObjects();

    for (HDC hDC : dcs) {
        ::ReleaseDC(window.m_hWnd, hDC);
    }
    for (HGDIOBJ hObject : objects) {
        ::DeleteObject(hObject);
    }
    EXPECT_EQ(nBefore + 2 * kLeaks, nWithObjects);
    EXPECT_GE(nWithDCs, nWithObjects + kLeaks);
    // Released device contexts may stay cached; deleted objects are gone.
    EXPECT_LE(ui_test::CountGdiObjects(), nWithDCs - 2 * kLeaks);
}

TEST(GdiLeak, TooltipLayoutsAndPaintsKeepTheObjectCount) {
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, AfxRegisterWndClass(0), "owner", WS_POPUP, CRect(0, 0, 100, 30),
                               nullptr, 0));
    CQuickFadeTooltip tip;
    tip.m_pOwnerWnd = &owner;
    ASSERT_TRUE(tip.CreateTooltip());
    tip.UseQuickFades();

    // Two or three lines, now and then a wide line that asks for another face; two anchors, one
    // below and one above; hidden every other round, so that layouts happen both on a hidden and
    // on a shown window; repaints through the same anchor, invalidation and RedrawWindow.
    auto round = [&tip](int i) {
        tip.ClearLines();
        tip.AddText("Computer ID");
        tip.AddText(std::to_string(1000000 + i).c_str());
        if (i % 3 == 0) {
            tip.AddText(WideText("caf\xE9 au lait"));
        } else if (i % 3 == 1) {
            tip.AddText("a third line");
        }
        const bool bFirstAnchor = i % 2 == 0;
        const POINT anchor = bFirstAnchor ? POINT{200, 300} : POINT{420, 260};
        tip.ShowAt(anchor, !bFirstAnchor);
        ::RedrawWindow(tip.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        tip.ShowAt(anchor, !bFirstAnchor);
        tip.InvalidateRect(nullptr, TRUE);
        tip.UpdateWindow();
        if (i % 4 < 2) {
            tip.Show(false);
        }
        ui_test::PumpPending();
    };

    ExpectRoundsKeepTheObjectCount(round);
}

TEST(GdiLeak, FieldPaintsScrollingAndFocusKeepTheObjectCount) {
    field_test::ProvideFace("MS Shell Dlg", "tahoma.ttf");
    ::SetCursorPos(5, 5);  // away from the field: no hover tooltip
    field_test::CFieldHostDlg host;
    ASSERT_TRUE(host.Create());
    const HWND hField = host.Field();

    // A cut text and one that fits, key scrolling of the cut one, the focus moving between the
    // field and the button (the two background brushes), and forced repaints.
    auto round = [&host, hField](int i) {
        host.m_field.SetFieldText(i % 2 == 0 ? "0123456789abcdefghijklmnopqrstuvwxyz0123456789"
                                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                             : "short\r\nID");
        ::SetFocus(i % 4 < 2 ? hField : host.Button());
        field_test::PaintUntilSettled(hField);
        ::SendMessageA(hField, WM_KEYDOWN, i % 3 == 0 ? VK_END : VK_RIGHT, 1);
        ::RedrawWindow(hField, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        ::SendMessageA(hField, WM_KEYDOWN, VK_HOME, 1);
        field_test::PaintUntilSettled(hField);
    };

    ExpectRoundsKeepTheObjectCount(round);
}

TEST(GdiLeak, FieldsMadeAndDestroyedKeepTheObjectCount) {
    field_test::ProvideFace("MS Shell Dlg", "tahoma.ttf");
    ::SetCursorPos(5, 5);
    // Each field makes its two brushes, its tooltip window and, at its first paint, its font.
    auto round = [] {
        field_test::CFieldHostDlg host;
        ASSERT_TRUE(host.Create());
        host.m_field.SetFieldText(
            "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        ::SetFocus(host.Field());
        field_test::PaintUntilSettled(host.Field());
    };

    constexpr int kFields = 100;
    round();
    const long nBefore = ui_test::CountGdiObjects();
    ASSERT_GE(nBefore, 0);
    for (int i = 0; i < kFields; ++i) {
        round();
    }
    ui_test::PumpPending();
    EXPECT_EQ(nBefore, ui_test::CountGdiObjects());
}

}  // namespace
