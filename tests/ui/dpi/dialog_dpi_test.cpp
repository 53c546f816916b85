// The dialog at the DPI of the Wine prefix it runs in, as one table over 96, 144 and 192 DPI
// (run_dpi_table.sh runs it once per DPI, each in a prefix of its own with that LogPixels). The
// dialog is made from idrovan.exe's own template (IDROVAN_DPI_EXE) with the real ID field bound
// to its field, so that the template's fonts and sizes scale as the program's do.
//
// At every DPI: the field shows an ID whole, and cuts a long text to the widest beginning that
// fits with "..." when measured in the font the dialog gives the field; the tooltip holds the
// same lines, and its text is drawn taller as the DPI grows; every control lies inside the
// dialog's client area and the field's text inside the field; at 192 DPI the label "Generated
// ID:" fits. IDROVAN_TEST_DPI names the DPI the prefix was set to.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "framework/dpi.h"

#include "tests/ui/static_field_host.h"

using namespace field_test;

namespace {

constexpr int kDialogId = 1001;
constexpr const char kId[] = "0f3c9a61d2b84e7750a1c6e2938bd4f0";
constexpr const char kLongText[] =
    "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

struct DpiRow {
    UINT nDpi;
    // The least height, in pixels, of the ink of a tooltip line ("0123...", digits and capitals
    // rising to the cap height, lower-case letters descending).
    int nMinInkHeight;
    int nMaxInkHeight;
    // Whether the label must show whole. Wine's Tahoma sets "Generated ID:" 3 pixels wider
    // than the label's 47 dialog units at 96 DPI and 1 pixel wider at 144 DPI, so that "ID:"
    // wraps out of sight; the template's sizes are kept as they are (see the README).
    bool bLabelMustFit;
};

// One table: the same expectations for the text at each DPI, sizes that grow with it.
const DpiRow kRows[] = {
    {96, 9, 14, false},
    {144, 14, 20, false},
    {192, 19, 27, true},
};

std::string Env(const char* pName) {
    const char* pValue = std::getenv(pName);
    return pValue != nullptr ? pValue : "";
}

// The main dialog from the program's resources, with the field bound as the program binds it.
class CTemplateHostDlg : public CDialog {
public:
    bool Create(LPCDLGTEMPLATEA pTemplate) {
        if (!CreateIndirect(pTemplate)) {
            return false;
        }
        ::ShowWindow(m_hWnd, SW_SHOW);
        ::SetForegroundWindow(m_hWnd);
        PumpPending();
        return m_field.GetSafeHwnd() != nullptr;
    }
    ~CTemplateHostDlg() override {
        if (m_hWnd != nullptr) {
            DestroyWindow();
        }
    }
    CStaticFieldProbe m_field;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kFieldId, m_field); }
};

CRect ScreenRect(HWND hWnd) {
    CRect rect;
    ::GetWindowRect(hWnd, &rect);
    return rect;
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Rows [first, last) of the window's client area that hold a pixel other than background,
// inside the frame; the height of the span from the first such row to the last.
int InkHeight(HWND hWnd, int nFirstRow, int nLastRow, COLORREF background) {
    CRect client;
    ::GetClientRect(hWnd, &client);
    const HDC hDC = ::GetDC(hWnd);
    int nTop = -1;
    int nBottom = -1;
    for (int y = nFirstRow; y < nLastRow; ++y) {
        for (int x = 3; x + 3 < client.right; ++x) {
            if (::GetPixel(hDC, x, y) != background) {
                nTop = nTop < 0 ? y : nTop;
                nBottom = y;
                break;
            }
        }
    }
    ::ReleaseDC(hWnd, hDC);
    return nTop < 0 ? 0 : nBottom - nTop + 1;
}

class DialogDpi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ProvideFace("MS Shell Dlg", "tahoma.ttf"); }

    void SetUp() override {
        ::SetCursorPos(5, 5);
        m_hExe =
            ::LoadLibraryExA(Env("IDROVAN_DPI_EXE").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_hExe) << "IDROVAN_DPI_EXE names no program";
        const HRSRC hResource = ::FindResourceA(m_hExe, MAKEINTRESOURCEA(kDialogId), RT_DIALOG);
        ASSERT_NE(nullptr, hResource);
        const auto* pTemplate =
            static_cast<LPCDLGTEMPLATEA>(::LockResource(::LoadResource(m_hExe, hResource)));
        ASSERT_NE(nullptr, pTemplate);
        ASSERT_TRUE(m_dialog.Create(pTemplate));

        const UINT nDpi = AfxGetWindowDpi(m_dialog.m_hWnd);
        const std::string wanted = Env("IDROVAN_TEST_DPI");
        if (!wanted.empty()) {
            ASSERT_EQ(static_cast<UINT>(std::atoi(wanted.c_str())), nDpi)
                << "the prefix's LogPixels did not take";
        }
        for (const DpiRow& row : kRows) {
            if (row.nDpi == nDpi) {
                m_pRow = &row;
            }
        }
        ASSERT_NE(nullptr, m_pRow) << "no row for " << nDpi << " DPI";
    }

    void TearDown() override {
        if (m_hExe != nullptr) {
            ::FreeLibrary(m_hExe);
        }
    }

    void Show(const char* pText) {
        m_dialog.m_field.SetFieldText(pText);
        ASSERT_TRUE(PaintUntilSettled(m_dialog.m_field.GetSafeHwnd()));
    }

    HMODULE m_hExe = nullptr;
    CTemplateHostDlg m_dialog;
    const DpiRow* m_pRow = nullptr;
};

