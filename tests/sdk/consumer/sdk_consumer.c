/* One call of the C API per run, its result code first on the line:
     sdk_consumer id [ro]                 result, ID, step, status, marker
     sdk_consumer app NAME [ro]           the same for the application NAME
     sdk_consumer app-hex HEX [ro]        the same for the name of these bytes (any bytes: the
                                          command line cannot carry every byte sequence)
     sdk_consumer verify ID               result
     sdk_consumer verify-app NAME ID      result
     sdk_consumer version                 result, version
     sdk_consumer bad-arguments           every refused call of the table; "ok" when all were
   Exits with the call's result code (bad-arguments: 0 when every case held). */
#include <stdio.h>
#include <string.h>

#include <idrovan.h>

static int failures = 0;

static void expect(int condition, const char* what, unsigned int size) {
    if (!condition) {
        printf("FAIL: %s (size %u)\n", what, size);
        ++failures;
    }
}

static int print_id(int result, const char* id, const idrovan_detail* detail) {
    printf("%d %s step=%d status=%ld marker=%d\n", result, id[0] ? id : "-", detail->step,
           detail->status, detail->marker);
    return result;
}

/* Every short buffer from 0 bytes to one short of IDROVAN_ID_SIZE: refused, the size needed
   given, nothing written past the buffer; then nulls, empty names, malformed IDs, unknown flags
   and details of unknown size. Run before any marker exists: none of them may make one. */
