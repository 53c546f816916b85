/* sdk_loader <version>: idrovan.dll loaded by name and its functions found by their plain names,
   as C#'s P/Invoke, Python's ctypes and scripting hosts find them. Prints the read-only ID and
   exits 0 when every export is found and the version is the one expected. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <idrovan.h>

typedef int(IDROVAN_CALL* get_id_fn)(unsigned int, char*, unsigned int, unsigned int*,
                                     idrovan_detail*);
typedef int(IDROVAN_CALL* get_version_fn)(char*, unsigned int, unsigned int*);
typedef int(IDROVAN_CALL* verify_fn)(const char*, idrovan_detail*);

int main(int argc, char** argv) {
    static const char* const names[] = {
        "idrovan_get_computer_id",       "idrovan_get_application_id", "idrovan_verify_computer_id",
        "idrovan_verify_application_id", "idrovan_get_version",        "idrovan_verify_licence"};
    HMODULE module = LoadLibraryA("idrovan.dll");
    char id[IDROVAN_ID_SIZE] = "";
    char version[24] = "";
    get_id_fn get_id;
    get_version_fn get_version;
    verify_fn verify;
    unsigned int i;
    int result;
    if (module == NULL) {
        printf("LoadLibrary failed: %lu\n", GetLastError());
        return 100;
    }
    for (i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        if (GetProcAddress(module, names[i]) == NULL) {
            printf("GetProcAddress(%s) failed\n", names[i]);
            return 101;
        }
    }
    get_id = (get_id_fn)(void (*)(void))GetProcAddress(module, "idrovan_get_computer_id");
    get_version = (get_version_fn)(void (*)(void))GetProcAddress(module, "idrovan_get_version");
    verify = (verify_fn)(void (*)(void))GetProcAddress(module, "idrovan_verify_computer_id");
    if (get_version(version, sizeof(version), NULL) != IDROVAN_OK ||
        (argc > 1 && strcmp(version, argv[1]) != 0)) {
        printf("version %s\n", version);
        return 102;
    }
    result = get_id(IDROVAN_READ_ONLY, id, sizeof(id), NULL, NULL);
    printf("%d %s\n", result, id[0] ? id : "-");
    if (result == IDROVAN_OK && verify(id, NULL) != IDROVAN_OK)
        return 103;
    FreeLibrary(module);
    return result;
}
