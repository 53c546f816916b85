// CStaticField: the read-only one-line field that shows the computer ID. It subclasses an EDIT
// control (bind it with DDX_Control or SubclassWindow) and keeps the full text apart from what the
// control shows: before each paint it puts in a display text that fits the field (line breaks
// and space runs made single spaces, the first m_nScroll characters hidden, a cut end replaced by
// "..."). It measures with the font the control draws with (the one its dialog gives it), and
// keeps a margin of 10 pixels at 96 DPI, scaled to the field's DPI. It colours its background (a
// highlight while focused); in a high-contrast scheme it takes the system's colours instead:
// window and window text, highlight and highlight text while focused, repainting when the
// system's colours or settings change. It lets Home, End, Left and Right scroll a cut text,
// copies the text to the clipboard on a double-click, swallows the right button, keeps the caret
// hidden, and shows a cut text whole in a tooltip below the field once the pointer has rested
// over the focused field for about two seconds. The tooltip never takes the focus.
//
// The field's window gets WM_SYSCOLORCHANGE and WM_SETTINGCHANGE only when its top-level window
// passes them on, as Windows expects of a window that has controls; its dialog does so, and
// calls DpiChanged when it gets WM_DPICHANGED (the field also answers WM_DPICHANGED_AFTERPARENT,
// which Windows sends to the children of a per-monitor aware window).
//
// Threads. Everything runs on the thread that owns the window, except the hover timer's ticks:
// they run on the timer's own thread, read only IsHoverTooltipOn and call PostHoverRequest, which
// posts WM_FIELD_HOVER back to the window. The destructor stops that thread first.
//
// Ownership. The field owns its hover timer, its tooltip window and the two background brushes
// (the high-contrast brushes are the system's, never deleted). The window belongs to whoever
// made it (the dialog); a field destroyed before its window lets go of it before any of its parts
// go. The measuring device context lives only within one message handler; the font selected
// into it is the control's own, borrowed.
#pragma once

#include <windows.h>

#include <atomic>

#include "controls/static_field_mouse_timer.h"
#include "controls/tooltip_window.h"
#include "framework/edit.h"
#include "framework/gdi_object.h"
#include "support/veltrane_string.h"

// Posted by the hover timer to the field: wParam 0, lParam the pointer's screen position (x in the
// low 16 bits, y in the high 16 bits, each a signed 16-bit value).
constexpr UINT WM_FIELD_HOVER = WM_USER + 129;

// Sent to the parent as WM_COMMAND notifications (the field's id and these codes, which no EDIT
// control sends) when a double-click could not copy: another program held the clipboard open
// throughout, or any other step failed. The clipboard keeps what it had, so the parent says so.
constexpr WORD FN_COPY_BUSY = 0x0F01;
constexpr WORD FN_COPY_FAILED = 0x0F02;

class CStaticField : public CEdit {
public:
    CStaticField();
    ~CStaticField() override;

    // Keeps pText as the full text, hands it to the tooltip, makes the control read-only and
    // repaints. A null text changes nothing.
    virtual void SetFieldText(const char* pText);
    // The reflected WM_CTLCOLOR*: the background colour and brush, the text colour, and the
    // capture of the control's font for measuring. Null without a device context or brushes.
    virtual HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);

    // Read by the hover timer's thread; fixed at construction.
    bool IsHoverTooltipOn() const { return m_bHoverTooltip; }
    // Any thread: posts WM_FIELD_HOVER for a rest at screenPoint, when the window still exists.
    void PostHoverRequest(POINT screenPoint) const;

    // The field's window moved to a monitor of another DPI: the tooltip is hidden and laid out
    // anew at its next showing, and the text is cut again with the control's new font.
    void DpiChanged();

    // Puts s on the clipboard, as CF_TEXT (or CF_UNICODETEXT when s is wide). False when s is
    // empty or any step fails, with *pBusy (when given) true where another program held the
    // clipboard open throughout; the memory is handed over only when the clipboard took it.
    static bool CopyTextToClipboard(HWND hWnd, CVeltraneString s, bool* pBusy = nullptr);

protected:
    void OnPaint();
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnSetFocus(CWnd* pOldWnd);
    void OnKillFocus(CWnd* pNewWnd);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnRButtonUp(UINT nFlags, CPoint point);
    LRESULT OnHoverRequest(WPARAM wParam, LPARAM lParam);
    LRESULT OnSysColorChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnSettingChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDpiChangedAfterParent(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetFont(WPARAM wParam, LPARAM lParam);

    // Whether a high-contrast scheme is on (SPI_GETHIGHCONTRAST); read at every colouring, so
    // that switching it on or off takes effect at the next paint.
    virtual bool IsHighContrast() const;
    // Makes the background brushes from the current system colours.
    void MakeBrushes();

    // The full text on one line: CR and LF become spaces, space runs one space.
    CVeltraneString GetDisplayText() const;
    // The display text scrolled by m_nScroll and cut with "..." to fit; sets m_bTruncated.
    CVeltraneString BuildDisplayText();
    // Leading characters to hide so that the rest of the display text fits; 0 when it fits.
    int GetMaxScroll() const;
    bool FitsInField(CVeltraneString s) const;
    // Whether the unscrolled display text is too wide for the field.
    bool IsOverflowing();

    bool AcquireDC();
    bool SelectFieldFont();
    void DeselectFieldFont();
    void ReleaseWorkDC();
    bool CaptureFont(CDC* pDC);

    bool ShowTooltip(POINT screenPoint);
    void EnsureTooltip();
    void HoverReset();
    void ActivateHoverTimer();
    bool HasFocus() const;
    // Whether the control already holds exactly pText.
    bool ShowsText(const char* pText) const;
    void InvalidateField();

    CVeltraneString m_text;
    CDC* m_pWorkDC = nullptr;  // borrowed, only within one handler
    COLORREF m_crBackground;
    COLORREF m_crFocusBackground;
    COLORREF m_crText;
    bool m_bKeyboardScroll = true;
    bool m_bFocusHighlight = true;
    bool m_bTrueTypeOnly = true;
    int m_nScroll = 0;
    HFONT m_hFont = nullptr;  // the control's font while selected into m_pWorkDC; borrowed
    HGDIOBJ m_hOldFont = nullptr;
    CBrush m_brBackground;
    CBrush m_brFocusBackground;
    CVeltraneString m_faceName;
    bool m_bFontCaptured = false;
    const bool m_bHoverTooltip = true;  // initialised before the timer thread starts
    CTooltipWindow m_tooltip;
    CStaticFieldMouseTimer m_mouseTimer;
    bool m_bTruncated = false;
    CPoint m_hoverPoint;
    // The window that hover requests go to, for the timer thread (m_hWnd belongs to this one).
    std::atomic<HWND> m_hHoverTarget{nullptr};

    DECLARE_MESSAGE_MAP()
};
