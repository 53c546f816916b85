#include "controls/tooltip_window.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "framework/dpi.h"
#include "identification/time_functions.h"

namespace {

constexpr int kMaxLineLength = 60;  // a text up to this long stays one line
constexpr int kPieceLength = 61;    // longer texts are cut into pieces of this length
// Sizes at 96 DPI, scaled to the owner's DPI at each layout.
constexpr int kMargin = 5;  // around the text, each side
constexpr int kEmptyLineHeight = 12;
constexpr int kFontHeight = 12;  // character height, without internal leading
constexpr int kFrameWidth = 1;
constexpr int kOpaque = 99;
constexpr int kFaint = 10;
constexpr UINT_PTR kFadeTimer = 1;
// About 20 steps in a 300 ms fade: smooth to the eye, and idle in between.
constexpr UINT kFadeStepMs = 15;

// One walk over the lines from the first, closed on every path. A walk that could not begin
// leaves the list's other iterations alone.
class CLineWalk {
public:
    explicit CLineWalk(CVeltraneList& lines) : m_lines(lines), m_nDepth(lines.GetIterationDepth()) {
        m_pFirst = static_cast<CVeltraneString*>(lines.BeginIteration());
    }
    ~CLineWalk() {
        if (m_lines.GetIterationDepth() > m_nDepth) {
            m_lines.EndIteration();
        }
    }
    CLineWalk(const CLineWalk&) = delete;
    CLineWalk& operator=(const CLineWalk&) = delete;

    CVeltraneString* First() const { return m_pFirst; }
    CVeltraneString* Next() { return static_cast<CVeltraneString*>(m_lines.IterateNext()); }

private:
    CVeltraneList& m_lines;
    int m_nDepth;
    CVeltraneString* m_pFirst = nullptr;
};

int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

BYTE AlphaOfPercent(int nPercent) {
    return static_cast<BYTE>(nPercent * 255 / 100);
}

}  // namespace

// clang-format off
BEGIN_MESSAGE_MAP(CTooltipWindow, CWnd)
    ON_WM_PAINT()
    ON_WM_TIMER()
    ON_MESSAGE(WM_MOUSEACTIVATE, &CTooltipWindow::OnMouseActivate)
END_MESSAGE_MAP()
// clang-format on

CTooltipWindow::CTooltipWindow()
    : m_crText(GetSysColor(COLOR_INFOTEXT)),
      m_crBackground(GetSysColor(COLOR_INFOBK)),
      m_pfnCurrentTime(static_cast<std::uint64_t (*)()>(&GetCurrentFileTime)) {
    m_lines.SetStringValues();
}

CTooltipWindow::~CTooltipWindow() {
    ClearLines();
    if (m_hWnd != nullptr) {
        // Destroying the window ends its timer.
        m_bFading = false;
        DestroyWindow();
    }
}

