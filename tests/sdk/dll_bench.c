/* dll_bench <rounds> <idrovan-cli.exe>: one read-only ID through idrovan.dll in this process
   against one start of idrovan-cli --no-write (CreateProcess, then the wait for its end), each
   <rounds> times, alternating, timed with the performance counter. Prints the medians in
   microseconds and their ratio. A benchmark (dll_bench.sh), never a test. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/idrovan.h"

#define MAX_ROUNDS 1000

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof(values[0]), compare);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static double microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

int main(int argc, char** argv) {
    static double in_process[MAX_ROUNDS], started[MAX_ROUNDS];
    int rounds = argc > 2 ? atoi(argv[1]) : 0;
    char command[MAX_PATH + 32];
    char id[IDROVAN_ID_SIZE];
    LARGE_INTEGER frequency, from, to;
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE nowhere;
    int i;
    if (rounds < 1 || rounds > MAX_ROUNDS || strlen(argv[2]) > MAX_PATH) {
        fprintf(stderr, "usage: dll_bench <rounds 1-%d> <idrovan-cli.exe>\n", MAX_ROUNDS);
        return 2;
    }
    /* The console's ID goes nowhere: only the start and the derivation are timed. */
    nowhere = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, NULL);
    if (nowhere == INVALID_HANDLE_VALUE)
        return 1;
    QueryPerformanceFrequency(&frequency);
    for (i = 0; i < rounds; ++i) {
        STARTUPINFOA startup;
        PROCESS_INFORMATION process;
        QueryPerformanceCounter(&from);
        if (idrovan_get_computer_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, NULL) != IDROVAN_OK) {
            fprintf(stderr, "no ID through the DLL\n");
            return 1;
        }
        QueryPerformanceCounter(&to);
        in_process[i] = microseconds(from, to, frequency);

        memset(&startup, 0, sizeof(startup));
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nowhere;
        startup.hStdOutput = nowhere;
        startup.hStdError = nowhere;
        sprintf(command, "\"%s\" --no-write", argv[2]);
        QueryPerformanceCounter(&from);
        if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
            fprintf(stderr, "idrovan-cli did not start: %lu\n", GetLastError());
            return 1;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        QueryPerformanceCounter(&to);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        started[i] = microseconds(from, to, frequency);
    }
    CloseHandle(nowhere);
    {
        double dll = median(in_process, rounds), cli = median(started, rounds);
        printf("rounds: %d\n", rounds);
        printf("DLL, one read-only ID in-process: median %.0f us\n", dll);
        printf("idrovan-cli --no-write, one start: median %.0f us\n", cli);
        printf("ratio (one start / one call): %.0f\n", dll > 0 ? cli / dll : 0.0);
    }
    return 0;
}
