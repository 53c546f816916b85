// CClipboardWriter: puts one text on the clipboard, replacing what was there: narrow text as
// CF_TEXT, 16-bit text as CF_UNICODETEXT.
//
// Another program may hold the clipboard open for a moment (clipboard managers and remote-desktop
// clients do): opening is tried again every 20 ms for about half a second before the copy is
// given up, and WasBusy then tells the caller so, for it to say so to the user.
//
// The clipboard is closed on every path that opened it, and the memory block is handed to the
// clipboard only when SetClipboardData accepts it; a block the clipboard refused is freed here.
// The Win32 calls are virtual so that a test can fail any one of them and count what was
// allocated and freed. UI thread; one object per copy.
#pragma once

#include <windows.h>

class CClipboardWriter {
public:
    CClipboardWriter() = default;
    virtual ~CClipboardWriter() = default;

    CClipboardWriter(const CClipboardWriter&) = delete;
    CClipboardWriter& operator=(const CClipboardWriter&) = delete;

    // Copies nLength characters of pText and a terminating NUL. True when the clipboard took
    // the text; false when it could not be opened within about half a second (nothing changed;
    // WasBusy is true) or when no memory could be had or placed (the clipboard was emptied). A null
    // text or a negative length: false, and the clipboard is not touched.
    bool CopyText(HWND hOwner, const char* pText, int nLength);
    // The same for 16-bit text, as CF_UNICODETEXT.
    bool CopyWideText(HWND hOwner, const wchar_t* pText, int nLength);

    // Whether the last copy failed because the clipboard stayed open in another program.
    bool WasBusy() const { return m_bBusy; }

    // How often opening is tried, and the pause after each failed try.
    static constexpr int kOpenAttempts = 25;
    static constexpr DWORD kOpenPauseMs = 20;

protected:
    virtual BOOL OpenClipboard(HWND hOwner);
    virtual BOOL EmptyClipboard();
    virtual HGLOBAL GlobalAlloc(UINT nFlags, SIZE_T nBytes);
    virtual LPVOID GlobalLock(HGLOBAL hMem);
    virtual BOOL GlobalUnlock(HGLOBAL hMem);
    virtual HGLOBAL GlobalFree(HGLOBAL hMem);
    virtual HANDLE SetClipboardData(UINT nFormat, HANDLE hMem);
    virtual BOOL CloseClipboard();
    // Waits between two tries to open the clipboard.
    virtual void Pause(DWORD nMilliseconds);

private:
    // OpenClipboard, tried kOpenAttempts times.
    bool OpenRetrying(HWND hOwner);
    // nChars characters of nCharSize bytes each, then a zero character, in format nFormat.
    bool CopyChars(HWND hOwner, UINT nFormat, const void* pChars, int nChars, size_t nCharSize);
    // Fills a new block with the characters and the zero; null when none could be allocated
    // and filled.
    HGLOBAL MakeBlock(const void* pChars, size_t nTextBytes, size_t nCharSize);

    bool m_bBusy = false;
};