bool CTooltipWindow::CreateTooltip() {
    if (m_pOwnerWnd == nullptr) {
        return false;
    }
    const LPCSTR lpszClass = AfxRegisterWndClass(CS_HREDRAW | CS_VREDRAW, nullptr,
                                                 reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    if (lpszClass == nullptr) {
        return false;
    }
    // A tool window: no taskbar button, no place in Alt+Tab. Never activated, so the keyboard
    // stays where the user had it while the tooltip shows.
    if (!CreateEx(WS_EX_LAYERED | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, lpszClass, "",
                  WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, CRect(0, 0, 0, 0), m_pOwnerWnd, 0,
                  nullptr)) {
        return false;
    }
    SetOpacity(kOpaque);
    m_bVisible = false;
    return true;
}

int CTooltipWindow::CalcWindowWidth(int nWidestLine) {
    return nWidestLine + 2 * Scaled(kMargin);
}

int CTooltipWindow::Scaled(int nPixelsAt96) const {
    return AfxScaleForDpi(nPixelsAt96, m_nDpi);
}

void CTooltipWindow::ClearLines() {
    m_lines.DeleteAll();
}

bool CTooltipWindow::AddText(CVeltraneString text) {
    const int nLength = text.GetLength();
    if (nLength <= kMaxLineLength) {
        return m_lines.AddTailCopy(&text);
    }
    bool bAdded = false;
    for (int nFirst = 0; nFirst < nLength; nFirst += kPieceLength) {
        const int nLast = std::min(nFirst + kPieceLength - 1, nLength - 1);
        CVeltraneString piece = text.Substring(nFirst, nLast);
        if (m_lines.AddTailCopy(&piece)) {
            bAdded = true;
        }
    }
    return bAdded;
}

bool CTooltipWindow::HasNonAsciiLine() {
    CLineWalk walk(m_lines);
    for (CVeltraneString* pLine = walk.First(); pLine != nullptr; pLine = walk.Next()) {
        if (pLine->IsWide() && pLine->HasNonAscii()) {
            return true;
        }
    }
    return false;
}

bool CTooltipWindow::SelectTooltipFont() {
    DeselectTooltipFont();
    if (m_pWorkDC == nullptr) {
        return false;
    }
    LOGFONTA lf{};
    lf.lfHeight = -Scaled(kFontHeight);
    lf.lfWeight = 500;
    lf.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(lf.lfFaceName, HasNonAsciiLine() ? "MS Mincho" : "Arial");
    m_hFont = CreateFontIndirectA(&lf);
    if (m_hFont == nullptr) {
        return false;
    }
    m_hOldFont = m_pWorkDC->SelectObject(m_hFont);
    if (m_hOldFont == nullptr) {
        DeleteObject(m_hFont);
        m_hFont = nullptr;
        return false;
    }
    m_pWorkDC->SetTextColor(m_crText);
    return true;
}

void CTooltipWindow::DeselectTooltipFont() {
    if (m_pWorkDC == nullptr || m_hFont == nullptr || m_hOldFont == nullptr) {
        return;
    }
    m_pWorkDC->SelectObject(m_hOldFont);
    DeleteObject(m_hFont);
    m_hFont = nullptr;
    m_hOldFont = nullptr;
}

bool CTooltipWindow::SelectPenAndBrush() {
    DeselectPenAndBrush();
    if (m_pWorkDC == nullptr) {
        return false;
    }
    // Pen and brush each stand alone: one that cannot be made or selected leaves the other
    // usable, and is not kept.
    // The frame in the text colour: black on the usual pale yellow, and in a high-contrast
    // scheme the scheme's own tooltip text colour, which stands out from its background.
    m_hPen = CreatePen(PS_INSIDEFRAME, std::max(Scaled(kFrameWidth), 1), m_crText);
    if (m_hPen != nullptr) {
        m_hOldPen = m_pWorkDC->SelectObject(m_hPen);
        if (m_hOldPen == nullptr) {
            DeleteObject(m_hPen);
            m_hPen = nullptr;
        }
    }
    m_hBrush = CreateSolidBrush(m_crBackground);
    if (m_hBrush != nullptr) {
        m_hOldBrush = m_pWorkDC->SelectObject(m_hBrush);
        if (m_hOldBrush == nullptr) {
            DeleteObject(m_hBrush);
            m_hBrush = nullptr;
        }
    }
    return m_hPen != nullptr && m_hBrush != nullptr;
}

void CTooltipWindow::DeselectPenAndBrush() {
    if (m_pWorkDC == nullptr) {
        return;
    }
    if (m_hPen != nullptr && m_hOldPen != nullptr) {
        m_pWorkDC->SelectObject(m_hOldPen);
        DeleteObject(m_hPen);
        m_hPen = nullptr;
        m_hOldPen = nullptr;
    }
    if (m_hBrush != nullptr && m_hOldBrush != nullptr) {
        m_pWorkDC->SelectObject(m_hOldBrush);
        DeleteObject(m_hBrush);
        m_hBrush = nullptr;
        m_hOldBrush = nullptr;
    }
}

bool CTooltipWindow::MeasureLine(CDC* pDC, CVeltraneString* pLine, SIZE* pSize) {
    if (pDC == nullptr || pLine == nullptr || pSize == nullptr || pLine->GetLength() <= 0) {
        return false;
    }
    if (pLine->IsWide()) {
        return GetTextExtentPoint32W(pDC->m_hDC, pLine->GetWideText(), pLine->GetLength(), pSize) !=
               FALSE;
    }
    return GetTextExtentPoint32A(pDC->m_hDC, pLine->GetText(), pLine->GetLength(), pSize) != FALSE;
}

void CTooltipWindow::MeasureLines(int* pWidestLine, long long* pHeight) {
    CLineWalk walk(m_lines);
    for (CVeltraneString* pLine = walk.First(); pLine != nullptr; pLine = walk.Next()) {
        if (pLine->GetLength() > 0) {
            SIZE size{0, 0};
            if (MeasureLine(m_pWorkDC, pLine, &size)) {
                *pWidestLine = std::max(*pWidestLine, static_cast<int>(size.cx));
                *pHeight += size.cy;
            }
        } else {
            *pHeight += Scaled(kEmptyLineHeight);
        }
    }
}

void CTooltipWindow::DrawLines() {
    const HDC hDC = m_pWorkDC->m_hDC;
    const int nMargin = Scaled(kMargin);
    long long y = nMargin;
    CLineWalk walk(m_lines);
    for (CVeltraneString* pLine = walk.First(); pLine != nullptr; pLine = walk.Next()) {
        const int nLength = pLine->GetLength();
        if (nLength == 0) {
            y += Scaled(kEmptyLineHeight);
            continue;
        }
        if (pLine->IsWide()) {
            TextOutW(hDC, nMargin, ClampToInt(y), pLine->GetWideText(), nLength);
        } else {
            TextOutA(hDC, nMargin, ClampToInt(y), pLine->GetText(), nLength);
        }
        SIZE size{0, 0};
        MeasureLine(m_pWorkDC, pLine, &size);
        y += size.cy;
    }
}

bool CTooltipWindow::ShowAt(POINT anchor, bool bAbove) {
    // At the anchor of the last layout a shown window only repaints, in its old size. A hidden
    // one is laid out and shown again: its user hides it before each request, and a request at
    // the same place must still bring it up.
    if (m_bHasAnchor && anchor.x == m_anchor.x && anchor.y == m_anchor.y && m_bVisible &&
        m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        InvalidateRect(nullptr, TRUE);
        UpdateWindow();
        return true;
    }
    // Without a window GetDC would hand out the screen's device context and the layout would
    // report a tooltip that nobody sees.
    if (m_hWnd == nullptr) {
        return false;
    }
    const HDC hDC = ::GetDC(m_hWnd);
    if (hDC == nullptr) {
        return false;
    }
    m_anchor = anchor;
    m_bHasAnchor = true;
    // The owner's DPI and the system's colours as they are now: either may have changed since
    // the last layout.
    m_nDpi = AfxGetWindowDpi(m_pOwnerWnd != nullptr ? m_pOwnerWnd->GetSafeHwnd() : nullptr);
    m_crText = GetSysColor(COLOR_INFOTEXT);
    m_crBackground = GetSysColor(COLOR_INFOBK);
    m_pWorkDC = CDC::FromHandle(hDC);
    SelectTooltipFont();
    int nWidth = 0;
    long long nHeight = 0;
    MeasureLines(&nWidth, &nHeight);
    DeselectTooltipFont();
    m_pWorkDC = nullptr;
    ::ReleaseDC(m_hWnd, hDC);

    const long long nWindowWidth = CalcWindowWidth(nWidth);
    const long long nWindowHeight = nHeight + 2 * Scaled(kMargin);
    CRect rect;
    rect.left = anchor.x;
    rect.right = ClampToInt(anchor.x + nWindowWidth);
    if (bAbove) {
        rect.top = ClampToInt(anchor.y - nWindowHeight);
        rect.bottom = anchor.y;
    } else {
        rect.top = anchor.y;
        rect.bottom = ClampToInt(anchor.y + nWindowHeight);
    }
    KeepInWorkArea(anchor, &rect);
    // Above its owner, without taking activation (BringWindowToTop would activate it).
    ::SetWindowPos(m_hWnd, HWND_TOP, rect.left, rect.top, rect.Width(), rect.Height(),
                   SWP_NOACTIVATE);
    Show(true);
    return true;
}

void CTooltipWindow::KeepInWorkArea(POINT anchor, RECT* pRect) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoA(::MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT& work = monitor.rcWork;
    const long nWidth = pRect->right - pRect->left;
    const long nHeight = pRect->bottom - pRect->top;
    // The right and bottom edges first: a window larger than the work area keeps its start.
    const long nLeft = std::max(std::min(pRect->left, work.right - nWidth), work.left);
    const long nTop = std::max(std::min(pRect->top, work.bottom - nHeight), work.top);
    ::SetRect(pRect, nLeft, nTop, nLeft + nWidth, nTop + nHeight);
}

bool CTooltipWindow::Show(bool bShow) {
    if (m_hWnd == nullptr || !::IsWindow(m_hWnd)) {
        return false;
    }
    if (bShow) {
        const bool bWasHidden = !m_bVisible;
        if (m_bFade && bWasHidden) {
            // Faint before it appears, so that it never flashes up at full opacity.
            SetOpacity(kFaint);
        }
        // SW_SHOW would activate the window and take the keyboard from its owner.
        const bool bResult = ShowWindow(SW_SHOWNOACTIVATE) != FALSE;
        m_bVisible = true;
        if (m_bFade && bWasHidden) {
            Fade(true);
        } else if (m_bFading && !m_bFadeIn) {
            // Shown again while fading out: back to full opacity.
            StopFade();
            SetOpacity(kOpaque);
        }
        return bResult;
    }
    const bool bWasVisible = m_bVisible;
    m_bVisible = false;
    if (m_bFade && bWasVisible && ::IsWindowVisible(m_hWnd)) {
        // Hidden by the last step of the fade.
        Fade(false);
        return true;
    }
    StopFade();
    return ShowWindow(SW_HIDE) != FALSE;
}

void CTooltipWindow::SetOpacity(int nPercent) {
    if (nPercent < kFaint || nPercent > kOpaque || m_hWnd == nullptr || !::IsWindow(m_hWnd)) {
        return;
    }
    SetLayeredWindowAttributes(m_hWnd, 0, AlphaOfPercent(nPercent), LWA_ALPHA);
}

bool CTooltipWindow::Fade(bool bFadeIn) {
    if (m_hWnd == nullptr || !::IsWindow(m_hWnd)) {
        return false;
    }
    m_bFadeIn = bFadeIn;
    m_fadeStart = m_pfnCurrentTime();
    m_bFading = true;
    SetOpacity(bFadeIn ? kFaint : kOpaque);
    SetTimer(kFadeTimer, kFadeStepMs);
    return true;
}

bool CTooltipWindow::FadeStep() {
    if (!m_bFading) {
        return false;
    }
    const std::uint64_t now = m_pfnCurrentTime();
    std::int64_t nElapsed = GetElapsedMilliseconds(m_fadeStart, now);
    if (nElapsed < 0) {
        // The clock was set back: the fade counts from here, and still ends one fade length
        // later instead of waiting for the clock to catch up.
        m_fadeStart = now;
        nElapsed = 0;
    }
    if (nElapsed >= m_nFadeMs) {
        StopFade();
        if (m_bFadeIn) {
            SetOpacity(kOpaque);
        } else {
            SetOpacity(kFaint);
            // Shown again meanwhile (Show(true) without a fade in) keeps the window.
            if (!m_bVisible) {
                ShowWindow(SW_HIDE);
            }
        }
        return true;
    }
    const int nStep = static_cast<int>(89 * nElapsed / m_nFadeMs);
    SetOpacity(m_bFadeIn ? kFaint + nStep : kOpaque - nStep);
    return true;
}

void CTooltipWindow::StopFade() {
    if (m_bFading && m_hWnd != nullptr) {
        KillTimer(kFadeTimer);
    }
    m_bFading = false;
}

void CTooltipWindow::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kFadeTimer) {
        FadeStep();
    }
}

LRESULT CTooltipWindow::OnMouseActivate(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return MA_NOACTIVATE;
}

void CTooltipWindow::OnPaint() {
    // A window fading out is no longer marked visible but is still on the screen.
    if (m_lines.GetCount() <= 0 || m_pOwnerWnd == nullptr || (!m_bVisible && !m_bFading)) {
        // Nothing to draw; validate all the same, or the window would be asked to paint again
        // and again.
        ValidateRect(nullptr);
        return;
    }
    const HDC hDC = ::GetDC(m_hWnd);
    if (hDC != nullptr) {
        CRect rcClient;
        GetClientRect(&rcClient);
        m_pWorkDC = CDC::FromHandle(hDC);
        SelectTooltipFont();
        SelectPenAndBrush();
        m_pWorkDC->Rectangle(&rcClient);
        m_pWorkDC->SetBkMode(TRANSPARENT);
        DrawLines();
        DeselectTooltipFont();
        DeselectPenAndBrush();
        m_pWorkDC = nullptr;
        ::ReleaseDC(m_hWnd, hDC);
    }
    ValidateRect(nullptr);
}
