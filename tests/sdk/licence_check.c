/* licence_check <licence file> <application> <keys> <now|-> <feature|->: one licence checked
   twice, by idrovan.dll's idrovan_verify_licence and by the same check compiled into this
   program from the SDK's source with its Windows services. Prints "dll N compiled N" and, when
   the licence verified, "licence-id ID"; exits 0 when both agree, 1 when they differ, 2 on a
   usage or file error. */
#include <stdio.h>
#include <string.h>

#include "idrovan.h"
#include "idrovan_licence.h"
#include "idrovan_licence_win32.h"

int main(int argc, char** argv) {
    static char text[IDROVAN_MAX_LICENCE + 2];
    idrovan_licence_info from_dll, compiled_in;
    const char *now, *feature;
    size_t size;
    int dll, compiled;
    FILE* file;
    if (argc != 6) {
        fprintf(stderr,
                "usage: licence_check <licence> <application> <keys> <now|-> <feature|->\n");
        return 2;
    }
    file = fopen(argv[1], "rb");
    if (file == NULL) {
        fprintf(stderr, "licence_check: cannot open %s\n", argv[1]);
        return 2;
    }
    size = fread(text, 1, sizeof(text), file);
    fclose(file);
    now = strcmp(argv[4], "-") == 0 ? NULL : argv[4];
    feature = strcmp(argv[5], "-") == 0 ? NULL : argv[5];
    memset(&from_dll, 0, sizeof(from_dll));
    from_dll.size = sizeof(from_dll);
    compiled_in = from_dll;
    dll =
        idrovan_verify_licence(text, (unsigned int)size, argv[2], feature, argv[3], now, &from_dll);
    compiled = idrovan_licence_check(idrovan_licence_windows_services(), text, (unsigned int)size,
                                     argv[2], feature, argv[3], now, &compiled_in);
    printf("dll %d compiled %d\n", dll, compiled);
    if (from_dll.licence_id[0] != '\0')
        printf("licence-id %s\n", from_dll.licence_id);
    return dll == compiled && memcmp(&from_dll, &compiled_in, sizeof(from_dll)) == 0 ? 0 : 1;
}
