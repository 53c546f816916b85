#pragma once

// The text form of a computer ID, as users type it and as the derivation gives it: exactly 32
// hexadecimal digits. The derivation always gives lowercase; IDs that people pass back (to
// verify, to renew a marker, in a saved report) may come in either case.
//
// Plain functions without state; safe on any thread. Null pointers are refused, never read.

const int kComputerIDLength = 32;

// True for 0-9, a-f and A-F.
bool IsHexDigit(char c);

// True for exactly 32 hexadecimal digits, either case.
bool IsComputerIDText(const char* pszText);

// True when two texts are the same but for the case of their ASCII letters; false when either
// is null.
bool IsSameComputerID(const char* pszFirst, const char* pszSecond);
