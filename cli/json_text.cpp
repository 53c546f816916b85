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

}  // namespace

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
