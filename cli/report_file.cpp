#include "cli/report_file.h"

#include <cstring>
#include <initializer_list>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char ToLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsSameText(const char* pText, std::size_t nLength, const char* pszLower) {
    if (std::strlen(pszLower) != nLength)
        return false;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (ToLower(pText[i]) != pszLower[i])
            return false;
    }
    return true;
}

bool IsReservedName(const char* pText, std::size_t nLength) {
    for (const char* pszName : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (IsSameText(pText, nLength, pszName))
            return true;
    }
    return nLength == 4 && (IsSameText(pText, 3, "com") || IsSameText(pText, 3, "lpt")) &&
           pText[3] >= '0' && pText[3] <= '9';
}

}  // namespace

bool IsDeviceName(const char* pszName) {
    // \\.\COM1, \\?\pipe\x, //./nul: the device namespaces, whatever follows.
    if (IsSeparator(pszName[0]) && IsSeparator(pszName[1]) &&
        (pszName[2] == '.' || pszName[2] == '?') && IsSeparator(pszName[3]))
        return true;
    // The last part of the path, after a separator or a drive's colon ("C:NUL").
    const char* pszLast = pszName;
    for (const char* p = pszName; *p != '\0'; ++p) {
        if (IsSeparator(*p) || (*p == ':' && p == pszName + 1))
            pszLast = p + 1;
    }
    // Windows drops an extension, trailing spaces and a colon from a reserved name.
    std::size_t nLength = std::strcspn(pszLast, ".:");
    while (nLength > 0 && pszLast[nLength - 1] == ' ')
        --nLength;
    return IsReservedName(pszLast, nLength);
}
