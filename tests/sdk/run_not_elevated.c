/* run_not_elevated <command line>: runs the command line with the filtered token that UAC pairs
   with this process's elevated one, as from a console that is not elevated, waits for it and
   exits with its exit code; 125 when there is no such token or the command does not start. */
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    HANDLE own = NULL;
    TOKEN_LINKED_TOKEN linked = {NULL};
    DWORD size = 0;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    wchar_t* command = wcsstr(GetCommandLineW(), argc > 1 ? argv[1] : L"");
    DWORD code = 125;
    if (argc < 2 || command == NULL) {
        fputs("usage: run_not_elevated <program> [arguments]\n", stderr);
        return 125;
    }
    /* The command line as given, from the program's name on (argv[1] may have been quoted). */
    if (command > GetCommandLineW() && command[-1] == L'"')
        --command;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) ||
        !GetTokenInformation(own, TokenLinkedToken, &linked, sizeof(linked), &size)) {
        fprintf(stderr, "run_not_elevated: no linked token (%lu)\n", GetLastError());
        return 125;
    }
    CloseHandle(own);
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessAsUserW(linked.LinkedToken, NULL, command, NULL, NULL, TRUE, 0, NULL, NULL,
                              &startup, &process)) {
        fprintf(stderr, "run_not_elevated: not started (%lu)\n", GetLastError());
        CloseHandle(linked.LinkedToken);
        return 125;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(linked.LinkedToken);
    return (int)code;
}
