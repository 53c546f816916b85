/* idrovan_licence.h: the licence check of idrovan_verify_licence as source, to compile into a
   program of one's own (docs/licence.md gives the format).

   idrovan.dll's idrovan_verify_licence is this very file with the DLL's own services: the
   signature checked by Windows' CNG (bcrypt.dll loaded from System32), the application ID derived
   read-only, the system clock. A program that would rather not trust a DLL that anyone can replace
   compiles idrovan_licence.c itself and passes its own services; the checks, their order and the
   result codes are the same (include/idrovan.h).

   Threads and state: none. idrovan_licence_check keeps nothing, writes nothing but the info
   struct, and calls the services from the calling thread only. Plain C99; needs include/idrovan.h
   beside it. */
#ifndef IDROVAN_LICENCE_H
#define IDROVAN_LICENCE_H

#include <stddef.h>

#include "idrovan.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What verify_signature answers. */
#define IDROVAN_LICENCE_SIGNATURE_VALID 0
#define IDROVAN_LICENCE_SIGNATURE_INVALID 1
#define IDROVAN_LICENCE_SIGNATURE_BAD_KEY 2 /* the key is not a point of P-256 */
#define IDROVAN_LICENCE_SIGNATURE_FAILURE 3 /* the cryptography could not be used */

/* The sizes of an uncompressed P-256 public key (X||Y) and of a signature (r||s). */
#define IDROVAN_LICENCE_KEY_BYTES 64
#define IDROVAN_LICENCE_SIGNATURE_BYTES 64

typedef struct idrovan_licence_services {
    void* context; /* passed back to each service */
    /* ECDSA P-256 with SHA-256 over message_size bytes at message. The check has already made
       sure that both r and s lie in [1, n-1] and s in [1, n/2]. */
    int (*verify_signature)(void* context, const unsigned char* message, size_t message_size,
                            const unsigned char* public_key, const unsigned char* signature);
    /* The application's ID on this computer, read-only: IDROVAN_OK with 32 lowercase digits and
       a terminator in id (IDROVAN_ID_SIZE bytes), or the derivation's result code. step, status
       and marker are as in idrovan_detail; all three are never null. */
    int (*get_application_id)(void* context, const char* application, char* id, int* step,
                              long* status, int* marker);
    /* The current UTC time as seconds since 1970-01-01T00:00:00Z; 0 when it cannot be read. */
    int (*get_time)(void* context, long long* seconds);
} idrovan_licence_services;

/* idrovan_verify_licence over the services given: the same arguments, checks and results. */
int idrovan_licence_check(const idrovan_licence_services* services, const char* licence,
                          unsigned int licence_size, const char* application, const char* feature,
                          const char* public_keys, const char* now, idrovan_licence_info* info);

/* A time of the licence format (YYYY-MM-DDTHH:MM:SSZ, exactly 20 bytes, on the calendar) as
   seconds since 1970; 0 when text is not one. For the programs' own "now" arguments. */
int idrovan_licence_parse_time(const char* text, size_t length, long long* seconds);

#ifdef __cplusplus
}
#endif

#endif /* IDROVAN_LICENCE_H */
