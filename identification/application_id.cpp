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

// The length of the UTF-8 sequence at p (1 to 4) when it is one well-formed character that is
// not a control character; 0 otherwise. Reads no further than the first byte that is wrong, so
// never past a terminator.
std::size_t AcceptedCharacter(const unsigned char* p) {
    const unsigned char uc = p[0];
    if (uc < 0x80)
        return uc >= 0x20 && uc != 0x7F ? 1 : 0;
    // The lead byte gives the length and the least value it may encode (shorter forms are
    // overlong); 0x80-0xC1 and 0xF5-0xFF never lead.
    std::size_t nLength = 0;
    unsigned long nCode = 0;
    unsigned long nLeast = 0;
    if (uc >= 0xC2 && uc <= 0xDF) {
        nLength = 2;
        nCode = uc & 0x1Fu;
        nLeast = 0x80;
    } else if (uc >= 0xE0 && uc <= 0xEF) {
        nLength = 3;
        nCode = uc & 0x0Fu;
        nLeast = 0x800;
    } else if (uc >= 0xF0 && uc <= 0xF4) {
        nLength = 4;
        nCode = uc & 0x07u;
        nLeast = 0x10000;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0u) != 0x80)  // also the terminator of a sequence cut short
            return 0;
        nCode = (nCode << 6) | (p[i] & 0x3Fu);
    }
    const bool bSurrogate = nCode >= 0xD800 && nCode <= 0xDFFF;
    const bool bC1 = nCode <= 0x9F;
    if (nCode < nLeast || nCode > 0x10FFFF || bSurrogate || bC1)
        return 0;
    return nLength;
}

}  // namespace

bool IsApplicationName(const char* pszName) {
    if (pszName == nullptr || pszName[0] == '\0')
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pszName);
    std::size_t nBytes = 0;
    while (p[nBytes] != '\0') {
        const std::size_t nLength = AcceptedCharacter(p + nBytes);
        if (nLength == 0)
            return false;
        nBytes += nLength;
        if (nBytes > kMaxApplicationNameBytes)
            return false;
    }
    return true;
}

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
