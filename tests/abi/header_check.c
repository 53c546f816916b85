/* include/idrovan.h as a strict C89 and as a C++ compiler sees it (check_header.sh). On Windows
   the detail struct's layout is part of the ABI: the same on x64 and x86, 20 bytes, of which
   the first 16 (up to marker) are the struct of 2.2.0.0, whose size the DLL still takes. */
#include "include/idrovan.h"

#define IDROVAN_CHECK(name, condition) typedef char name[(condition) ? 1 : -1]

#if defined(_WIN32)
#include <stddef.h>
IDROVAN_CHECK(detail_size, sizeof(idrovan_detail) == 20);
IDROVAN_CHECK(detail_size_at_0, offsetof(idrovan_detail, size) == 0);
IDROVAN_CHECK(detail_step_at_4, offsetof(idrovan_detail, step) == 4);
IDROVAN_CHECK(detail_status_at_8, offsetof(idrovan_detail, status) == 8);
IDROVAN_CHECK(detail_marker_at_12, offsetof(idrovan_detail, marker) == 12);
IDROVAN_CHECK(detail_marker_key_at_16, offsetof(idrovan_detail, marker_key) == 16);
#endif
IDROVAN_CHECK(id_size, IDROVAN_ID_SIZE == IDROVAN_ID_LENGTH + 1);
/* The version macros are numbers the preprocessor can compare. */
#if IDROVAN_VERSION_MAJOR < 2 || IDROVAN_VERSION_MINOR < 0 || IDROVAN_VERSION_PATCH < 0
#error "the version macros are not numbers"
#endif

/* Each function's type as the header declares it, taken as a pointer of the caller's own. */
int check_declarations(void) {
    int(IDROVAN_CALL * get_id)(unsigned int, char*, unsigned int, unsigned int*, idrovan_detail*) =
        idrovan_get_computer_id;
    int(IDROVAN_CALL * get_application_id)(const char*, unsigned int, char*, unsigned int,
                                           unsigned int*, idrovan_detail*) =
        idrovan_get_application_id;
    int(IDROVAN_CALL * verify)(const char*, idrovan_detail*) = idrovan_verify_computer_id;
    int(IDROVAN_CALL * verify_application)(const char*, const char*, idrovan_detail*) =
        idrovan_verify_application_id;
    int(IDROVAN_CALL * get_version)(char*, unsigned int, unsigned int*) = idrovan_get_version;
    const char*(IDROVAN_CALL * result_text)(int) = idrovan_result_text;
    return get_id != 0 && get_application_id != 0 && verify != 0 && verify_application != 0 &&
           get_version != 0 && result_text != 0;
}
