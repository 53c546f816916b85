// CTooltipWindow: a small layered popup that shows a few lines of text next to another window,
// with a thin frame in the tooltip text colour on the system's tooltip background. It fades in
// when shown and out before it is hidden by stepping the layered window's opacity between 10 and
// 99 percent over m_nFadeMs (300 ms), driven by a window timer: a fade never blocks the thread.
// It never takes activation or the focus (WS_EX_NOACTIVATE, shown with SW_SHOWNOACTIVATE, a
// click answered with MA_NOACTIVATE), so the keyboard stays with the window it belongs to. It
// handles no input and does not follow the pointer.
//
// Sizes follow the DPI of the owner window (AfxGetWindowDpi), read at every layout: the font,
// the margins and the frame are given for 96 DPI and scaled. The window is kept inside the work
// area of the monitor that holds the anchor. Colours are the system's, read at every layout.
//
// Use: set m_pOwnerWnd, call CreateTooltip once, give it lines (ClearLines, AddText), then
// ShowAt an anchor in screen coordinates, and Show(false) to hide it. A new anchor, or any anchor
// while the window is hidden, lays the window out again from the lines; the anchor of the last
// layout only repaints a shown window, in the old size. ForgetLayout (after a change of DPI)
// makes the next ShowAt lay out again.
//
// Threads: everything runs on the thread that owns the window (the user-interface thread).
// Ownership: the tooltip owns its window, its fade timer, its lines (copies of the texts it is
// given) and the font, pen and brush it creates, each of which exists only while selected into
// the window's device context during one layout or paint. The owner window is borrowed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/dc.h"
#include "framework/wnd.h"
#include "support/veltrane_list.h"
#include "support/veltrane_string.h"

class CTooltipWindow : public CWnd {
public:
    CTooltipWindow();
    ~CTooltipWindow() override;

    // Registers the window class and creates the hidden window, owned by m_pOwnerWnd. False
    // without an owner or when the window cannot be created.
    virtual bool CreateTooltip();
    // The window width for a widest line of nWidestLine pixels: a margin each side (5 pixels
    // at 96 DPI, scaled to the DPI of the last layout).
    virtual int CalcWindowWidth(int nWidestLine);

    void ClearLines();
    // Appends text as lines: up to 60 characters as one line, longer texts cut from the front
    // into pieces of 61 characters, the last piece holding the rest. True when a line was added.
    bool AddText(CVeltraneString text);
    // Lays the window out at anchor (its top left corner; its bottom left corner when bAbove),
    // moved as little as needed to lie inside the monitor's work area, and shows it. At the
    // anchor of the last layout it only repaints a shown window. False without a window or
    // device context; nothing changes then.
    bool ShowAt(POINT anchor, bool bAbove);
    // Shows the window without activating it (fading in when it was hidden), or hides it:
    // m_bVisible is false at once, and the window fades out and is hidden when the fade ends.
    // False when there is no window; otherwise whether ShowWindow reported the window visible
    // before.
    bool Show(bool bShow);
    // Opacity in percent; values outside 10..99 are ignored.
    void SetOpacity(int nPercent);
    // Starts a fade of m_nFadeMs from 10 to 99 percent (or back), run by the window's timer;
    // a fade out ends with the window hidden. False, doing nothing, without a window.
    bool Fade(bool bFadeIn);
    // One step of the running fade, as the timer makes it: the opacity for the time elapsed
    // since the fade began; at its end the last level, the timer stopped, and after a fade out
    // the window hidden. False when no fade runs.
    bool FadeStep();
    bool IsFading() const { return m_bFading; }
    // The next ShowAt lays the window out again, even at the same anchor.
    void ForgetLayout() { m_bHasAnchor = false; }

    int GetLineCount() const { return m_lines.GetCount(); }
    // The DPI of the last layout.
    UINT GetLayoutDpi() const { return m_nDpi; }

    CWnd* m_pOwnerWnd = nullptr;  // set by the user before CreateTooltip; not owned
    bool m_bVisible = false;      // set after showing, cleared after hiding

protected:
    void OnPaint();
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnMouseActivate(WPARAM wParam, LPARAM lParam);
    // Pixels at the DPI of the last layout for nPixelsAt96.
    int Scaled(int nPixelsAt96) const;
    // Moves rect, keeping its size, as little as needed to lie inside the work area of the
    // monitor nearest to anchor.
    static void KeepInWorkArea(POINT anchor, RECT* pRect);
    void StopFade();

    bool HasNonAsciiLine();
    bool SelectTooltipFont();
    void DeselectTooltipFont();
    bool SelectPenAndBrush();
    void DeselectPenAndBrush();
    static bool MeasureLine(CDC* pDC, CVeltraneString* pLine, SIZE* pSize);
    // With the font selected into m_pWorkDC: adds the lines' heights to *pHeight and widens
    // *pWidestLine to the widest line.
    void MeasureLines(int* pWidestLine, long long* pHeight);
    // With font, pen and brush selected into m_pWorkDC: each line at the left margin, one below
    // the other from the top margin.
    void DrawLines();

    CVeltraneList m_lines;
    POINT m_anchor{0, 0};
    bool m_bHasAnchor = false;  // false until the first layout
    CDC* m_pWorkDC = nullptr;   // the window's DC during a layout or paint; not owned
    HFONT m_hFont = nullptr;
    HGDIOBJ m_hOldFont = nullptr;
    COLORREF m_crText;
    COLORREF m_crBackground;
    HPEN m_hPen = nullptr;
    HGDIOBJ m_hOldPen = nullptr;
    HBRUSH m_hBrush = nullptr;
    HGDIOBJ m_hOldBrush = nullptr;
    UINT m_nDpi = 96;
    bool m_bFade = true;
    int m_nFadeMs = 300;
    bool m_bFading = false;
    bool m_bFadeIn = false;
    std::uint64_t m_fadeStart = 0;
    // The clock of the fades (GetCurrentFileTime); a test may give the tooltip another.
    std::uint64_t (*m_pfnCurrentTime)() = nullptr;

    DECLARE_MESSAGE_MAP()
};
