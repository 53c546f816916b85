/* dll_call_cost <before.dll> <after.dll> <rounds> [--server-marks]: what one call of
   idrovan.dll costs its host, for two builds of the DLL loaded side by side in this process
   (by their paths, under different file names) and four kinds of call: a read-only computer ID
   without a detail, the same with a detail that has room for marker_key, a read-only
   application ID, and that application ID while the host keeps System32's bcrypt.dll loaded
   itself. Each round calls every kind once through each DLL, the DLLs' order swapped from round
   to round, timed with the performance counter; the medians and their ratio (after/before) are
   printed per kind. With --server-marks, each kind is then called once more through each DLL
   between two marks that show in the wineserver's +server log (the opening of events named
   "idrovan-mark-begin-<dll>-<kind>" and "idrovan-mark-end"), for counting the requests of one
   call (dll_call_cost.sh). A benchmark, never a test. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/idrovan.h"

#define MAX_ROUNDS 5000
#define KINDS 4

typedef int(IDROVAN_CALL* get_computer_id_fn)(unsigned int, char*, unsigned int, unsigned int*,
                                              idrovan_detail*);
typedef int(IDROVAN_CALL* get_application_id_fn)(const char*, unsigned int, char*, unsigned int,
                                                 unsigned int*, idrovan_detail*);

struct library {
    get_computer_id_fn get_computer_id;
    get_application_id_fn get_application_id;
};

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

static int load(const char* path, struct library* library) {
    HMODULE dll = LoadLibraryA(path);
    if (dll == NULL) {
        fprintf(stderr, "%s did not load: %lu\n", path, GetLastError());
        return 0;
    }
    library->get_computer_id =
        (get_computer_id_fn)(void (*)(void))GetProcAddress(dll, "idrovan_get_computer_id");
    library->get_application_id =
        (get_application_id_fn)(void (*)(void))GetProcAddress(dll, "idrovan_get_application_id");
    return library->get_computer_id != NULL && library->get_application_id != NULL;
}

/* One call of a kind; the bcrypt.dll that the last kind holds is loaded and freed around it,
   outside the time. */
static int call(const struct library* library, int kind, double* microseconds) {
    static LARGE_INTEGER frequency;
    LARGE_INTEGER from, to;
    char id[IDROVAN_ID_SIZE];
    idrovan_detail detail;
    HMODULE bcrypt = NULL;
    int result;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    memset(&detail, 0, sizeof(detail));
    detail.size = sizeof(detail);
    if (kind == 3)
        bcrypt = LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    QueryPerformanceCounter(&from);
    if (kind == 0)
        result = library->get_computer_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, NULL);
    else if (kind == 1)
        result = library->get_computer_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, &detail);
    else
        result = library->get_application_id("Vendor A licence", IDROVAN_READ_ONLY, id, sizeof(id),
                                             NULL, NULL);
    QueryPerformanceCounter(&to);
    if (bcrypt != NULL)
        FreeLibrary(bcrypt);
    if (microseconds != NULL)
        *microseconds = (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
    return result == IDROVAN_OK;
}

static void mark(const char* name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (event != NULL)
        CloseHandle(event);
}

int main(int argc, char** argv) {
    static double times[2][KINDS][MAX_ROUNDS];
    struct library libraries[2];
    int rounds = argc > 3 ? atoi(argv[3]) : 0;
    int i, kind, which;
    if (rounds < 1 || rounds > MAX_ROUNDS || !load(argv[1], &libraries[0]) ||
        !load(argv[2], &libraries[1])) {
        fprintf(stderr,
                "usage: dll_call_cost <before.dll> <after.dll> <rounds 1-%d> "
                "[--server-marks]\n",
                MAX_ROUNDS);
        return 2;
    }
    for (i = 0; i < rounds; ++i) {
        for (kind = 0; kind < KINDS; ++kind) {
            for (which = 0; which < 2; ++which) {
                int library = (which + i) % 2;
                if (!call(&libraries[library], kind, &times[library][kind][i])) {
                    fprintf(stderr, "no ID: %s\n", kind_names[kind]);
                    return 1;
                }
            }
        }
    }
    printf("rounds: %d\n", rounds);
    for (kind = 0; kind < KINDS; ++kind) {
        double before = median(times[0][kind], rounds), after = median(times[1][kind], rounds);
        printf("%s: before %.1f us, after %.1f us, after/before %.2f\n", kind_names[kind], before,
               after, before > 0 ? after / before : 0.0);
    }
    if (argc > 4 && strcmp(argv[4], "--server-marks") == 0) {
        mark("idrovan-mark-begin-none");
        mark("idrovan-mark-end");
        for (which = 0; which < 2; ++which) {
            for (kind = 0; kind < KINDS; ++kind) {
                char name[64];
                sprintf(name, "idrovan-mark-begin-%s-%d", which ? "after" : "before", kind);
                mark(name);
                call(&libraries[which], kind, NULL);
                mark("idrovan-mark-end");
            }
        }
    }
    return 0;
}
