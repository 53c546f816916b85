#include "controls/static_field.h"

#include <string>

#include "framework/clipboard_writer.h"
#include "framework/dc.h"
#include "framework/dpi.h"
#include "framework/types.h"
#include "support/startup_trace.h"

namespace {

// Pixels kept free at the right of the text when deciding whether it fits, at 96 DPI.
constexpr int kFitMargin = 10;
constexpr const char kEllipsis[] = "...";
constexpr const char kInitialFace[] = "MS Shell Dlg";

// TEXTMETRIC pitch bits that describe the kind of font.
constexpr BYTE kPitchTrueType = 0x04;
constexpr BYTE kPitchVariable = 0x01;

// Repeats ReplaceAll until nothing more is replaced, so that runs collapse completely.
void ReplaceEverywhere(CVeltraneString& s, const char* pPattern, const char* pReplacement) {
    while (s.ReplaceAll(pPattern, pReplacement, false)) {
    }
}

// s without its last character.
CVeltraneString DropLast(const CVeltraneString& s) {
    const int nLength = s.GetLength();
    // Substring's last index -1 means "to the end", so a single character is emptied directly.
    return nLength > 1 ? s.Substring(0, nLength - 2) : CVeltraneString();
}

CVeltraneString WithEllipsis(const CVeltraneString& s) {
    CVeltraneString t(s);
    t += kEllipsis;
    return t;
}

}  // namespace

BEGIN_MESSAGE_MAP(CStaticField, CEdit)
ON_WM_PAINT()
ON_WM_KEYDOWN()
ON_WM_SETFOCUS()
ON_WM_KILLFOCUS()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDBLCLK()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_RBUTTONDOWN()
ON_WM_RBUTTONUP()
ON_WM_CTLCOLOR_REFLECT()
ON_MESSAGE(WM_FIELD_HOVER, &CStaticField::OnHoverRequest)
ON_MESSAGE(WM_SYSCOLORCHANGE, &CStaticField::OnSysColorChange)
ON_MESSAGE(WM_SETTINGCHANGE, &CStaticField::OnSettingChange)
ON_MESSAGE(kWmDpiChangedAfterParent, &CStaticField::OnDpiChangedAfterParent)
ON_MESSAGE(WM_SETFONT, &CStaticField::OnSetFont)
END_MESSAGE_MAP()

CStaticField::CStaticField()
    : m_crBackground(::GetSysColor(COLOR_BTNFACE)),
      m_crFocusBackground(RGB(220, 220, 230)),
      m_crText(RGB(0, 0, 0)),
      m_faceName(kInitialFace) {
    MakeBrushes();
    m_mouseTimer.SetOwner(this);
}

void CStaticField::MakeBrushes() {
    m_crBackground = ::GetSysColor(COLOR_BTNFACE);
    m_brBackground.DeleteObject();
    m_brFocusBackground.DeleteObject();
    m_brBackground.CreateSolidBrush(m_crBackground);
    m_brFocusBackground.CreateSolidBrush(m_crFocusBackground);
}

CStaticField::~CStaticField() {
    // A tick may be reading this field; no member may go before the timer thread has ended.
    m_mouseTimer.Shutdown();
    ReleaseWorkDC();
    // A control that outlives the field must stop reaching it now: destroying the shown tooltip
    // below hands the focus back to the control, and its handlers use the timer that goes first.
    UnsubclassWindow();
}

void CStaticField::SetFieldText(const char* pText) {
    if (pText == nullptr) {
        return;
    }
    m_text = pText;
    EnsureTooltip();
    m_tooltip.ClearLines();
    m_tooltip.AddText(m_text);
    if (m_hWnd == nullptr) {
        return;
    }
    InvalidateField();
    SendMessage(EM_SETREADONLY, TRUE, 0);
    // The control holds the raw text until the next paint puts in the display text.
    SetWindowText(pText);
}

