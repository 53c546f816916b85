/* A stand-in bcrypt.dll, as someone who can write to a program's folder would plant it there:
   it exports the CNG calls that the keyed hash uses, each of which fails, and when it is loaded
   it leaves a file beside itself, bcrypt-was-loaded.txt. tests/sdk/run_planted_bcrypt.sh puts
   it beside the programs and idrovan.dll and checks that none of them loads it. */
#include <windows.h>

#define NOT_SUPPORTED ((LONG)0xC00000BBL) /* STATUS_NOT_SUPPORTED */

static void leave_trace(HINSTANCE module) {
    static const wchar_t name[] = L"bcrypt-was-loaded.txt";
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    HANDLE file;
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    if (length == 0 || length + sizeof(name) / sizeof(name[0]) > MAX_PATH)
        return;
    memcpy(path + length, name, sizeof(name));
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        leave_trace(module);
    return TRUE;
}

__declspec(dllexport) LONG WINAPI
    BCryptOpenAlgorithmProvider(void** algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags) {
    (void)id, (void)implementation, (void)flags;
    *algorithm = NULL;
    return NOT_SUPPORTED;
}

__declspec(dllexport) LONG WINAPI BCryptCloseAlgorithmProvider(void* algorithm, ULONG flags) {
    (void)algorithm, (void)flags;
    return NOT_SUPPORTED;
}

__declspec(dllexport) LONG WINAPI
    BCryptCreateHash(void* algorithm, void** hash, PUCHAR object, ULONG object_size, PUCHAR secret,
                     ULONG secret_size, ULONG flags) {
    (void)algorithm, (void)object, (void)object_size, (void)secret, (void)secret_size, (void)flags;
    *hash = NULL;
    return NOT_SUPPORTED;
}

__declspec(dllexport) LONG WINAPI
    BCryptHashData(void* hash, PUCHAR input, ULONG size, ULONG flags) {
    (void)hash, (void)input, (void)size, (void)flags;
    return NOT_SUPPORTED;
}

__declspec(dllexport) LONG WINAPI
    BCryptFinishHash(void* hash, PUCHAR output, ULONG size, ULONG flags) {
    (void)hash, (void)output, (void)size, (void)flags;
    return NOT_SUPPORTED;
}

__declspec(dllexport) LONG WINAPI BCryptDestroyHash(void* hash) {
    (void)hash;
    return NOT_SUPPORTED;
}
