// Access to the program's string table: the Win32 string resources of the
// executable on Windows, a compiled-in table of the same texts elsewhere.
//
// Stateless; safe to call from any thread.
#ifndef IDROVAN_PLATFORM_RESOURCE_TEXT_H_
#define IDROVAN_PLATFORM_RESOURCE_TEXT_H_

// Copies the narrow text with identifier nID into pBuffer (nBufferSize bytes,
// always zero-terminated when nBufferSize > 0) and returns its length in
// characters. Returns 0 for a missing or empty text, nID <= 0, a null or empty
// buffer, or a module that cannot be found.
//
// hModule is the Win32 module (HMODULE) that holds the table; null means the
// program's own executable. Other platforms have only the program's table and
// ignore it.
int LoadStringTableText(void* hModule, int nID, char* pBuffer, int nBufferSize);

#endif  // IDROVAN_PLATFORM_RESOURCE_TEXT_H_
