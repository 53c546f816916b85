/* A stand-in for any system DLL, as someone who can write to a program's folder would plant it
   there under a system DLL's name: it exports nothing, and when it is loaded it leaves a file
   beside itself named after itself, "<name>.dll-was-loaded.txt". run_planted_dlls.sh puts copies
   of it beside idrovan-cli.exe under the names of the DLLs that --first-run loads. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    static const wchar_t suffix[] = L"-was-loaded.txt";
    wchar_t path[MAX_PATH + 16];
    DWORD length;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    memcpy(path + length, suffix, sizeof(suffix));
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
