#include "platform/win32/dll_search_win.h"

#include <windows.h>

bool RestrictDllSearchToSystem32() {
    typedef BOOL(WINAPI * PFNSETDEFAULTDLLDIRECTORIES)(DWORD nFlags);
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC pfn = hKernel != NULL ? ::GetProcAddress(hKernel, "SetDefaultDllDirectories") : NULL;
    if (pfn == NULL)
        return false;
    // Through the one function type that GCC lets stand for any other.
    PFNSETDEFAULTDLLDIRECTORIES pfnSet =
        reinterpret_cast<PFNSETDEFAULTDLLDIRECTORIES>(reinterpret_cast<void (*)()>(pfn));
    return pfnSet(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}
