#pragma once

// Text made safe for the console program's output, which is ASCII only.
//
// Both functions take the bytes of a text as they are (a file-system name or a system message
// may hold anything) and read each byte above 127 as the Latin-1 character of that value, so the
// result is ASCII whatever the code page was. Plain functions; safe on any thread.

#include <cstddef>

#include "cli/text_builder.h"

// A JSON string literal, quotes included: '"' and '\' escaped, the usual short escapes for
// \b \f \n \r \t, every other byte below 32, DEL and every byte above 127 as \u00XX.
void AppendJsonString(const char* pszText, CTextBuilder* pOut);

// The same for text known to be UTF-8 (an application name, IsApplicationName): each character
// above U+007F as its \uXXXX escape (a surrogate pair above U+FFFF), so that a JSON reader gets
// the name back as it was given; a byte that starts no well-formed sequence as \u00XX, as above.
void AppendJsonUtf8String(const char* pszText, CTextBuilder* pOut);

// The same for a text that may be empty, which stands for "none": null then.
void AppendJsonStringOrNull(const char* pszText, CTextBuilder* pOut);

// Text for a line that people read: printable ASCII as it is; every other byte, and the
// backslash so that an escape is never ambiguous, as \xXX.
void AppendPrintableText(const char* pszText, CTextBuilder* pOut);

// The same for nLength bytes that may hold zero bytes (each one shown as \x00).
void AppendPrintableBytes(const char* pText, std::size_t nLength, CTextBuilder* pOut);
