#include "platform/wide_char.h"

VWCHAR NarrowCharToWide(char c) {
    return static_cast<VWCHAR>(static_cast<unsigned char>(c));
}

char WideCharToNarrow(VWCHAR w) {
    const unsigned int nUnit = static_cast<unsigned int>(w);
    return nUnit <= 0xFF ? static_cast<char>(static_cast<unsigned char>(nUnit)) : '?';
}

int WideTextLength(const VWCHAR* pText) {
    if (pText == nullptr) {
        return 0;
    }
    int nLength = 0;
    while (pText[nLength] != 0) {
        ++nLength;
    }
    return nLength;
}

void ConvertNarrowToWide(const char* pSource, int nCount, VWCHAR* pDest) {
    if (pSource == nullptr || pDest == nullptr) {
        return;
    }
    for (int i = 0; i < nCount; ++i) {
        pDest[i] = NarrowCharToWide(pSource[i]);
    }
}

void ConvertWideToNarrow(const VWCHAR* pSource, int nCount, char* pDest) {
    if (pSource == nullptr || pDest == nullptr) {
        return;
    }
    for (int i = 0; i < nCount; ++i) {
        pDest[i] = WideCharToNarrow(pSource[i]);
    }
}
