#include "platform/resource_text.h"

#include <windows.h>

namespace {

// RT_STRING, in the wide form that FindResourceW takes.
const LPCWSTR kStringTable = MAKEINTRESOURCEW(6);

// The string table as Windows stores it: texts in blocks of 16, block n + 1 (an RT_STRING
// resource) holding the identifiers 16n to 16n + 15, each a count of UTF-16 units followed by
// that many units, without terminator. Read here with KERNEL32's resource calls rather than
// USER32's LoadStringA, which would make USER32 (and with it GDI32 and IMM32) a dependency of
// everything that links this file, idrovan.dll and the console included. The block is found as
// LoadStringA finds it, by FindResourceW, so the language chosen is the same.
bool FindText(HMODULE hModule, int nID, const WCHAR** ppText, int* pnLength) {
    const UINT nBlock = (static_cast<UINT>(nID) >> 4) + 1;
    HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(nBlock), kStringTable);
    if (hResource == NULL)
        return false;
    HGLOBAL hData = ::LoadResource(hModule, hResource);
    const WCHAR* pEntry = hData != NULL ? static_cast<const WCHAR*>(::LockResource(hData)) : NULL;
    if (pEntry == NULL)
        return false;
    const WCHAR* pEnd = pEntry + ::SizeofResource(hModule, hResource) / sizeof(WCHAR);
    for (int nSkip = nID & 15; nSkip > 0; --nSkip) {
        if (pEntry >= pEnd)
            return false;
        pEntry += 1 + *pEntry;
    }
    if (pEntry >= pEnd || *pEntry > pEnd - pEntry - 1)
        return false;
    *ppText = pEntry + 1;
    *pnLength = *pEntry;
    return true;
}

}  // namespace

int LoadStringTableText(void* hModule, int nID, char* pBuffer, int nBufferSize) {
    if (pBuffer == nullptr || nBufferSize <= 0) {
        return 0;
    }
    pBuffer[0] = '\0';
    if (nID <= 0 || nID > 0xFFFF) {
        return 0;
    }
    HMODULE hInstance = static_cast<HMODULE>(hModule);
    if (hInstance == nullptr) {
        hInstance = GetModuleHandleA(nullptr);
        if (hInstance == nullptr) {
            return 0;
        }
    }
    const WCHAR* pText = nullptr;
    int nLength = 0;
    if (!FindText(hInstance, nID, &pText, &nLength) || nLength == 0) {
        return 0;
    }
    // In the ANSI code page, as LoadStringA gives it, cut to what fits beside the terminator:
    // the longest beginning of the text whose narrow form takes at most nBufferSize - 1 bytes.
    int nUnits = nLength < nBufferSize - 1 ? nLength : nBufferSize - 1;
    while (nUnits > 0 && WideCharToMultiByte(CP_ACP, 0, pText, nUnits, nullptr, 0, nullptr,
                                             nullptr) > nBufferSize - 1) {
        --nUnits;
    }
    const int nBytes = nUnits > 0 ? WideCharToMultiByte(CP_ACP, 0, pText, nUnits, pBuffer,
                                                        nBufferSize - 1, nullptr, nullptr)
                                  : 0;
    if (nBytes <= 0) {
        pBuffer[0] = '\0';
        return 0;
    }
    pBuffer[nBytes] = '\0';
    return nBytes;
}
