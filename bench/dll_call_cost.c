/* dll_call_cost <idrovan.dll> <rounds> [--server-marks]: what one call of idrovan.dll costs its
   host, for four kinds of call, each <rounds> times, alternating, timed with the performance
   counter: a read-only computer ID without a detail, the same with a detail that has room for
   marker_key, a read-only application ID, and that application ID while the host keeps
   System32's bcrypt.dll loaded itself. Prints the median of each in microseconds. The DLL is
   loaded by its path, so that one host measures any build of it. With --server-marks, each kind
   is called once more between two OutputDebugStringA marks ("mark begin <kind>", "mark end"), for
   counting the wineserver requests of one call in Wine's +server log (dll_call_cost.sh).
   A benchmark, never a test. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/idrovan.h"

#define MAX_ROUNDS 2000
#define KINDS 4

typedef int(IDROVAN_CALL* get_computer_id_fn)(unsigned int, char*, unsigned int, unsigned int*,
                                              idrovan_detail*);
typedef int(IDROVAN_CALL* get_application_id_fn)(const char*, unsigned int, char*, unsigned int,
                                                 unsigned int*, idrovan_detail*);

static get_computer_id_fn get_computer_id;
static get_application_id_fn get_application_id;
static const char* const kind_names[KINDS] = {"computer ID, no detail",
                                              "computer ID, detail with marker_key",
                                              "application ID", "application ID, bcrypt held"};

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof(values[0]), compare);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static int call(int kind) {
    char id[IDROVAN_ID_SIZE];
    idrovan_detail detail;
    memset(&detail, 0, sizeof(detail));
    detail.size = sizeof(detail);
    switch (kind) {
        case 0:
            return get_computer_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, NULL);
        case 1:
            return get_computer_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, &detail);
        default:
            return get_application_id("Vendor A licence", IDROVAN_READ_ONLY, id, sizeof(id), NULL,
                                      NULL);
    }
}

int main(int argc, char** argv) {
    static double times[KINDS][MAX_ROUNDS];
    int rounds = argc > 2 ? atoi(argv[2]) : 0;
    int marks = argc > 3 && strcmp(argv[3], "--server-marks") == 0;
    LARGE_INTEGER frequency, from, to;
    HMODULE dll, bcrypt = NULL;
    int i, kind;
    if (rounds < 1 || rounds > MAX_ROUNDS) {
        fprintf(stderr, "usage: dll_call_cost <idrovan.dll> <rounds 1-%d> [--server-marks]\n",
                MAX_ROUNDS);
        return 2;
    }
    dll = LoadLibraryA(argv[1]);
    if (dll == NULL) {
        fprintf(stderr, "%s did not load: %lu\n", argv[1], GetLastError());
        return 1;
    }
    get_computer_id =
        (get_computer_id_fn)(void (*)(void))GetProcAddress(dll, "idrovan_get_computer_id");
    get_application_id =
        (get_application_id_fn)(void (*)(void))GetProcAddress(dll, "idrovan_get_application_id");
    if (get_computer_id == NULL || get_application_id == NULL)
        return 1;
    QueryPerformanceFrequency(&frequency);
    for (i = 0; i < rounds; ++i) {
        for (kind = 0; kind < KINDS; ++kind) {
            if (kind == 3)
                bcrypt = LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
            QueryPerformanceCounter(&from);
            if (call(kind) != IDROVAN_OK) {
                fprintf(stderr, "no ID: %s\n", kind_names[kind]);
                return 1;
            }
            QueryPerformanceCounter(&to);
            if (bcrypt != NULL)
                FreeLibrary(bcrypt);
            bcrypt = NULL;
            times[kind][i] =
                (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
        }
    }
    for (kind = 0; kind < KINDS; ++kind)
        printf("%s: median %.1f us\n", kind_names[kind], median(times[kind], rounds));
    if (marks) {
        /* The marks' own requests, counted between a pair with no call in it. */
        OutputDebugStringA("mark begin none");
        OutputDebugStringA("mark end");
        for (kind = 0; kind < KINDS; ++kind) {
            char text[64];
            if (kind == 3)
                bcrypt = LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
            sprintf(text, "mark begin %d", kind);
            OutputDebugStringA(text);
            call(kind);
            OutputDebugStringA("mark end");
            if (bcrypt != NULL)
                FreeLibrary(bcrypt);
            bcrypt = NULL;
        }
    }
    FreeLibrary(dll);
    return 0;
}
