/* dll_unload_cycles <idrovan.dll> <rounds> <application> [report every]: a host that loads the
   DLL, makes one call and frees it again, over and over, as plug-in hosts, .NET's
   NativeLibrary.Free and "load, check the licence, unload" code do. Each round is one
   LoadLibrary -> GetProcAddress -> call -> FreeLibrary cycle of every call of the API; the DLL
   must really be gone after each FreeLibrary, and every answer must be the first round's.

   After round 100 and after the last round it takes the process's free TLS slots (TlsAlloc
   until it fails), its handle count and its private bytes, and fails when the last differ
   from the first by more than a small bound: a DLL that keeps anything past FreeLibrary (a TLS
   index, a thread handle, an exception pool) leaks it once per cycle, and thousands of cycles
   make that plain. With 100 rounds or fewer only the answers are checked. Prints "first <computer
   ID> <application ID>", a line of figures at every report, and "ok" at the end; exits 0 only when
   every check held. */
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/idrovan.h"

/* The bounds between round 100 and the last round: no TLS slot at all; a few handles and some
   heap for what the system itself may cache meanwhile (far below one leaked handle or 64
   bytes per cycle over thousands of cycles). */
#define HANDLE_BOUND 8
#define PRIVATE_BOUND (512 * 1024)
#define FIRST_REPORT 100

typedef int(IDROVAN_CALL* get_id_fn)(unsigned int, char*, unsigned int, unsigned int*,
                                     idrovan_detail*);
typedef int(IDROVAN_CALL* get_app_id_fn)(const char*, unsigned int, char*, unsigned int,
                                         unsigned int*, idrovan_detail*);
typedef int(IDROVAN_CALL* verify_fn)(const char*, idrovan_detail*);
typedef int(IDROVAN_CALL* verify_app_fn)(const char*, const char*, idrovan_detail*);
typedef int(IDROVAN_CALL* get_version_fn)(char*, unsigned int, unsigned int*);
typedef const char*(IDROVAN_CALL* result_text_fn)(int);
typedef int(IDROVAN_CALL* verify_licence_fn)(const char*, unsigned int, const char*, const char*,
                                             const char*, const char*, idrovan_licence_info*);

/* The published test licence (docs/licence.md): its signature verifies through CNG in every
   round, and then the application ID, this prefix's and not the licence's, gives no match. */
static const char licence_key[] =
    "test-1:6c0285c8103d9f761de87a4228357dc14c4b17919f9d3b9a8aee21aa21047120be6ab84efbbd8e1d27b29a"
    "a1434f3e05dfbbb70014877cbebbbdfa985b5bebc7";
static const char licence_text[] =
    "idrovan-licence: 1\n"
    "key-id: test-1\n"
    "licence-id: VA-2024-0002\n"
    "application: Vendor A\n"
    "application-id: a3f9fd7e4d8a55f3b6137833f3af7fe9\n"
    "issued: 2024-11-01T00:00:00Z\n"
    "not-before: 2024-11-01T00:00:00Z\n"
    "not-after: permanent\n"
    "signature: ecdsa-p256-sha256 "
    "df4e728a189c37bccaed05df1fef6fa7f6c22ceea2cfc78f6e0b18f09ff422000f848921af6124a031660c9a6ece"
    "fe3370d79968d03b42ea7c15332203d7a1ce\n";

enum call {
    GET_ID,
    GET_ID_READ_ONLY,
    GET_APP_ID,
    VERIFY_ID,
    VERIFY_APP_ID,
    GET_VERSION,
    RESULT_TEXT,
    VERIFY_LICENCE,
    CALLS
};
static const char* const call_names[CALLS] = {
    "idrovan_get_computer_id",    "idrovan_get_computer_id",       "idrovan_get_application_id",
    "idrovan_verify_computer_id", "idrovan_verify_application_id", "idrovan_get_version",
    "idrovan_result_text",        "idrovan_verify_licence"};

static const wchar_t* dll_path;
static const char* application;
/* The first round's answers, which every later round must give again. */
static char computer_id[IDROVAN_ID_SIZE], application_id[IDROVAN_ID_SIZE], version[32];
static char result_text[128];

struct figures {
    int free_tls;
    DWORD handles;
    SIZE_T private_bytes;
};

/* Every TLS slot the process can still have, taken and given back. */
static int free_tls_slots(void) {
    static DWORD taken[2048];
    int count = 0, i;
    while (count < (int)(sizeof(taken) / sizeof(taken[0]))) {
        DWORD index = TlsAlloc();
        if (index == TLS_OUT_OF_INDEXES)
            break;
        taken[count++] = index;
    }
    for (i = 0; i < count; ++i)
        TlsFree(taken[i]);
    return count;
}

