#include "identification/application_id.h"

#include <cstring>

#include "platform/hmac_sha256.h"

namespace {

const int kComputerIDDigits = 32;

// The lowercase form of 32 hexadecimal digits; false for anything else.
bool ToLowerComputerID(const char* pszComputerID, char* pszLower) {
    int n = 0;
    for (; pszComputerID[n] != '\0'; ++n) {
        char c = pszComputerID[n];
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        const bool bHexDigit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (n == kComputerIDDigits || !bHexDigit)
            return false;
        pszLower[n] = c;
    }
    return n == kComputerIDDigits;
}

}  // namespace

bool DeriveApplicationID(const char* pszComputerID, const char* pszApplication, char* pszID) {
    if (pszID == nullptr)
        return false;
    pszID[0] = '\0';
    char szKey[kComputerIDDigits] = {};
    if (pszComputerID == nullptr || pszApplication == nullptr || pszApplication[0] == '\0' ||
        !ToLowerComputerID(pszComputerID, szKey))
        return false;
    unsigned char digest[kHmacSha256Size] = {};
    if (!ComputeHmacSha256(szKey, sizeof(szKey), pszApplication, std::strlen(pszApplication),
                           digest))
        return false;
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < kApplicationIDLength / 2; ++i) {
        pszID[2 * i] = kDigits[digest[i] >> 4];
        pszID[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    pszID[kApplicationIDLength] = '\0';
    return true;
}
