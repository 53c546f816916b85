/* A consumer of the MSVC ABI: compiled with clang for x86_64-pc-windows-msvc and linked by
   lld-link against the SDK's idrovan.lib and a kernel32 import library, with an entry point of
   its own and no C runtime, so that no Microsoft SDK is needed. Writes the read-only ID (or "-")
   and a line break, and exits with the result code. */
#include "idrovan.h"

typedef void* HANDLE;
#define STD_OUTPUT_HANDLE ((unsigned long)-11)
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

void __cdecl msvc_consumer_entry(void) {
    char line[IDROVAN_ID_SIZE + 2];
    unsigned long written = 0;
    unsigned int length = IDROVAN_ID_LENGTH;
    idrovan_detail detail;
    int result;
    detail.size = sizeof(detail);
    result = idrovan_get_computer_id(IDROVAN_READ_ONLY, line, IDROVAN_ID_SIZE, 0, &detail);
    if (result != IDROVAN_OK) {
        line[0] = '-';
        length = 1;
    }
    line[length] = '\r';
    line[length + 1] = '\n';
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length + 2, &written, 0);
    ExitProcess((unsigned int)result);
}