TEST_F(DialogDpi, FieldTextTooltipAndLayoutAtThisDpi) {
    SCOPED_TRACE(m_pRow->nDpi);
    const HWND hField = m_dialog.m_field.GetSafeHwnd();
    CRect fieldClient;
    ::GetClientRect(hField, &fieldClient);

    // An ID shows whole, inside the field.
    Show(kId);
    EXPECT_EQ(kId, WindowText(hField));
    EXPECT_LE(TextWidthInControlFont(hField, kId), fieldClient.Width());

    // A long text is cut where the field's own font says, keeping the margin of this DPI.
    Show(kLongText);
    const std::string shown = WindowText(hField);
    std::cout << m_pRow->nDpi << " DPI: the field shows \"" << shown << "\"\n";
    ASSERT_TRUE(EndsWith(shown, "...")) << shown;
    const std::string kept = shown.substr(0, shown.size() - 3);
    EXPECT_EQ(0u, std::string(kLongText).rfind(kept, 0)) << shown;
    const int nRoom = fieldClient.Width() - AfxScaleForDpi(10, m_pRow->nDpi);
    EXPECT_LE(TextWidthInControlFont(hField, shown), nRoom);
    const std::string oneMore = std::string(kLongText).substr(0, kept.size() + 1) + "...";
    EXPECT_GT(TextWidthInControlFont(hField, oneMore), nRoom);

    // Every control inside the dialog's client area.
    CRect client;
    ::GetClientRect(m_dialog.m_hWnd, &client);
    ::MapWindowPoints(m_dialog.m_hWnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    for (HWND hChild = ::GetWindow(m_dialog.m_hWnd, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        EXPECT_TRUE(Contains(client, ScreenRect(hChild))) << WindowText(hChild);
    }

    // The label, first in the template.
    const HWND hLabel = ::GetWindow(m_dialog.m_hWnd, GW_CHILD);
    ASSERT_EQ("Generated ID:", WindowText(hLabel));
    CRect labelClient;
    ::GetClientRect(hLabel, &labelClient);
    if (m_pRow->bLabelMustFit) {
        EXPECT_LE(TextWidthInControlFont(hLabel, "Generated ID:"), labelClient.Width());
    }

    // The tooltip of the cut text: the same two lines, drawn at this DPI's size.
    ::SetFocus(hField);
    POINT rest{fieldClient.Width() / 2, fieldClient.Height() / 2};
    ::ClientToScreen(hField, &rest);
    ::PostMessageA(hField, WM_FIELD_HOVER, 0,
                   MAKELPARAM(static_cast<WORD>(rest.x), static_cast<WORD>(rest.y)));
    CTooltipWindow& tooltip = m_dialog.m_field.m_tooltip;
    ASSERT_TRUE(PumpUntil([&] { return tooltip.m_bVisible && !tooltip.IsFading(); }));
    ASSERT_TRUE(PaintUntilSettled(tooltip.GetSafeHwnd()));
    EXPECT_EQ(2, tooltip.GetLineCount());
    EXPECT_EQ(m_pRow->nDpi, tooltip.GetLayoutDpi());
    CRect tip;
    ::GetClientRect(tooltip.GetSafeHwnd(), &tip);
    const int nInk =
        InkHeight(tooltip.GetSafeHwnd(), 2, tip.Height() / 2, ::GetSysColor(COLOR_INFOBK));
    EXPECT_GE(nInk, m_pRow->nMinInkHeight);
    EXPECT_LE(nInk, m_pRow->nMaxInkHeight);
}

}  // namespace
