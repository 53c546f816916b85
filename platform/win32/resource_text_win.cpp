#include "platform/resource_text.h"

#include <windows.h>

int LoadStringTableText(void* hModule, int nID, char* pBuffer, int nBufferSize) {
    if (pBuffer == nullptr || nBufferSize <= 0) {
        return 0;
    }
    pBuffer[0] = '\0';
    if (nID <= 0) {
        return 0;
    }
    HMODULE hInstance = static_cast<HMODULE>(hModule);
    if (hInstance == nullptr) {
        hInstance = GetModuleHandleA(nullptr);
        if (hInstance == nullptr) {
            return 0;
        }
    }
    const int nLength = LoadStringA(hInstance, static_cast<UINT>(nID), pBuffer, nBufferSize);
    if (nLength <= 0) {
        pBuffer[0] = '\0';
        return 0;
    }
    return nLength;
}
