#include "cli/json_text.h"

#include <cstring>

namespace {

bool IsPrintableAscii(unsigned char uc) {
    return uc >= 0x20 && uc <= 0x7E;
}

// The escape JSON has a short form for, or null.
const char* ShortEscape(char c) {
    switch (c) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\b':
            return "\\b";
        case '\f':
            return "\\f";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            return nullptr;
    }
}

// The code point of the well-formed UTF-8 sequence at p and its length, or 0 for none. Only
// what IsApplicationName accepts reaches here; anything else is escaped byte by byte.
std::size_t DecodeUtf8(const unsigned char* p, unsigned long* pnCode) {
    const unsigned char uc = p[0];
    const std::size_t nLength = uc >= 0xF0 && uc <= 0xF4   ? 4
                                : uc >= 0xE0 && uc <= 0xEF ? 3
                                : uc >= 0xC2 && uc <= 0xDF ? 2
                                                           : 0;
    if (nLength == 0)
        return 0;
    unsigned long nCode = uc & (0x7Fu >> nLength);
    for (std::size_t i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0u) != 0x80)
            return 0;
        nCode = (nCode << 6) | (p[i] & 0x3Fu);
    }
    const unsigned long nLeast = nLength == 2 ? 0x80 : nLength == 3 ? 0x800 : 0x10000;
    if (nCode < nLeast || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF))
        return 0;
    *pnCode = nCode;
    return nLength;
}

void AppendUnicodeEscape(unsigned long nUnit, CTextBuilder* pOut) {
    pOut->AppendHexByte("\\u", static_cast<unsigned char>(nUnit >> 8));
    pOut->AppendHexByte("", static_cast<unsigned char>(nUnit & 0xFF));
}

}  // namespace

void AppendJsonUtf8String(const char* pszText, CTextBuilder* pOut) {
    pOut->Append('"');
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pszText);
    while (p != nullptr && *p != '\0') {
        unsigned long nCode = 0;
        const std::size_t nLength = *p >= 0x80 ? DecodeUtf8(p, &nCode) : 0;
        if (nLength == 0) {
            const char c = static_cast<char>(*p++);
            if (const char* pszEscape = ShortEscape(c))
                pOut->Append(pszEscape);
            else if (IsPrintableAscii(static_cast<unsigned char>(c)))
                pOut->Append(c);
            else
                pOut->AppendHexByte("\\u00", static_cast<unsigned char>(c));
            continue;
        }
        p += nLength;
        if (nCode >= 0x10000) {
            AppendUnicodeEscape(0xD800 + ((nCode - 0x10000) >> 10), pOut);
            AppendUnicodeEscape(0xDC00 + ((nCode - 0x10000) & 0x3FF), pOut);
        } else {
            AppendUnicodeEscape(nCode, pOut);
        }
    }
    pOut->Append('"');
}

void AppendJsonString(const char* pszText, CTextBuilder* pOut) {
    pOut->Append('"');
    for (const char* p = pszText; p != nullptr && *p != '\0'; ++p) {
        const unsigned char uc = static_cast<unsigned char>(*p);
        if (const char* pszEscape = ShortEscape(*p))
            pOut->Append(pszEscape);
        else if (IsPrintableAscii(uc))
            pOut->Append(*p);
        else
            pOut->AppendHexByte("\\u00", uc);
    }
    pOut->Append('"');
}

void AppendPrintableText(const char* pszText, CTextBuilder* pOut) {
    if (pszText != nullptr)
        AppendPrintableBytes(pszText, std::strlen(pszText), pOut);
}

void AppendPrintableBytes(const char* pText, std::size_t nLength, CTextBuilder* pOut) {
    for (std::size_t i = 0; i < nLength; ++i) {
        const unsigned char uc = static_cast<unsigned char>(pText[i]);
        if (IsPrintableAscii(uc) && pText[i] != '\\')
            pOut->Append(pText[i]);
        else
            pOut->AppendHexByte("\\x", uc);
    }
}

void AppendJsonStringOrNull(const char* pszText, CTextBuilder* pOut) {
    if (pszText[0] != '\0')
        AppendJsonString(pszText, pOut);
    else
        pOut->Append("null");
}
