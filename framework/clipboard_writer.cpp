#include "framework/clipboard_writer.h"

#include <cstring>

bool CClipboardWriter::CopyText(HWND hOwner, const char* pText, int nLength) {
    return CopyChars(hOwner, CF_TEXT, pText, nLength, sizeof(char));
}

bool CClipboardWriter::CopyWideText(HWND hOwner, const wchar_t* pText, int nLength) {
    return CopyChars(hOwner, CF_UNICODETEXT, pText, nLength, sizeof(wchar_t));
}

bool CClipboardWriter::CopyChars(HWND hOwner, UINT nFormat, const void* pChars, int nChars,
                                 size_t nCharSize) {
    m_bBusy = false;
    if (pChars == nullptr || nChars < 0) {
        return false;
    }
    if (!OpenRetrying(hOwner)) {
        m_bBusy = true;
        return false;
    }
    EmptyClipboard();

    bool bPlaced = false;
    HGLOBAL hMem = MakeBlock(pChars, static_cast<size_t>(nChars) * nCharSize, nCharSize);
    if (hMem != nullptr) {
        if (SetClipboardData(nFormat, hMem) != nullptr) {
            // The block belongs to the clipboard from here on.
            bPlaced = true;
        } else {
            GlobalFree(hMem);
        }
        hMem = nullptr;
    }
    CloseClipboard();
    return bPlaced;
}

bool CClipboardWriter::OpenRetrying(HWND hOwner) {
    for (int nAttempt = 1;; ++nAttempt) {
        if (OpenClipboard(hOwner)) {
            return true;
        }
        if (nAttempt == kOpenAttempts) {
            return false;
        }
        Pause(kOpenPauseMs);
    }
}

HGLOBAL CClipboardWriter::MakeBlock(const void* pChars, size_t nTextBytes, size_t nCharSize) {
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, nTextBytes + nCharSize);
    if (hMem == nullptr) {
        return nullptr;
    }
    char* pBlock = static_cast<char*>(GlobalLock(hMem));
    if (pBlock == nullptr) {
        GlobalFree(hMem);
        return nullptr;
    }
    std::memcpy(pBlock, pChars, nTextBytes);
    // The terminator is written here, not copied: the source need not have one.
    std::memset(pBlock + nTextBytes, 0, nCharSize);
    GlobalUnlock(hMem);
    return hMem;
}

BOOL CClipboardWriter::OpenClipboard(HWND hOwner) {
    return ::OpenClipboard(hOwner);
}
BOOL CClipboardWriter::EmptyClipboard() {
    return ::EmptyClipboard();
}
HGLOBAL CClipboardWriter::GlobalAlloc(UINT nFlags, SIZE_T nBytes) {
    return ::GlobalAlloc(nFlags, nBytes);
}
LPVOID CClipboardWriter::GlobalLock(HGLOBAL hMem) {
    return ::GlobalLock(hMem);
}
BOOL CClipboardWriter::GlobalUnlock(HGLOBAL hMem) {
    return ::GlobalUnlock(hMem);
}
HGLOBAL CClipboardWriter::GlobalFree(HGLOBAL hMem) {
    return ::GlobalFree(hMem);
}
HANDLE CClipboardWriter::SetClipboardData(UINT nFormat, HANDLE hMem) {
    return ::SetClipboardData(nFormat, hMem);
}
BOOL CClipboardWriter::CloseClipboard() {
    return ::CloseClipboard();
}
void CClipboardWriter::Pause(DWORD nMilliseconds) {
    ::Sleep(nMilliseconds);
}
