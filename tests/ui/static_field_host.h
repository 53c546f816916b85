// Test host for CStaticField: a small modeless dialog laid out like the program's main dialog
// (an EDIT control 3001 bound to a field, and a push button 3002 to take the focus elsewhere),
// plus the helpers the field tests use: waiting for paints to settle, the shown text, the
// clipboard, pixels, and fonts.
// Everything runs on the test's thread, which owns the windows.
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/static_field.h"
#include "framework/framework.h"
#include "tests/ui/ui_test_support.h"

namespace field_test {

constexpr int kFieldId = 3001;
constexpr int kButtonId = 3002;
// Bounds for waits on conditions: generous, since the machine is shared.
constexpr DWORD kWaitMs = 15000;

// What the tests need to see of a field's insides.
class CStaticFieldProbe : public CStaticField {
public:
    using CStaticField::m_tooltip;
    // Wine cannot switch a high-contrast scheme on (SPI_SETHIGHCONTRAST fails there): 1 or 0
    // stands in for the system's answer, -1 asks the system.
    int m_nHighContrast = -1;

protected:
    bool IsHighContrast() const override {
        return m_nHighContrast < 0 ? CStaticField::IsHighContrast() : m_nHighContrast != 0;
    }
};

// Pumps messages until done() holds or timeoutMs passes; whether done() held. The deadline is
// also checked between messages, so a window that keeps asking to be painted cannot hold it.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = kWaitMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (::GetTickCount64() < end && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (done()) {
            return true;
        }
        if (::GetTickCount64() >= end) {
            return false;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Dispatches what is waiting now.
inline void PumpPending() {
    PumpUntil([] { return true; }, 5000);
}

// Pumps until hWnd has nothing left to paint; false when it keeps asking for paints.
inline bool PaintUntilSettled(HWND hWnd) {
    return PumpUntil([hWnd] {
        ::UpdateWindow(hWnd);
        return ::GetUpdateRect(hWnd, nullptr, FALSE) == FALSE;
    });
}

inline std::string WindowText(HWND hWnd) {
    const int nLength = ::GetWindowTextLengthA(hWnd);
    std::string text(static_cast<size_t>(nLength) + 1, '\0');
    const int nRead = ::GetWindowTextA(hWnd, &text[0], nLength + 1);
    text.resize(nRead > 0 ? static_cast<size_t>(nRead) : 0);
    return text;
}

inline bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Width in pixels of text in the control's own font.
inline int TextWidthInControlFont(HWND hControl, const std::string& text) {
    HDC hDC = ::GetDC(hControl);
    HGDIOBJ hOld =
        ::SelectObject(hDC, reinterpret_cast<HFONT>(::SendMessageA(hControl, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(hDC, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(hDC, hOld);
    ::ReleaseDC(hControl, hDC);
    return size.cx;
}

inline COLORREF ClientPixel(HWND hWnd, int x, int y) {
    HDC hDC = ::GetDC(hWnd);
    const COLORREF color = ::GetPixel(hDC, x, y);
    ::ReleaseDC(hWnd, hDC);
    return color;
}

inline bool OpenClipboardRetrying() {
    return PumpUntil([] { return ::OpenClipboard(nullptr) != FALSE; });
}

inline bool PutOnClipboard(const std::string& text) {
    if (!OpenClipboardRetrying()) {
        return false;
    }
    ::EmptyClipboard();
    HGLOBAL hBlock = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    bool bTaken = false;
    if (hBlock != nullptr) {
        std::memcpy(::GlobalLock(hBlock), text.c_str(), text.size() + 1);
        ::GlobalUnlock(hBlock);
        bTaken = ::SetClipboardData(CF_TEXT, hBlock) != nullptr;
        if (!bTaken) {
            ::GlobalFree(hBlock);
        }
    }
    ::CloseClipboard();
    return bTaken;
}

inline std::string ClipboardText() {
    std::string text = "<clipboard not opened>";
    if (!OpenClipboardRetrying()) {
        return text;
    }
    text = "<no CF_TEXT>";
    if (HANDLE hData = ::GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(::GlobalLock(hData))) {
            text = p;
            ::GlobalUnlock(hData);
        }
    }
    ::CloseClipboard();
    return text;
}

// The face that a font of that name really gets on this system.
inline std::string ReportedFace(const char* pFace, int nHeight = -11) {
    HDC hDC = ::GetDC(nullptr);
    HFONT hFont =
        ::CreateFontA(nHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, pFace);
    HGDIOBJ hOld = ::SelectObject(hDC, hFont);
    char face[LF_FACESIZE] = {};
    ::GetTextFaceA(hDC, LF_FACESIZE, face);
    ::SelectObject(hDC, hOld);
    ::DeleteObject(hFont);
    ::ReleaseDC(nullptr, hDC);
    return face;
}

// Makes pFace available to this process from Wine's own font files, which a Wine prefix may lack
// (Windows has these faces; there the file is not found and nothing is added). Call it before
// the face is first used: the font mapper remembers what a name resolved to. Whether the face now
// reports its own name.
inline bool ProvideFace(const char* pFace, const char* pWineFontFile) {
    const std::string path = std::string("Z:\\usr\\share\\wine\\fonts\\") + pWineFontFile;
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::AddFontResourceExA(path.c_str(), FR_PRIVATE, nullptr);
    }
    return ReportedFace(pFace) == pFace;
}

// The host dialog. Create it, then use m_field.
class CFieldHostDlg : public CDialog {
public:
    // nFieldWidth in dialog units; the program's own field is 188 wide. A hidden host paints
    // nothing until ShowHost, so that the field's font can be changed before its first paint.
    bool Create(short nFieldWidth = 188, bool bVisible = true) {
        m_pTemplate = std::make_unique<ui_test::DialogTemplate>(
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            static_cast<short>(nFieldWidth + 80), 55, "Field host");
        m_pTemplate->AddItem(ui_test::DialogTemplate::kEdit, kFieldId,
                             WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 64, 9, nFieldWidth, 14, "");
        m_pTemplate->AddItem(ui_test::DialogTemplate::kButton, kButtonId,
                             WS_TABSTOP | BS_PUSHBUTTON, 64, 30, 60, 14, "Other");
        if (!CreateIndirect(m_pTemplate->Get())) {
            return false;
        }
        ::SetWindowPos(m_hWnd, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        if (bVisible) {
            ShowHost();
        }
        return m_field.GetSafeHwnd() != nullptr;
    }

    void ShowHost() {
        ::ShowWindow(m_hWnd, SW_SHOW);
        ::SetForegroundWindow(m_hWnd);
        PumpPending();
    }

    ~CFieldHostDlg() override {
        if (m_hWnd != nullptr) {
            DestroyWindow();
        }
    }

    HWND Field() const { return m_field.GetSafeHwnd(); }
    HWND Button() const { return ::GetDlgItem(m_hWnd, kButtonId); }

    CStaticFieldProbe m_field;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kFieldId, m_field); }

private:
    std::unique_ptr<ui_test::DialogTemplate> m_pTemplate;
};

}  // namespace field_test
