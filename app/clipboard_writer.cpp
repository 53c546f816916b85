#include "clipboard_writer.h"

#include <cstring>

bool CClipboardWriter::CopyText(HWND hOwner, const char* pText, int nLength) {
    if (pText == nullptr || nLength < 0) {
        return false;
    }
    if (!OpenClipboard(hOwner)) {
        return false;
    }
    EmptyClipboard();

    bool bPlaced = false;
    HGLOBAL hMem = MakeTextBlock(pText, nLength);
    if (hMem != nullptr) {
        if (SetClipboardData(CF_TEXT, hMem) != nullptr) {
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

HGLOBAL CClipboardWriter::MakeTextBlock(const char* pText, int nLength) {
    const SIZE_T nBytes = static_cast<SIZE_T>(nLength) + 1;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, nBytes);
    if (hMem == nullptr) {
        return nullptr;
    }
    char* pBlock = static_cast<char*>(GlobalLock(hMem));
    if (pBlock == nullptr) {
        GlobalFree(hMem);
        return nullptr;
    }
    std::memcpy(pBlock, pText, static_cast<size_t>(nLength));
    pBlock[nLength] = '\0';
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