static int bad_arguments(void) {
    static const char* const malformed[] = {"",
                                            "1d7f953db6e0a9ab13df78aa1db9f3b",
                                            "1d7f953db6e0a9ab13df78aa1db9f3b80",
                                            "1d7f953db6e0a9ab13df78aa1db9f3bg",
                                            "1d7f953db6e0a9ab13df78aa1db9f3b\xe9",
                                            "{1d7f953d-b6e0-a9ab-13df-78aa1db9f3b8}"};
    static const unsigned int odd_sizes[] = {0, 4, sizeof(idrovan_detail) - 1,
                                             sizeof(idrovan_detail) + 4, 0xFFFFFFFFu};
    static const unsigned int bad_flags[] = {2u, 0x80000000u, 0xFFFFFFFFu};
    char buffer[IDROVAN_ID_SIZE + 8];
    unsigned int size, needed, i, j;
    idrovan_detail detail;
    int app;
    for (app = 0; app < 2; ++app) {
        for (size = 0; size < IDROVAN_ID_SIZE; ++size) {
            memset(buffer, 'Z', sizeof(buffer));
            needed = 0;
            expect((app ? idrovan_get_application_id("Vendor A", 0, buffer, size, &needed, NULL)
                        : idrovan_get_computer_id(0, buffer, size, &needed, NULL)) ==
                       IDROVAN_BAD_ARGUMENT,
                   "short buffer refused", size);
            expect(needed == IDROVAN_ID_SIZE, "size needed given", size);
            for (i = 0; i < sizeof(buffer); ++i)
                expect(buffer[i] == (i == 0 && size > 0 ? '\0' : 'Z'), "no byte past it", size);
        }
        for (i = 0; i < sizeof(bad_flags) / sizeof(bad_flags[0]); ++i)
            expect((app ? idrovan_get_application_id("Vendor A", bad_flags[i], buffer,
                                                     sizeof(buffer), NULL, NULL)
                        : idrovan_get_computer_id(bad_flags[i], buffer, sizeof(buffer), NULL,
                                                  NULL)) == IDROVAN_BAD_ARGUMENT,
                   "unknown flag", bad_flags[i]);
        for (i = 0; i < sizeof(odd_sizes) / sizeof(odd_sizes[0]); ++i) {
            detail.size = odd_sizes[i];
            expect((app ? idrovan_get_application_id("Vendor A", 0, buffer, sizeof(buffer), NULL,
                                                     &detail)
                        : idrovan_get_computer_id(0, buffer, sizeof(buffer), NULL, &detail)) ==
                       IDROVAN_BAD_ARGUMENT,
                   "detail of unknown size", odd_sizes[i]);
            expect(idrovan_verify_computer_id("1d7f953db6e0a9ab13df78aa1db9f3b8", &detail) ==
                       IDROVAN_BAD_ARGUMENT,
                   "verify: detail of unknown size", odd_sizes[i]);
        }
        expect((app ? idrovan_get_application_id("Vendor A", 0, NULL, 64, &needed, NULL)
                    : idrovan_get_computer_id(0, NULL, 64, &needed, NULL)) == IDROVAN_BAD_ARGUMENT,
               "null buffer", 64);
    }
    expect(idrovan_get_application_id(NULL, 0, buffer, sizeof(buffer), NULL, NULL) ==
               IDROVAN_BAD_ARGUMENT,
           "null application", 0);
    expect(idrovan_get_application_id("", 0, buffer, sizeof(buffer), NULL, NULL) ==
               IDROVAN_BAD_ARGUMENT,
           "empty application", 0);
    expect(idrovan_verify_application_id(NULL, "1d7f953db6e0a9ab13df78aa1db9f3b8", NULL) ==
               IDROVAN_BAD_ARGUMENT,
           "verify: null application", 0);
    expect(idrovan_verify_application_id("", "1d7f953db6e0a9ab13df78aa1db9f3b8", NULL) ==
               IDROVAN_BAD_ARGUMENT,
           "verify: empty application", 0);
    expect(idrovan_verify_computer_id(NULL, NULL) == IDROVAN_BAD_ARGUMENT, "verify: null ID", 0);
    for (j = 0; j < sizeof(malformed) / sizeof(malformed[0]); ++j) {
        expect(idrovan_verify_computer_id(malformed[j], NULL) == IDROVAN_BAD_ARGUMENT,
               "verify: malformed ID", j);
        expect(
            idrovan_verify_application_id("Vendor A", malformed[j], NULL) == IDROVAN_BAD_ARGUMENT,
            "verify-app: malformed ID", j);
    }
    /* Buffers that overlap: refused, and not one byte written. */
    memset(buffer, 'Z', sizeof(buffer));
    expect(idrovan_get_computer_id(0, buffer, IDROVAN_ID_SIZE, (unsigned int*)(buffer + 8), NULL) ==
               IDROVAN_BAD_ARGUMENT,
           "needed inside the ID buffer", 8);
    for (i = 0; i < sizeof(buffer); ++i)
        expect(buffer[i] == 'Z', "nothing written to overlapping buffers", i);
    {
        char name[] = "Vendor A";
        expect(idrovan_get_application_id(name, 0, name, IDROVAN_ID_SIZE, NULL, NULL) ==
                       IDROVAN_BAD_ARGUMENT &&
                   strcmp(name, "Vendor A") == 0,
               "the ID buffer over the name", 0);
    }
    /* Names that are not UTF-8, hold a control character or are too long. */
    {
        static const char* const names[] = {"Caf\xe9", "Vendor\tA", "\xc2\x85", "\xed\xa0\x80",
                                            "\xc0\xaf"};
        char long_name[IDROVAN_MAX_APPLICATION_NAME + 2];
        memset(long_name, 'n', sizeof(long_name) - 1);
        long_name[sizeof(long_name) - 1] = '\0';
        for (j = 0; j < sizeof(names) / sizeof(names[0]); ++j)
            expect(idrovan_get_application_id(names[j], 0, buffer, sizeof(buffer), NULL, NULL) ==
                       IDROVAN_BAD_ARGUMENT,
                   "not a name", j);
        expect(idrovan_get_application_id(long_name, 0, buffer, sizeof(buffer), NULL, NULL) ==
                   IDROVAN_BAD_ARGUMENT,
               "a name too long", sizeof(long_name) - 1);
    }
    /* A text for every code, known or not. */
    for (j = 0; j < 9; ++j)
        expect(idrovan_result_text((int)j - 1) != NULL && idrovan_result_text((int)j - 1)[0] != 0,
               "a result text", j);
    for (size = 0; size < 8; ++size) {
        memset(buffer, 'Z', sizeof(buffer));
        expect(idrovan_get_version(buffer, size, &needed) == IDROVAN_BAD_ARGUMENT &&
                   buffer[size] == 'Z',
               "short version buffer", size);
    }
    if (failures == 0)
        printf("ok\n");
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    char id[IDROVAN_ID_SIZE] = "";
    unsigned int needed = 0;
    idrovan_detail detail;
    const char* command = argc > 1 ? argv[1] : "";
    detail.size = sizeof(detail);
    if (strcmp(command, "id") == 0)
        return print_id(idrovan_get_computer_id(argc > 2 ? IDROVAN_READ_ONLY : 0, id, sizeof(id),
                                                &needed, &detail),
                        id, &detail);
    if (strcmp(command, "app") == 0 && argc > 2)
        return print_id(idrovan_get_application_id(argv[2], argc > 3 ? IDROVAN_READ_ONLY : 0, id,
                                                   sizeof(id), &needed, &detail),
                        id, &detail);
    if (strcmp(command, "app-hex") == 0 && argc > 2) {
        char name[4096];
        size_t length = strlen(argv[2]) / 2, k;
        unsigned int byte;
        if (length >= sizeof(name))
            return 100;
        for (k = 0; k < length; ++k) {
            if (sscanf(argv[2] + 2 * k, "%2x", &byte) != 1)
                return 100;
            name[k] = (char)byte;
        }
        name[length] = '\0';
        return print_id(idrovan_get_application_id(name, argc > 3 ? IDROVAN_READ_ONLY : 0, id,
                                                   sizeof(id), &needed, &detail),
                        id, &detail);
    }
    if (strcmp(command, "verify") == 0 && argc > 2) {
        int result = idrovan_verify_computer_id(argv[2], &detail);
        printf("%d\n", result);
        return result;
    }
    if (strcmp(command, "verify-app") == 0 && argc > 3) {
        int result = idrovan_verify_application_id(argv[2], argv[3], &detail);
        printf("%d\n", result);
        return result;
    }
    if (strcmp(command, "version") == 0) {
        char version[24];
        int result = idrovan_get_version(version, sizeof(version), &needed);
        printf("%d %s\n", result, result == IDROVAN_OK ? version : "-");
        return result;
    }
    if (strcmp(command, "bad-arguments") == 0)
        return bad_arguments();
    fprintf(stderr, "usage: sdk_consumer id|app|app-hex|verify|verify-app|version|bad-arguments ...\n");
    return 100;
}
