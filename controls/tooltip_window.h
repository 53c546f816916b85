// CTooltipWindow: a small layered popup that shows a few lines of text next to another window,
// with a 1-pixel black border on the system's tooltip background. It fades in when shown and
// out before it is hidden by stepping the layered window's opacity between 10 and 99 percent;
// each fade blocks the calling thread for m_nFadeMs (300 ms) and repaints at every step. It
// handles no input and does not follow the pointer.
//
// Use: set m_pOwnerWnd, call CreateTooltip once, give it lines (ClearLines, AddText), then
// ShowAt an anchor in screen coordinates, and Show(false) to hide it. A new anchor, or any anchor
// while the window is hidden, lays the window out again from the lines; the anchor of the last
// layout only repaints a shown window, in the old size.
//
// Threads: everything runs on the thread that owns the window (the user-interface thread).
// Ownership: the tooltip owns its window, its lines (copies of the texts it is given) and the
// font, pen and brush it creates, each of which exists only while selected into the window's
// device context during one layout or paint. The owner window is borrowed.
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
    // The window width for a widest line of nWidestLine pixels: 5 pixels of margin each side.
    virtual int CalcWindowWidth(int nWidestLine);

    void ClearLines();
    // Appends text as lines: up to 60 characters as one line, longer texts cut from the front
    // into pieces of 61 characters, the last piece holding the rest. True when a line was added.
    bool AddText(CVeltraneString text);
    // Lays the window out at anchor (its top left corner; its bottom left corner when bAbove)
    // and shows it. At the anchor of the last layout it only repaints a shown window. False
    // without a window or device context; nothing changes then.
    bool ShowAt(POINT anchor, bool bAbove);
    // Shows the window (fading in when it was hidden) or fades it out and hides it. False when
    // there is no window; otherwise whether ShowWindow reported the window visible before.
    bool Show(bool bShow);
    // Opacity in percent; values outside 10..99 are ignored.
    void SetOpacity(int nPercent);
    // One blocking fade of m_nFadeMs from 10 to 99 percent (or back). False, doing nothing,
    // while the window is not marked visible.
    bool Fade(bool bFadeIn);

    int GetLineCount() const { return m_lines.GetCount(); }

    CWnd* m_pOwnerWnd = nullptr;  // set by the user before CreateTooltip; not owned
    bool m_bVisible = false;      // set after showing, cleared after hiding

protected:
    void OnPaint();

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
    bool m_bFade = true;
    int m_nFadeMs = 300;
    // The clock of the fades (GetCurrentFileTime); a test may give the tooltip another.
    std::uint64_t (*m_pfnCurrentTime)() = nullptr;

    DECLARE_MESSAGE_MAP()
};
