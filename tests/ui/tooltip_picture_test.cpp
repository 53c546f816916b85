// What the tooltip draws, read back from its window: a black frame on the tooltip colour, each line
// of text in a band of its own, margins left empty. With IDROVAN_TOOLTIP_SHOT set to a file name
// the test also holds the tooltip up for a screenshot (scripts/tooltip-screenshot.sh): it writes
// the tooltip's screen rectangle to that file and waits until the file has been removed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/tooltip_window.h"
#include "framework/framework.h"
#include "tests/ui/ui_test_support.h"

namespace {

// Longer than one line: the tooltip cuts it after 61 characters, here just after a space.
const char kText[] =
    "A text too wide for the ID field shows here whole, cut after every 61 characters.";

constexpr int kMargin = 5;

class CSteadyTooltip : public CTooltipWindow {
public:
    CSteadyTooltip() { m_bFade = false; }
};

// Height of a line in the tooltip's font.
int LineHeight(HWND hWnd) {
    const LOGFONTA lf = ui_test::TooltipLogFont();
    CFont font;
    if (!font.CreateFontIndirect(&lf)) {
        return 0;
    }
    const HDC hDC = ::GetDC(hWnd);
    SIZE size{};
    {
        CSelectObject select(CDC::FromHandle(hDC), font);
        GetTextExtentPoint32A(hDC, kText, 61, &size);
    }
    ::ReleaseDC(hWnd, hDC);
    return size.cy;
}

// The client area as rows of pixels.
std::vector<std::vector<COLORREF>> ClientPixels(HWND hWnd) {
    CRect client;
    ::GetClientRect(hWnd, &client);
    std::vector<std::vector<COLORREF>> rows(client.Height(), std::vector<COLORREF>(client.Width()));
    const HDC hDC = ::GetDC(hWnd);
    for (int y = 0; y < client.Height(); ++y) {
        for (int x = 0; x < client.Width(); ++x) {
            rows[y][x] = ::GetPixel(hDC, x, y);
        }
    }
    ::ReleaseDC(hWnd, hDC);
    return rows;
}

// The rightmost column in rows [first, last) whose pixel differs from background; -1 for none.
int RightmostInk(const std::vector<std::vector<COLORREF>>& rows, int first, int last,
                 COLORREF background) {
    int nRight = -1;
    for (int y = first; y < last; ++y) {
        for (int x = 1; x + 1 < static_cast<int>(rows[y].size()); ++x) {
            if (rows[y][x] != background && x > nRight) {
                nRight = x;
            }
        }
    }
    return nRight;
}

void HoldForScreenshot(HWND hTooltip) {
    const char* pFile = std::getenv("IDROVAN_TOOLTIP_SHOT");
    if (pFile == nullptr || *pFile == '\0') {
        return;
    }
    CRect rc;
    ::GetWindowRect(hTooltip, &rc);
    // Written aside and renamed, so that the reader never sees half a line.
    const std::string partial = std::string(pFile) + ".partial";
    FILE* pOut = std::fopen(partial.c_str(), "w");
    ASSERT_NE(nullptr, pOut);
    std::fprintf(pOut, "%ld %ld %d %d\n", rc.left, rc.top, rc.Width(), rc.Height());
    std::fclose(pOut);
    ASSERT_TRUE(::MoveFileExA(partial.c_str(), pFile, MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(ui_test::PumpUntil(
        [pFile] { return ::GetFileAttributesA(pFile) == INVALID_FILE_ATTRIBUTES; }, 120000))
        << "nobody took the screenshot";
}

TEST(TooltipPicture, TwoLinesInBandsOfTheirOwnInsideABlackFrame) {
    // The owner stands behind the tooltip, so that a screenshot shows the frame against it.
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(
        0, AfxRegisterWndClass(0, nullptr, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)), "owner",
        WS_POPUP | WS_VISIBLE, CRect(40, 40, 640, 160), nullptr, 0));
    CSteadyTooltip tip;
    tip.m_pOwnerWnd = &owner;
    ASSERT_TRUE(tip.CreateTooltip());
    ASSERT_TRUE(tip.AddText(kText));
    ASSERT_EQ(2, tip.GetLineCount());
    ASSERT_TRUE(tip.ShowAt(POINT{60, 70}, false));
    ui_test::PumpPending();
    tip.UpdateWindow();

    const int nLine = LineHeight(tip.m_hWnd);
    ASSERT_GT(nLine, 0);
    const auto rows = ClientPixels(tip.m_hWnd);
    const int nHeight = static_cast<int>(rows.size());
    ASSERT_EQ(2 * nLine + 2 * kMargin, nHeight);
    const int nWidth = static_cast<int>(rows[0].size());

    const COLORREF crFrame = RGB(0, 0, 0);
    for (int x = 0; x < nWidth; ++x) {
        ASSERT_EQ(crFrame, rows[0][x]) << "top frame at " << x;
        ASSERT_EQ(crFrame, rows[nHeight - 1][x]) << "bottom frame at " << x;
    }
    for (int y = 0; y < nHeight; ++y) {
        ASSERT_EQ(crFrame, rows[y][0]) << "left frame at " << y;
        ASSERT_EQ(crFrame, rows[y][nWidth - 1]) << "right frame at " << y;
    }

    const COLORREF crBackground = ::GetSysColor(COLOR_INFOBK);
    EXPECT_EQ(crBackground, rows[1][1]);
    EXPECT_EQ(-1, RightmostInk(rows, 1, kMargin, crBackground)) << "top margin";
    EXPECT_EQ(-1, RightmostInk(rows, kMargin + 2 * nLine, nHeight - 1, crBackground))
        << "bottom margin";
    // The first line is the 61-character piece, the second the shorter rest.
    const int nFirstRight = RightmostInk(rows, kMargin, kMargin + nLine, crBackground);
    const int nSecondRight = RightmostInk(rows, kMargin + nLine, kMargin + 2 * nLine, crBackground);
    EXPECT_GT(nFirstRight, nWidth * 3 / 4);
    EXPECT_GT(nSecondRight, kMargin);
    EXPECT_LT(nSecondRight, nFirstRight * 3 / 4);

    HoldForScreenshot(tip.m_hWnd);
}

}  // namespace
