/* A program that imports ADVAPI32!SystemFunction036 (RtlGenRandom), which Windows forwards to
   cryptbase.dll: check_forwarded_imports.sh must refuse it. Built, never run. */
#include <windows.h>

BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG size);

int main(void) {
    unsigned char random[16];
    return SystemFunction036(random, sizeof(random)) ? 0 : 1;
}