HBRUSH CStaticField::CtlColor(CDC* pDC, UINT /*nCtlColor*/) {
    if (pDC == nullptr || m_brBackground.GetSafeHandle() == nullptr ||
        m_brFocusBackground.GetSafeHandle() == nullptr) {
        return nullptr;
    }
    const bool bHighlight = m_bFocusHighlight && HasFocus();
    COLORREF crBackground = m_crBackground;
    COLORREF crText = m_crText;
    HBRUSH hBrush = m_brBackground;
    if (IsHighContrast()) {
        // The field's own colours are made for the standard scheme; black text on a black
        // window would hide the ID. The scheme's pairs are chosen to be read together.
        const int nBackground = bHighlight ? COLOR_HIGHLIGHT : COLOR_WINDOW;
        crBackground = ::GetSysColor(nBackground);
        crText = ::GetSysColor(bHighlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
        hBrush = ::GetSysColorBrush(nBackground);
    } else if (bHighlight) {
        crBackground = m_crFocusBackground;
        hBrush = m_brFocusBackground;
    }
    pDC->SetBkColor(crBackground);
    pDC->SetTextColor(crText);

    // Some edit controls ask for their colours before they select their own font; measure the
    // control's font all the same, so that the cut matches what the control draws.
    HFONT hControlFont = GetFont();
    HGDIOBJ hPrevious = hControlFont != nullptr ? pDC->SelectObject(hControlFont) : nullptr;
    CaptureFont(pDC);
    if (hPrevious != nullptr) {
        pDC->SelectObject(hPrevious);
    }
    return hBrush;
}

void CStaticField::PostHoverRequest(POINT screenPoint) const {
    HWND hWnd = m_hHoverTarget.load();
    if (hWnd == nullptr || !::IsWindow(hWnd)) {
        return;
    }
    const LPARAM lParam = MAKELPARAM(static_cast<WORD>(screenPoint.x & 0xFFFF),
                                     static_cast<WORD>(screenPoint.y & 0xFFFF));
    ::PostMessageA(hWnd, WM_FIELD_HOVER, 0, lParam);
}

void CStaticField::DpiChanged() {
    if (m_tooltip.m_bVisible) {
        m_tooltip.Show(false);
    }
    m_tooltip.ForgetLayout();
    m_nScroll = 0;
    InvalidateField();
}

bool CStaticField::IsHighContrast() const {
    HIGHCONTRASTA highContrast{};
    highContrast.cbSize = sizeof(highContrast);
    return ::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof(highContrast), &highContrast, 0) &&
           (highContrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool CStaticField::CopyTextToClipboard(HWND hWnd, CVeltraneString s, bool* pBusy) {
    if (pBusy != nullptr) {
        *pBusy = false;
    }
    const int nLength = s.GetLength();
    if (nLength == 0) {
        return false;
    }
    CClipboardWriter writer;
    const bool bCopied = s.IsWide() ? writer.CopyWideText(hWnd, s.GetWideText(), nLength)
                                    : writer.CopyText(hWnd, s.GetText(), nLength);
    if (pBusy != nullptr) {
        *pBusy = !bCopied && writer.WasBusy();
    }
    return bCopied;
}

void CStaticField::OnPaint() {
    HideCaret();
    EnsureTooltip();
    if (AcquireDC()) {
        CVeltraneString display = BuildDisplayText();
        const char* pDisplay = display.GetText();
        // Setting the same text again would only reset the control's selection and scrolling.
        if (!ShowsText(pDisplay)) {
            SetWindowText(pDisplay);
        }
        ReleaseWorkDC();
    }
    const bool bHadFont = m_bFontCaptured;
    CEdit::OnPaint();
    // The control's font becomes known during its first painting; paint once more to cut the
    // text with it. Without a usable font another paint would change nothing.
    if (!bHadFont && m_bFontCaptured) {
        IDROVAN_TRACE("field_font_captured");
        InvalidateField();
    }
}

void CStaticField::OnKeyDown(UINT nChar, UINT /*nRepCnt*/, UINT /*nFlags*/) {
    HoverReset();
    if (m_bKeyboardScroll && IsOverflowing() && AcquireDC()) {
        const int nMax = GetMaxScroll();
        switch (nChar) {
            case VK_END:
                m_nScroll = nMax;
                InvalidateField();
                break;
            case VK_HOME:
                m_nScroll = 0;
                InvalidateField();
                break;
            case VK_LEFT:
                if (m_nScroll > 0) {
                    --m_nScroll;
                    InvalidateField();
                }
                break;
            case VK_RIGHT:
                if (m_nScroll < nMax) {
                    ++m_nScroll;
                    InvalidateField();
                }
                break;
            default:
                break;
        }
        ReleaseWorkDC();
    }
    Default();
}

void CStaticField::OnSetFocus(CWnd* pOldWnd) {
    CEdit::OnSetFocus(pOldWnd);
    InvalidateField();
    IDROVAN_TRACE("field_focused");
    if (m_bHoverTooltip) {
        m_mouseTimer.ResetTracking();
        ActivateHoverTimer();
    }
}

void CStaticField::OnKillFocus(CWnd* /*pNewWnd*/) {
    // The tooltip never takes the focus, so a loss of focus always means the user went
    // elsewhere.
    if (m_tooltip.m_bVisible) {
        m_tooltip.Show(false);
    }
    m_mouseTimer.ResetTracking();
    m_mouseTimer.Deactivate();
    m_hoverPoint = CPoint(0, 0);
    Default();
    InvalidateField();
}

void CStaticField::OnMouseMove(UINT /*nFlags*/, CPoint point) {
    // Windows repeat the last position when something appears under the pointer; only a real
    // move ends a shown tooltip.
    if (point != m_hoverPoint) {
        HoverReset();
    }
    Default();
    HideCaret();
}

void CStaticField::OnLButtonDblClk(UINT /*nFlags*/, CPoint /*point*/) {
    SetFocus();
    SendMessage(EM_SETSEL, 0, -1);
    SendMessage(EM_SCROLLCARET, 0, 0);
    CVeltraneString s = GetDisplayText();
    bool bBusy = false;
    const bool bFailed = s.GetLength() > 0 && !CopyTextToClipboard(m_hWnd, s, &bBusy);
    InvalidateField();
    // The parent says so: a copy that failed in silence leaves the old text to be pasted.
    HWND hParent = ::GetParent(m_hWnd);
    if (bFailed && hParent != nullptr) {
        const WORD nCode = bBusy ? FN_COPY_BUSY : FN_COPY_FAILED;
        ::SendMessageA(hParent, WM_COMMAND,
                       MAKEWPARAM(static_cast<WORD>(::GetDlgCtrlID(m_hWnd)), nCode),
                       reinterpret_cast<LPARAM>(m_hWnd));
    }
}

void CStaticField::OnLButtonDown(UINT /*nFlags*/, CPoint /*point*/) {
    HoverReset();
    Default();
    HideCaret();
}

void CStaticField::OnLButtonUp(UINT /*nFlags*/, CPoint /*point*/) {
    HoverReset();
    Default();
    HideCaret();
}

// The right button never reaches the control, so its context menu never opens.
void CStaticField::OnRButtonDown(UINT /*nFlags*/, CPoint /*point*/) {
    HoverReset();
    HideCaret();
}

void CStaticField::OnRButtonUp(UINT /*nFlags*/, CPoint /*point*/) {
    HoverReset();
    HideCaret();
}

LRESULT CStaticField::OnHoverRequest(WPARAM /*wParam*/, LPARAM lParam) {
    // Signed, so that a screen left of or above the primary one still maps into the field.
    const CPoint screenPoint(static_cast<short>(LOWORD(lParam)),
                             static_cast<short>(HIWORD(lParam)));
    if (m_tooltip.m_bVisible || !m_bTruncated || !HasFocus()) {
        return 0;
    }
    CPoint clientPoint(screenPoint);
    ScreenToClient(&clientPoint);
    CRect client;
    GetClientRect(&client);
    if (client.PtInRect(clientPoint)) {
        m_hoverPoint = clientPoint;
        ShowTooltip(screenPoint);
    }
    return 0;
}

LRESULT CStaticField::OnSysColorChange(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    MakeBrushes();
    const LRESULT nResult = Default();
    InvalidateField();
    return nResult;
}

LRESULT CStaticField::OnSettingChange(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // A high-contrast scheme switched on or off arrives as a change of settings.
    const LRESULT nResult = Default();
    InvalidateField();
    return nResult;
}

LRESULT CStaticField::OnDpiChangedAfterParent(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    DpiChanged();
    return Default();
}

LRESULT CStaticField::OnSetFont(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    const LRESULT nResult = Default();
    // The cut was measured with the old font.
    m_nScroll = 0;
    InvalidateField();
    return nResult;
}

CVeltraneString CStaticField::GetDisplayText() const {
    CVeltraneString s(m_text);
    ReplaceEverywhere(s, "\r", " ");
    ReplaceEverywhere(s, "\n", " ");
    ReplaceEverywhere(s, "  ", " ");
    return s;
}

CVeltraneString CStaticField::BuildDisplayText() {
    CVeltraneString out = GetDisplayText();
    m_bTruncated = false;
    if (m_pWorkDC == nullptr || out.GetLength() == 0) {
        return out;
    }
    CVeltraneString s(out);
    if (m_nScroll > 0 && m_nScroll < s.GetLength()) {
        s = s.Substring(m_nScroll, -1);
    }
    if (FitsInField(s)) {
        return s;
    }
    while (s.GetLength() > 0 && !FitsInField(WithEllipsis(s))) {
        s = DropLast(s);
    }
    m_bTruncated = true;
    return WithEllipsis(s);
}

int CStaticField::GetMaxScroll() const {
    CVeltraneString t = GetDisplayText();
    int nCount = 0;
    while (t.GetLength() > 0 && !FitsInField(t)) {
        t = t.GetLength() > 1 ? t.Substring(1, -1) : CVeltraneString();
        ++nCount;
    }
    return nCount;
}

bool CStaticField::FitsInField(CVeltraneString s) const {
    if (m_pWorkDC == nullptr || s.GetLength() == 0 || !m_bFontCaptured) {
        return true;
    }
    CRect client;
    GetClientRect(&client);
    const int nAvailable =
        client.right - AfxScaleForDpi(kFitMargin, AfxGetWindowDpi(m_hWnd)) - client.left;
    const char* pText = s.GetText();
    const CSize extent = m_pWorkDC->GetTextExtent(pText, s.GetLength());
    return extent.cx <= nAvailable;
}

bool CStaticField::IsOverflowing() {
    if (!AcquireDC()) {
        return false;
    }
    const CVeltraneString display = GetDisplayText();
    const bool bOverflowing = display.GetLength() > 0 && !FitsInField(display);
    ReleaseWorkDC();
    return bOverflowing;
}

bool CStaticField::AcquireDC() {
    ReleaseWorkDC();
    if (m_hWnd == nullptr) {
        return false;
    }
    m_pWorkDC = GetDC();
    if (m_pWorkDC == nullptr) {
        return false;
    }
    SelectFieldFont();
    return true;
}

bool CStaticField::SelectFieldFont() {
    if (m_pWorkDC == nullptr || !m_bFontCaptured) {
        return false;
    }
    DeselectFieldFont();
    // The very font the control draws with, so that the cut is measured at the size it has at
    // this DPI. Without one the control draws with the device context's own font, which then
    // measures as well.
    const HFONT hControlFont = GetFont();
    if (hControlFont == nullptr) {
        return false;
    }
    m_hOldFont = m_pWorkDC->SelectObject(hControlFont);
    if (m_hOldFont == nullptr) {
        return false;
    }
    m_hFont = hControlFont;
    m_pWorkDC->SetBkColor(m_crBackground);
    return true;
}

void CStaticField::DeselectFieldFont() {
    if (m_pWorkDC == nullptr || m_hFont == nullptr || m_hOldFont == nullptr) {
        return;
    }
    m_pWorkDC->SelectObject(m_hOldFont);
    m_hFont = nullptr;
    m_hOldFont = nullptr;
}

void CStaticField::ReleaseWorkDC() {
    if (m_pWorkDC == nullptr) {
        return;
    }
    DeselectFieldFont();
    ReleaseDC(m_pWorkDC);
    m_pWorkDC = nullptr;
}

bool CStaticField::CaptureFont(CDC* pDC) {
    if (pDC == nullptr) {
        return false;
    }
    char face[256] = {};
    pDC->GetTextFace(static_cast<int>(sizeof(face)), face);
    const CVeltraneString faceName(face);
    // Only an already captured face is skipped: the initial name is the usual dialog face, and
    // skipping it before any capture would leave the field without a font to measure with.
    if (m_bFontCaptured && faceName.CompareNoCase(m_faceName) == 0) {
        return false;
    }
    TEXTMETRICA metrics{};
    if (!pDC->GetTextMetrics(&metrics)) {
        return false;
    }
    const BYTE nPitch = metrics.tmPitchAndFamily & 0x0F;
    const bool bUsable = (nPitch & (kPitchTrueType | kPitchVariable)) != 0;
    const bool bTrueType = (nPitch & kPitchTrueType) != 0;
    if (!bUsable || (m_bTrueTypeOnly && !bTrueType)) {
        return false;
    }
    m_faceName = faceName;
    m_bFontCaptured = true;
    return true;
}

bool CStaticField::ShowTooltip(POINT screenPoint) {
    m_mouseTimer.Deactivate();
    if (m_text.GetLength() == 0) {
        return false;
    }
    if (m_tooltip.m_bVisible) {
        m_tooltip.Show(false);
    }
    CRect client;
    GetClientRect(&client);
    ClientToScreen(&client);
    const CPoint anchor(screenPoint.x, client.bottom);
    return m_tooltip.ShowAt(anchor, false);
}

void CStaticField::EnsureTooltip() {
    if (m_tooltip.m_pOwnerWnd != nullptr || m_hWnd == nullptr) {
        return;
    }
    m_tooltip.m_pOwnerWnd = this;
    IDROVAN_TRACE("tooltip_create");
    m_tooltip.CreateTooltip();
    IDROVAN_TRACE("tooltip_created");
    m_mouseTimer.Deactivate();
}

void CStaticField::HoverReset() {
    if (m_tooltip.m_bVisible) {
        m_tooltip.Show(false);
    }
    m_mouseTimer.ResetTracking();
    ActivateHoverTimer();
    m_hoverPoint = CPoint(0, 0);
}

void CStaticField::ActivateHoverTimer() {
    m_hHoverTarget.store(m_hWnd);
    m_mouseTimer.Activate();
}

bool CStaticField::ShowsText(const char* pText) const {
    const int nLength = GetWindowTextLength();
    std::string current(static_cast<size_t>(nLength) + 1, '\0');
    const int nRead = GetWindowText(&current[0], nLength + 1);
    current.resize(nRead > 0 ? static_cast<size_t>(nRead) : 0);
    return current == pText;
}

bool CStaticField::HasFocus() const {
    return m_hWnd != nullptr && ::GetFocus() == m_hWnd;
}

void CStaticField::InvalidateField() {
    if (m_hWnd != nullptr) {
        InvalidateRect(nullptr, TRUE);
    }
}