/* The handles open in the process. GetProcessHandleCount answers 0 under Wine 8, so the
   handle values themselves are tried as well: a leaked handle takes the lowest free value, and
   thousands of them would fill the range tried here. The larger count counts. */
static DWORD open_handles(void) {
    DWORD counted = 0, flags, reported = 0;
    ULONG_PTR value;
    for (value = 4; value < 0x40000; value += 4) {
        if (GetHandleInformation((HANDLE)value, &flags))
            ++counted;
    }
    if (!GetProcessHandleCount(GetCurrentProcess(), &reported))
        reported = 0;
    return reported > counted ? reported : counted;
}

static struct figures take_figures(void) {
    struct figures now;
    PROCESS_MEMORY_COUNTERS_EX memory;
    memset(&now, 0, sizeof(now));
    memset(&memory, 0, sizeof(memory));
    now.free_tls = free_tls_slots();
    now.handles = open_handles();
    /* The commit charge: PrivateUsage, which Wine 8 leaves 0; PagefileUsage holds the same
       figure (Microsoft's documentation of the structure), except on Windows 7, where it is 0. */
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&memory,
                                sizeof(memory)))
        now.private_bytes =
            memory.PrivateUsage > memory.PagefileUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return now;
}

static void print_figures(const char* when, int round, const struct figures* now) {
    printf("%s %d rounds (%d cycles): free TLS slots %d, handles %lu, private bytes %lu\n", when,
           round, round * CALLS, now->free_tls, (unsigned long)now->handles,
           (unsigned long)now->private_bytes);
    fflush(stdout);
}

static FARPROC find(HMODULE module, enum call which) {
    return GetProcAddress(module, call_names[which]);
}

/* One call of the API through a module loaded for it alone; its text answer into text (an ID or
   the version), its result as the return value. */
static int call_once(HMODULE module, enum call which, char* text, unsigned int text_size) {
    idrovan_detail detail;
    FARPROC function = find(module, which);
    memset(&detail, 0, sizeof(detail));
    detail.size = sizeof(detail);
    text[0] = '\0';
    if (function == NULL)
        return -1;
    switch (which) {
        case GET_ID:
        case GET_ID_READ_ONLY:
            return ((get_id_fn)(void (*)(void))function)(which == GET_ID ? 0 : IDROVAN_READ_ONLY,
                                                         text, text_size, NULL, &detail);
        case GET_APP_ID:
            return ((get_app_id_fn)(void (*)(void))function)(application, 0, text, text_size, NULL,
                                                             &detail);
        case VERIFY_ID:
            return ((verify_fn)(void (*)(void))function)(computer_id, &detail);
        case VERIFY_APP_ID:
            return ((verify_app_fn)(void (*)(void))function)(application, application_id, &detail);
        case GET_VERSION:
            return ((get_version_fn)(void (*)(void))function)(text, text_size, NULL);
        case RESULT_TEXT: {
            /* The text is the DLL's own: copied while the DLL is still loaded. */
            const char* answer = ((result_text_fn)(void (*)(void))function)(IDROVAN_NO_RIGHTS);
            if (answer == NULL || strlen(answer) >= text_size)
                return -1;
            strcpy(text, answer);
            return IDROVAN_OK;
        }
        case VERIFY_LICENCE: {
            idrovan_licence_info info;
            int result;
            memset(&info, 0, sizeof(info));
            info.size = sizeof(info);
            result = ((verify_licence_fn)(void (*)(void))function)(
                licence_text, (unsigned int)strlen(licence_text), "Vendor A", NULL, licence_key,
                NULL, &info);
            /* Signed, so the info came back; another computer's, so no match. */
            return result == IDROVAN_NO_MATCH && strcmp(info.licence_id, "VA-2024-0002") == 0
                       ? IDROVAN_OK
                       : result;
        }
        default:
            return -1;
    }
}

/* What the call must answer, once the first round has set the answers. */
static const char* expected_text(enum call which) {
    switch (which) {
        case GET_ID:
        case GET_ID_READ_ONLY:
            return computer_id;
        case GET_APP_ID:
            return application_id;
        case GET_VERSION:
            return version;
        case RESULT_TEXT:
            return result_text;
        default:
            return "";
    }
}

