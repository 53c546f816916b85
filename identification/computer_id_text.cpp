#include "identification/computer_id_text.h"

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsComputerIDText(const char* pszText) {
    if (pszText == nullptr)
        return false;
    int nDigits = 0;
    for (; pszText[nDigits] != '\0'; ++nDigits) {
        if (nDigits == kComputerIDLength || !IsHexDigit(pszText[nDigits]))
            return false;
    }
    return nDigits == kComputerIDLength;
}

bool IsSameComputerID(const char* pszFirst, const char* pszSecond) {
    if (pszFirst == nullptr || pszSecond == nullptr)
        return false;
    for (; *pszFirst != '\0' && LowerAscii(*pszFirst) == LowerAscii(*pszSecond);
         ++pszFirst, ++pszSecond) {
    }
    return *pszFirst == '\0' && *pszSecond == '\0';
}
