// Wide text for the whole program: 16-bit units on every platform, and the one
// narrow <-> wide character mapping the program uses.
//
// The mapping is fixed rather than taken from the C runtime, whose "%S"
// conversions differ between Windows and glibc (and glibc's wchar_t is 32-bit):
// narrow byte b becomes unit b for 0-255, and unit u becomes byte u for u <= 255
// and '?' above. A round trip narrow -> wide -> narrow therefore keeps every byte.
//
// Plain functions without state; safe to call from any thread.
#ifndef IDROVAN_PLATFORM_WIDE_CHAR_H_
#define IDROVAN_PLATFORM_WIDE_CHAR_H_

#ifdef _WIN32
typedef wchar_t VWCHAR;
#else
typedef char16_t VWCHAR;
#endif

static_assert(sizeof(VWCHAR) == 2, "wide text is 16-bit");

// The unit that stands for narrow byte c.
VWCHAR NarrowCharToWide(char c);

// The byte that stands for wide unit w: w itself up to 255, '?' above.
char WideCharToNarrow(VWCHAR w);

// Number of units before the 16-bit terminator; 0 for null.
int WideTextLength(const VWCHAR* pText);

// Converts nCount characters; no terminator is written. Does nothing for null
// pointers or nCount <= 0.
void ConvertNarrowToWide(const char* pSource, int nCount, VWCHAR* pDest);
void ConvertWideToNarrow(const VWCHAR* pSource, int nCount, char* pDest);

#endif  // IDROVAN_PLATFORM_WIDE_CHAR_H_
