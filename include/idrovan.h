/* idrovan.h: the C API of idrovan.dll, the computer ID inside a program of one's own.

   The DLL derives the same ID as idrovan.exe and idrovan-cli.exe, through the same code: 32
   lowercase hexadecimal digits that stay the same for as long as the system drive and the
   installation marker do, and an application's own ID for this computer (idrovan-cli
   --app-specific). Ship idrovan.dll beside your own executable; never put it into a system folder.

   Calling convention: every function is __cdecl (IDROVAN_CALL), on x64 and x86 alike, and is
   exported under its plain name, without decoration: GetProcAddress(module,
   "idrovan_verify_computer_id"), C#'s DllImport with CallingConvention.Cdecl and Python's
   ctypes.CDLL find it as written here.

   Threads: every function may be called from any thread at any time, also at once; nothing is
   kept between calls or after FreeLibrary, so a program may load and free the DLL as often as
   it likes. Loading it runs only the C runtime's own start-up, none of the DLL's code: no
   DllMain, TLS callback, exception handler or static constructor of its own. It imports only
   KERNEL32, ADVAPI32 and msvcrt, and loads bcrypt.dll from System32 alone for the duration of a
   call that computes an application ID or checks a licence's signature. Two callers that write a
   missing marker at the same moment, in one process or in two, end up with one marker and one ID.

   Buffers: every text goes into a buffer that the caller passes with its size in bytes. A buffer
   too small for the text and its terminator gets IDROVAN_BAD_ARGUMENT, *needed (when needed is
   not null) set to the size it takes, and nothing written past its size. Whenever a call gives
   no text, a buffer of at least one byte holds an empty text, except after a call refused for
   overlapping arguments (below), which leaves every buffer untouched.

   Inputs and outputs never share memory (since 2.3): a call whose id, version, needed or detail
   overlaps another of its arguments (the application's name, the ID to verify, or another
   output) gets IDROVAN_BAD_ARGUMENT and writes nothing at all.

   Application names are UTF-8 (since 2.3; 2.2 took any non-empty text): 1 to
   IDROVAN_MAX_APPLICATION_NAME bytes of valid UTF-8 without a control character (U+0000-U+001F,
   U+007F-U+009F); anything else gets IDROVAN_BAD_ARGUMENT. idrovan-cli --app-specific hashes the
   UTF-8 of its argument, so a name gives one ID in both.

   Waiting: a read-write call (flags 0) that must write a missing marker may wait up to 10 s for
   the marker lock, which another program deriving at the same moment holds; read-only calls
   (IDROVAN_READ_ONLY, both verify functions) never wait. Never call a function of this DLL from
   a DllMain or anything else that runs under the loader lock.

   When the ID changes: it stays the same until the system drive is formatted or replaced (a new
   volume), Windows is reinstalled, or the installation marker is deleted or renewed
   (idrovan-cli --new-marker) and a new one written. A program that binds a licence to the ID
   should then ask for re-activation rather than refuse to run, and may keep the ID it last got
   (for instance to work offline) but should compare it with a fresh call on each start.

   Compatibility: within a major version no function is removed, no result code or flag changes
   its meaning, and idrovan_detail grows only at its end, behind its size field. Later 2.x
   versions may add result codes, steps and marker states: treat an unknown one as a failure
   (idrovan_result_text gives a text for it). What a version added is marked "since 2.3" and so
   on: a DLL of an older version lacks it (a 2.2 DLL has no idrovan_result_text and refuses
   today's idrovan_detail), so a program that may load an older DLL compares
   idrovan_get_version's numbers before it relies on such a part. Plain C89 and C++; nothing
   here needs more than the C compiler's own headers. */
#ifndef IDROVAN_H
#define IDROVAN_H

#if defined(_WIN32)
#define IDROVAN_CALL __cdecl
#else
#define IDROVAN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header, the DLL's first three numbers (idrovan_get_version gives all four
   of the DLL actually loaded). Since 2.3. Set with the file VERSION by scripts/set-version.sh. */
#define IDROVAN_VERSION_MAJOR 2
#define IDROVAN_VERSION_MINOR 3
#define IDROVAN_VERSION_PATCH 0

/* Result codes: the exit codes of idrovan-cli, with the same meanings. */
/* An ID was given, or the ID verified is this computer's (or the application's). */
#define IDROVAN_OK 0
/* Verify: the ID is not this computer's (or the application's). */
#define IDROVAN_NO_MATCH 1
/* A null pointer, an application name that is not one (empty, not UTF-8, a control character,
   too long), a malformed ID, an unknown flag, a detail of unknown size, a short buffer or
   buffers that overlap: nothing was derived and nothing written to the registry. */
#define IDROVAN_BAD_ARGUMENT 2
/* The account may not read the installation marker, or there is none and the account may not
   write one (that takes an administrator; the marker lock refuses other accounts). With flags 0 a
   standard user gets the ID wherever a marker exists. */
#define IDROVAN_NO_RIGHTS 3
/* Read-only, and there is no installation marker yet; one call without IDROVAN_READ_ONLY by an
   administrator (or idrovan-cli --first-run, from any console) writes it. */