/* One LoadLibrary -> call -> FreeLibrary cycle. Returns 0, or prints what went wrong. */
static int cycle(int round, enum call which) {
    char text[128];
    int result;
    HMODULE module = LoadLibraryW(dll_path);
    if (module == NULL) {
        printf("round %d: LoadLibrary failed (%lu)\n", round, GetLastError());
        return 1;
    }
    result = call_once(module, which, text, sizeof(text));
    if (!FreeLibrary(module)) {
        printf("round %d: FreeLibrary failed (%lu)\n", round, GetLastError());
        return 1;
    }
    if (GetModuleHandleW(dll_path) != NULL) {
        printf("round %d: the DLL is still loaded after FreeLibrary\n", round);
        return 1;
    }
    if (round == 1 && which == GET_ID)
        strcpy(computer_id, text);
    else if (round == 1 && which == GET_APP_ID)
        strcpy(application_id, text);
    else if (round == 1 && which == GET_VERSION)
        strcpy(version, text);
    else if (round == 1 && which == RESULT_TEXT)
        strcpy(result_text, text);
    if (result != IDROVAN_OK || strcmp(text, expected_text(which)) != 0 ||
        (which != VERIFY_ID && which != VERIFY_APP_ID && which != VERIFY_LICENCE &&
         text[0] == '\0')) {
        printf("round %d: %s%s answered %d '%s'\n", round, call_names[which],
               which == GET_ID_READ_ONLY ? " (read-only)" : "", result, text);
        return 1;
    }
    return 0;
}

static int within(const char* what, double first, double last, double bound) {
    if (last - first > bound || first - last > bound) {
        printf("%s: %.0f after round %d, %.0f at the end (bound %.0f)\n", what, first, FIRST_REPORT,
               last, bound);
        return 0;
    }
    return 1;
}

/* Whether the figures at the end are those after round 100, and the DLL gave back every
   reference to bcrypt.dll it took. */
static int kept_nothing(const struct figures* first, const struct figures* last,
                        int bcrypt_was_loaded) {
    int sound = within("free TLS slots", first->free_tls, last->free_tls, 0);
    sound &= within("handles", first->handles, last->handles, HANDLE_BOUND);
    sound &= within("private bytes", (double)first->private_bytes, (double)last->private_bytes,
                    PRIVATE_BOUND);
    if (first->free_tls == 0 || first->handles == 0 || first->private_bytes == 0) {
        printf("a figure could not be taken\n");
        sound = 0;
    }
    if (!bcrypt_was_loaded && GetModuleHandleW(L"bcrypt.dll") != NULL) {
        printf("bcrypt.dll is still loaded: the DLL kept a reference to it\n");
        sound = 0;
    }
    return sound;
}

int main(int argc, char** argv) {
    static wchar_t path[MAX_PATH];
    int rounds = argc > 3 ? atoi(argv[2]) : 0;
    int report_every = argc > 4 ? atoi(argv[4]) : 1000;
    int measured, round, which, sound = 1, bcrypt_was_loaded = 0;
    struct figures first, now;
    HMODULE bcrypt = NULL;
    if (rounds < 1 || report_every < 1 ||
        MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH) == 0) {
        fprintf(stderr,
                "usage: dll_unload_cycles <idrovan.dll> <rounds> <application> "
                "[report every]\n");
        return 2;
    }
    dll_path = path;
    application = argv[3];
    /* Up to round 100 only the answers count (tests/sdk/run_planted_bcrypt.sh runs one round). */
    measured = rounds > FIRST_REPORT;
    memset(&first, 0, sizeof(first));
    memset(&now, 0, sizeof(now));
    if (measured) {
        /* The system DLLs that idrovan.dll loads stay loaded in the host, as in most hosts:
           Wine 8's loader keeps some hundred bytes of its own for every load and unload of one
           of its DLLs, which would hide what the DLL itself keeps. Whether the DLL gives back
           every reference to bcrypt.dll it takes is checked at the end instead. */
        LoadLibraryW(L"advapi32.dll");
        bcrypt_was_loaded = GetModuleHandleW(L"bcrypt.dll") != NULL;
        bcrypt = LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    for (round = 1; round <= rounds; ++round) {
        for (which = 0; which < CALLS; ++which) {
            if (cycle(round, (enum call)which) != 0)
                return 1;
        }
        if (round == 1)
            printf("first %s %s\n", computer_id, application_id);
        if (measured && (round == FIRST_REPORT || round % report_every == 0 || round == rounds)) {
            now = take_figures();
            print_figures("after", round, &now);
            if (round == FIRST_REPORT)
                first = now;
        }
    }
    if (measured) {
        if (bcrypt != NULL)
            FreeLibrary(bcrypt);
        sound = kept_nothing(&first, &now, bcrypt_was_loaded);
    }
    printf(sound ? "ok\n" : "leaks\n");
    return sound ? 0 : 1;
}
