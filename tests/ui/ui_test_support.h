// Helpers for the UI tests that run in-process under Wine: pumping this thread's messages until a
// condition holds, and building dialog templates in memory. Test-only; UI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui_test {

// Dispatches this thread's messages until done() is true or timeoutMs has passed; returns
// done(). The bound is generous on purpose: it only limits how long a broken test hangs.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(deadline - now > 50 ? 50 : deadline - now),
                                  QS_ALLINPUT);
    }
}

// Dispatches whatever is queued now (sent and posted messages, paints). Bounded, so that a
// window that never validates itself (and so is asked to paint forever) fails a test instead
// of hanging it.
inline void PumpPending() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The font the tooltip measures and draws 8-bit lines with, for measuring them the same way.
inline LOGFONTA TooltipLogFont() {
    LOGFONTA lf{};
    lf.lfHeight = -12;
    lf.lfWeight = 500;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(lf.lfFaceName, "Arial");
    return lf;
}

// An in-memory DLGTEMPLATE with its items, laid out as the dialog manager reads it (WORD
// arrays, items on DWORD boundaries). Keep the object alive while the dialog is created.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, const char* title) {
        style |= DS_SETFONT;
        PushDword(style);
        PushDword(0);  // extended style
        m_countIndex = m_words.size();
        PushWord(0);  // item count, filled in by AddItem
        PushWord(10);
        PushWord(10);
        PushWord(static_cast<WORD>(cx));
        PushWord(static_cast<WORD>(cy));
        PushWord(0);  // no menu
        PushWord(0);  // standard dialog class
        PushString(title);
        PushWord(8);  // point size
        PushString("MS Shell Dlg");
    }

    // cls is an atom of the predefined classes: 0x0080 button, 0x0081 edit, 0x0082 static.
    DialogTemplate& AddItem(WORD cls, WORD id, DWORD style, short x, short y, short cx, short cy,
                            const char* text) {
        AlignDword();
        PushDword(style | WS_CHILD | WS_VISIBLE);
        PushDword(0);
        PushWord(static_cast<WORD>(x));
        PushWord(static_cast<WORD>(y));
        PushWord(static_cast<WORD>(cx));
        PushWord(static_cast<WORD>(cy));
        PushWord(id);
        PushWord(0xFFFF);
        PushWord(cls);
        PushString(text);
        PushWord(0);  // no creation data
        ++m_words[m_countIndex];
        return *this;
    }

    LPCDLGTEMPLATEA Get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(m_words.data()); }

    static constexpr WORD kButton = 0x0080;
    static constexpr WORD kEdit = 0x0081;
    static constexpr WORD kStatic = 0x0082;

private:
    void PushWord(WORD w) { m_words.push_back(w); }
    void PushDword(DWORD d) {
        PushWord(LOWORD(d));
        PushWord(HIWORD(d));
    }
    void PushString(const char* text) {
        for (const char* p = text; *p != '\0'; ++p) {
            PushWord(static_cast<unsigned char>(*p));
        }
        PushWord(0);
    }
    void AlignDword() {
        if (m_words.size() % 2 != 0) {
            PushWord(0);
        }
    }

    std::vector<WORD> m_words;  // heap storage: DWORD-aligned start
    size_t m_countIndex = 0;
};

}  // namespace ui_test