#define IDROVAN_NO_MARKER 4
/* Anything else: the detail names the step that failed. */
#define IDROVAN_FAILURE 6

/* Since 2.3, idrovan_verify_licence alone (docs/licence.md): */
/* The licence is not one: its grammar, a field, a time off the calendar, a size over
   IDROVAN_MAX_LICENCE, a NUL, a lone CR, or anything after the signature line. Refused even when
   validly signed. */
#define IDROVAN_MALFORMED 7
/* No trusted key of that key id, or the signature does not verify, or its s is above n/2. */
#define IDROVAN_NOT_SIGNED 8
/* The licence's not-before is still ahead, or the clock is more than a day behind its issued. */
#define IDROVAN_NOT_YET_VALID 9
/* The licence's not-after has passed. */
#define IDROVAN_EXPIRED 10
/* The licence is valid but does not list the feature asked for. */
#define IDROVAN_NO_FEATURE 11

/* Flags. 0: read first, as idrovan-cli: the marker is read with read access, and only a missing
   one is written (under the marker lock, with full access). Pass 0 from a program that standard
   users run: they get the ID wherever a marker exists. Read first since 2.3. */
#define IDROVAN_READ_ONLY 1u /* as idrovan-cli --no-write: reads, never writes */

/* An ID's length: 32 digits; its buffer takes IDROVAN_ID_SIZE bytes with the terminator. */
#define IDROVAN_ID_LENGTH 32
#define IDROVAN_ID_SIZE 33

/* The longest application name, in bytes of UTF-8 without the terminator. Since 2.3. */
#define IDROVAN_MAX_APPLICATION_NAME 1024

/* The step that stopped a derivation (idrovan-cli --json's error.step in brackets). */
#define IDROVAN_STEP_NONE 0              /* nothing failed */
#define IDROVAN_STEP_WINDOWS_DIRECTORY 1 /* (windows_directory) */
#define IDROVAN_STEP_VOLUME 2            /* (volume) the system volume's serial number */
#define IDROVAN_STEP_ROOT_CREATED 3      /* (root_created) the system drive root's time */
#define IDROVAN_STEP_MARKER_KEY 4        /* (marker_key) the marker's registry key */
#define IDROVAN_STEP_MARKER_VALUE 5      /* (marker_value) no usable marker in the key */
#define IDROVAN_STEP_MARKER_WRITE 6      /* (marker_write) */
#define IDROVAN_STEP_MEMORY 7            /* (memory) out of memory */
#define IDROVAN_STEP_MARKER_LOCK 8       /* (marker_lock) busy; 5: run as administrator */
#define IDROVAN_STEP_MARKER_RANDOM 9     /* (marker_random) the system's random source */
#define IDROVAN_STEP_APPLICATION_ID 10   /* (application_id) the system's HMAC-SHA256 */
#define IDROVAN_STEP_SIGNATURE 11        /* the system's ECDSA (since 2.3) */

/* The installation marker after the call. */
#define IDROVAN_MARKER_MISSING 0  /* none could be read */
#define IDROVAN_MARKER_PRESENT 1  /* stored before this call, and used */
#define IDROVAN_MARKER_CREATED 2  /* this call wrote it */
#define IDROVAN_MARKER_UNUSABLE 3 /* a stored value too long to use; kept as it is */

/* The marker key's owner and DACL (detail.marker_key), since 2.3. A loose key still gives its ID,
   since refusing would take it away from every machine whose key was loosened by other software or
   by mistake; a program that binds something of value to the ID decides what a loose key means. */
#define IDROVAN_MARKER_KEY_NOT_READ 0 /* no key was opened */
/* Only SYSTEM, the Administrators group and TrustedInstaller may change the key. */
#define IDROVAN_MARKER_KEY_TRUSTED 1
/* Another account may write, delete or re-ACL the key, or owns it: that account could have
   chosen the marker, and so this ID. idrovan-cli --new-marker (run by an administrator) resets
   the key's security, and gives a new ID. */
#define IDROVAN_MARKER_KEY_LOOSE 2
#define IDROVAN_MARKER_KEY_UNKNOWN 3 /* its owner and DACL could not be read */

/* Why there is no ID. Optional: pass null, or set size to sizeof(idrovan_detail) first; a size
   the DLL does not know gets IDROVAN_BAD_ARGUMENT. Filled in by every call that derives,
   whatever its result; never holds the marker or the facts the ID is made of. Since 2.3 the
   struct ends with marker_key and is 20 bytes; a DLL of 2.2 takes only the 16 bytes up to and
   including marker, and refuses 20. A 2.3 DLL still accepts the 16-byte struct: such a detail
   gets every field but marker_key. */
typedef struct idrovan_detail {
    unsigned int size; /* set by the caller: sizeof(idrovan_detail) */
    int step;          /* IDROVAN_STEP_*; IDROVAN_STEP_NONE with an ID */
    long status;       /* the failed step's Windows status (5: access denied), or 0 */
    int marker;        /* IDROVAN_MARKER_* */
    int marker_key;    /* IDROVAN_MARKER_KEY_*; since 2.3 */
} idrovan_detail;

