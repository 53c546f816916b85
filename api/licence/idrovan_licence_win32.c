/* Services for idrovan_licence_check in a Windows program of one's own (docs/licence.md): the
   signature by CNG with bcrypt.dll loaded from System32 only, the application ID from
   idrovan.dll read-only, and the system clock in UTC. idrovan.dll itself does not use this file;
   its own services sit on the same CNG calls behind its System32 loader.

   Link with idrovan.dll's import library. Each call loads bcrypt.dll and frees it again: nothing
   is kept between calls. */
#include "idrovan_licence_win32.h"

#include <windows.h>
/* windows.h first: bcrypt.h relies on its types. */
#include <bcrypt.h>

#include <string.h>

typedef NTSTATUS(WINAPI* open_fn)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
typedef NTSTATUS(WINAPI* close_fn)(BCRYPT_ALG_HANDLE, ULONG);
typedef NTSTATUS(WINAPI* hash_fn)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);
typedef NTSTATUS(WINAPI* import_fn)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR,
                                    BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI* verify_fn)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI* destroy_fn)(BCRYPT_KEY_HANDLE);

/* bcrypt.dll is no KnownDLL: by name alone it would be looked for beside the program first. */
static HMODULE load_system_bcrypt(void) {
    wchar_t path[MAX_PATH];
    static const wchar_t name[] = L"\\bcrypt.dll";
    UINT length;
    HMODULE module = LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != NULL || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    /* Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag. */
    length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + sizeof(name) / sizeof(name[0]) > MAX_PATH)
        return NULL;
    memcpy(path + length, name, sizeof(name));
    return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

static FARPROC look_up(HMODULE module, const char* name) {
    return GetProcAddress(module, name);
}

static int verify_with(HMODULE module, const unsigned char* message, size_t message_size,
                       const unsigned char* public_key, const unsigned char* signature) {
    open_fn open = (open_fn)(void (*)(void))look_up(module, "BCryptOpenAlgorithmProvider");
    close_fn close = (close_fn)(void (*)(void))look_up(module, "BCryptCloseAlgorithmProvider");
    hash_fn hash = (hash_fn)(void (*)(void))look_up(module, "BCryptHash");
    import_fn import = (import_fn)(void (*)(void))look_up(module, "BCryptImportKeyPair");
    verify_fn verify = (verify_fn)(void (*)(void))look_up(module, "BCryptVerifySignature");
    destroy_fn destroy = (destroy_fn)(void (*)(void))look_up(module, "BCryptDestroyKey");
    BCRYPT_ALG_HANDLE sha256 = NULL, ecdsa = NULL;
    BCRYPT_KEY_HANDLE key = NULL;
    unsigned char digest[32], blob[sizeof(BCRYPT_ECCKEY_BLOB) + IDROVAN_LICENCE_KEY_BYTES];
    unsigned char copy[IDROVAN_LICENCE_SIGNATURE_BYTES];
    BCRYPT_ECCKEY_BLOB header;
    NTSTATUS status;
    int verdict = IDROVAN_LICENCE_SIGNATURE_FAILURE;
    if (open == NULL || close == NULL || hash == NULL || import == NULL || verify == NULL ||
        destroy == NULL || message_size > 0xFFFFFFFFu)
        return IDROVAN_LICENCE_SIGNATURE_FAILURE;
    /* BCryptHash: Windows 10 and later. */
    if (!BCRYPT_SUCCESS(open(&sha256, BCRYPT_SHA256_ALGORITHM, NULL, 0)))
        return IDROVAN_LICENCE_SIGNATURE_FAILURE;
    status = hash(sha256, NULL, 0, (PUCHAR)message, (ULONG)message_size, digest, sizeof(digest));
    close(sha256, 0);
    if (!BCRYPT_SUCCESS(status) ||
        !BCRYPT_SUCCESS(open(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)))
        return IDROVAN_LICENCE_SIGNATURE_FAILURE;
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = IDROVAN_LICENCE_KEY_BYTES / 2;
    memcpy(blob, &header, sizeof(header));
    memcpy(blob + sizeof(header), public_key, IDROVAN_LICENCE_KEY_BYTES);
    memcpy(copy, signature, sizeof(copy));
    if (!BCRYPT_SUCCESS(import(ecdsa, NULL, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof(blob), 0))) {
        verdict = IDROVAN_LICENCE_SIGNATURE_BAD_KEY;
    } else {
        status = verify(key, NULL, digest, sizeof(digest), copy, sizeof(copy), 0);
        if (BCRYPT_SUCCESS(status))
            verdict = IDROVAN_LICENCE_SIGNATURE_VALID;
        else if (status == (NTSTATUS)0xC000A000L) /* STATUS_INVALID_SIGNATURE */
            verdict = IDROVAN_LICENCE_SIGNATURE_INVALID;
        destroy(key);
    }
    close(ecdsa, 0);
    return verdict;
}

static int verify_signature(void* context, const unsigned char* message, size_t message_size,
                            const unsigned char* public_key, const unsigned char* signature) {
    HMODULE module = load_system_bcrypt();
    int verdict;
    (void)context;
    if (module == NULL)
        return IDROVAN_LICENCE_SIGNATURE_FAILURE;
    verdict = verify_with(module, message, message_size, public_key, signature);
    FreeLibrary(module);
    return verdict;
}

static int get_application_id(void* context, const char* application, char* id, int* step,
                              long* status, int* marker) {
    idrovan_detail detail;
    int result;
    (void)context;
    memset(&detail, 0, sizeof(detail));
    detail.size = sizeof(detail);
    result = idrovan_get_application_id(application, IDROVAN_READ_ONLY, id, IDROVAN_ID_SIZE, NULL,
                                        &detail);
    *step = detail.step;
    *status = detail.status;
    *marker = detail.marker;
    return result;
}

static int get_time(void* context, long long* seconds) {
    FILETIME now;
    ULARGE_INTEGER ticks;
    (void)context;
    GetSystemTimeAsFileTime(&now);
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    /* 100 ns since 1601 to seconds since 1970. */
    *seconds = (long long)((ticks.QuadPart - 116444736000000000ULL) / 10000000ULL);
    return 1;
}

const idrovan_licence_services* idrovan_licence_windows_services(void) {
    static const idrovan_licence_services services = {NULL, verify_signature, get_application_id,
                                                      get_time};
    return &services;
}