/* This computer's ID into id (id_size bytes, IDROVAN_ID_SIZE needed). flags: 0 or
   IDROVAN_READ_ONLY. IDROVAN_OK, or IDROVAN_NO_RIGHTS, IDROVAN_NO_MARKER (read-only),
   IDROVAN_FAILURE, IDROVAN_BAD_ARGUMENT. */
int IDROVAN_CALL idrovan_get_computer_id(unsigned int flags, char* id, unsigned int id_size,
                                         unsigned int* needed, idrovan_detail* detail);

/* The ID of the application named application (UTF-8, as above; its bytes count, so use one
   spelling for good: the same letters in another Unicode normal form are another name) on this
   computer: what idrovan-cli --app-specific prints, and what the vendor's server computes from
   the computer ID. Send a vendor this ID, not the computer's: it cannot be matched with another
   application's ID. Flags and results as above. */
int IDROVAN_CALL idrovan_get_application_id(const char* application, unsigned int flags, char* id,
                                            unsigned int id_size, unsigned int* needed,
                                            idrovan_detail* detail);

/* Is id (32 hexadecimal digits, either case) this computer's ID? Read-only. IDROVAN_OK or
   IDROVAN_NO_MATCH, or why there is no answer. */
int IDROVAN_CALL idrovan_verify_computer_id(const char* id, idrovan_detail* detail);

/* Is id this computer's ID for the application? Read-only, as above. */
int IDROVAN_CALL idrovan_verify_application_id(const char* application, const char* id,
                                               idrovan_detail* detail);

/* Since 2.3: offline licences (docs/licence.md). */

/* The largest licence, in bytes, and the most trusted keys one call takes. */
#define IDROVAN_MAX_LICENCE 8192
#define IDROVAN_MAX_PUBLIC_KEYS 8

/* What a licence says: filled in only once its signature has verified, so nothing unsigned ever
   comes back; before that (and for any result before the signature) every field is empty or 0.
   Optional: pass null, or set size to sizeof(idrovan_licence_info) first; a size the DLL does not
   know gets IDROVAN_BAD_ARGUMENT. Texts are UTF-8 with a terminator; an absent field is empty. */
typedef struct idrovan_licence_info {
    unsigned int size; /* set by the caller: sizeof(idrovan_licence_info) */
    char key_id[33];   /* the trusted key that signed it */
    char licence_id[65];
    char product[129];
    char licensee[129];
    char application_id[33]; /* the ID the licence is bound to */
    char features[257];      /* tokens separated by one space */
    char issued[21];         /* YYYY-MM-DDTHH:MM:SSZ */
    char not_before[21];
    char not_after[21]; /* a time, or "permanent" */
    char renew_after[21];
    int renewal_due; /* 1: renew-after has passed (reported, never enforced) */
    int step;        /* the application ID's derivation, as in idrovan_detail */
    long status;
    int marker;
} idrovan_licence_info;

/* Is licence (licence_size bytes of UTF-8, a NUL not allowed) a valid licence for application on
   this computer, signed by one of public_keys, and (when feature is not null) does it grant
   feature? public_keys: one or more "key-id:<128 hexadecimal digits, X||Y>", separated by spaces,
   commas or line breaks, at most IDROVAN_MAX_PUBLIC_KEYS, so that a program lists its old and new
   key during a rotation. now: null for the system clock (UTC), or a time YYYY-MM-DDTHH:MM:SSZ for
   tests. Read-only and without state; never waits for the marker lock.

   Checks, in this order, each result final: the arguments (IDROVAN_BAD_ARGUMENT); the grammar
   (IDROVAN_MALFORMED); the key id, the signature's range and low S, the signature
   (IDROVAN_NOT_SIGNED, or IDROVAN_FAILURE with step IDROVAN_STEP_SIGNATURE); then info is
   filled in; the application's name, byte for byte (IDROVAN_NO_MATCH); the application ID derived
   read-only (IDROVAN_NO_MARKER, IDROVAN_NO_RIGHTS, IDROVAN_FAILURE pass through; another ID is
   IDROVAN_NO_MATCH); the time (IDROVAN_NOT_YET_VALID, IDROVAN_EXPIRED); the feature
   (IDROVAN_NO_FEATURE). IDROVAN_OK: all held. */
int IDROVAN_CALL idrovan_verify_licence(const char* licence, unsigned int licence_size,
                                        const char* application, const char* feature,
                                        const char* public_keys, const char* now,
                                        idrovan_licence_info* info);

/* The DLL's version, "a.b.c.d" (at most 24 bytes with the terminator), into version.
   IDROVAN_OK or IDROVAN_BAD_ARGUMENT. */
int IDROVAN_CALL idrovan_get_version(char* version, unsigned int version_size,
                                     unsigned int* needed);

/* A short English text for a result code, such as "no rights to the installation marker", for a
   log; a text for codes this version does not know too. Static: never null, never to be freed.
   Since 2.3. */
const char* IDROVAN_CALL idrovan_result_text(int result);

#ifdef __cplusplus
}
#endif

#endif /* IDROVAN_H */
