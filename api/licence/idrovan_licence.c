/* The licence check: grammar, key, signature, then what the signed licence says against this
   computer, its clock and the feature asked for. docs/licence.md is the format's reference; the
   order of the checks is include/idrovan.h's.

   Everything the check reads it measures itself before any service sees it: the cryptography
   gets exactly 64 bytes of key and of signature, and a message no longer than the licence,
   because a provider's own length checks have been seen to let a 65-byte signature through. */
#include "idrovan_licence.h"

#include <string.h>

/* The fields of a licence, in the one order they may appear. */
enum {
    FIELD_VERSION,
    FIELD_KEY_ID,
    FIELD_LICENCE_ID,
    FIELD_PRODUCT,
    FIELD_LICENSEE,
    FIELD_APPLICATION,
    FIELD_APPLICATION_ID,
    FIELD_FEATURES,
    FIELD_ISSUED,
    FIELD_NOT_BEFORE,
    FIELD_NOT_AFTER,
    FIELD_RENEW_AFTER,
    FIELD_EXTENSION, /* x-*: signed, any number of distinct names, ignored */
    FIELD_SIGNATURE,
    FIELD_COUNT
};

static const char* const kFieldNames[FIELD_COUNT] = {
    "idrovan-licence", "key-id",         "licence-id", "product",  "licensee",
    "application",     "application-id", "features",   "issued",   "not-before",
    "not-after",       "renew-after",    "x-",         "signature"};

static const int kRequired[FIELD_COUNT] = {1, 1, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1};

/* The longest value of each field with a limit of its own, in bytes; the info struct has room
   for each and its terminator. */
#define MAX_KEY_ID 32
#define MAX_LICENCE_ID 64
#define MAX_NAME 128
#define MAX_FEATURES 256
#define MAX_TOKEN 64
#define TIME_LENGTH 20
#define SIGNATURE_PREFIX "ecdsa-p256-sha256 "
#define SIGNATURE_PREFIX_LENGTH 18
#define SECONDS_PER_DAY 86400LL

typedef struct text_span {
    const char* text;
    size_t length;
} text_span;

typedef struct parsed_licence {
    text_span values[FIELD_COUNT];
    int present[FIELD_COUNT];
    size_t signed_length; /* bytes of the normalised text before the signature line */
    long long issued, not_before, not_after, renew_after;
    int permanent;
    unsigned char signature[IDROVAN_LICENCE_SIGNATURE_BYTES];
} parsed_licence;

typedef struct trusted_key {
    text_span id;
    unsigned char key[IDROVAN_LICENCE_KEY_BYTES];
} trusted_key;

/* The group order n of P-256, and n/2 rounded down: a signature's s above it is the other one
   of the pair (r, s), (r, n - s) that both verify, and is refused so that no second valid file
   can be made from one. */
static const unsigned char kOrder[32] = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};
static const unsigned char kHalfOrder[32] = {
    0x7f, 0xff, 0xff, 0xff, 0x80, 0x00, 0x00, 0x00, 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xde, 0x73, 0x7d, 0x56, 0xd3, 0x8b, 0xcf, 0x42, 0x79, 0xdc, 0xe5, 0x61, 0x7e, 0x31, 0x92, 0xa8};

/* ---- Small pieces of the grammar ---- */

static int is_token_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

/* 1 to nMost token characters: key ids, licence ids and features. */
static int is_token(const char* text, size_t length, size_t most) {
    size_t i;
    if (length == 0 || length > most)
        return 0;
    for (i = 0; i < length; ++i) {
        if (!is_token_char((unsigned char)text[i]))
            return 0;
    }
    return 1;
}

/* Valid UTF-8 without a control character (U+0000-U+001F, U+007F-U+009F): no overlong form, no
   surrogate, nothing above U+10FFFF. The rule the DLL applies to application names. */
static int is_clean_utf8(const char* text, size_t length) {
    const unsigned char* bytes = (const unsigned char*)text;
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = bytes[i];
        unsigned long code;
        size_t extra, k;
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7f)
                return 0;
            ++i;
            continue;
        }
        if (lead >= 0xc2 && lead <= 0xdf) {
            extra = 1;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            extra = 2;
            code = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return 0;
        }
        if (length - i <= extra)
            return 0;
        for (k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xc0) != 0x80)
                return 0;
            code = (code << 6) | (bytes[i + k] & 0x3f);
        }
        if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10ffff ||
            (code >= 0xd800 && code <= 0xdfff) || (code >= 0x80 && code <= 0x9f))
            return 0;
        i += extra + 1;
    }
    return 1;
}

static int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

/* Exactly 2 * size lowercase hexadecimal digits into size bytes. Lowercase only: the signed text
   and the signature line each have one spelling, so no byte of a valid file can change. */
static int decode_hex(const char* text, size_t length, unsigned char* out, size_t size) {
    size_t i;
    if (length != 2 * size)
        return 0;
    for (i = 0; i < size; ++i) {
        const int high = hex_value((unsigned char)text[2 * i]);
        const int low = hex_value((unsigned char)text[2 * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        out[i] = (unsigned char)(high * 16 + low);
    }
    return 1;
}

static int is_lower_hex(const char* text, size_t length) {
    size_t i;
    for (i = 0; i < length; ++i) {
        if (hex_value((unsigned char)text[i]) < 0)
            return 0;
    }
    return 1;
}

static int digits(const char* text, size_t count, int* value) {
    size_t i;
    *value = 0;
    for (i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        *value = *value * 10 + (text[i] - '0');
    }
    return 1;
}

/* Days from 1970-01-01 to a date of the proleptic Gregorian calendar. */
static long long days_from_civil(int year, int month, int day) {
    const int y = year - (month <= 2);
    const int era = y / 400; /* years here are 1970-9999, never negative */
    const int year_of_era = y - era * 400;
    const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return (long long)era * 146097 + day_of_era - 719468;
}

int idrovan_licence_parse_time(const char* text, size_t length, long long* seconds) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year, month, day, hour, minute, second, month_days;
    if (text == NULL || seconds == NULL || length != TIME_LENGTH)
        return 0;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        text[19] != 'Z')
        return 0;
    if (!digits(text, 4, &year) || !digits(text + 5, 2, &month) || !digits(text + 8, 2, &day) ||
        !digits(text + 11, 2, &hour) || !digits(text + 14, 2, &minute) ||
        !digits(text + 17, 2, &second))
        return 0;
    if (year < 1970 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
        return 0;
    month_days = kDays[month - 1];
    if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))
        month_days = 29;
    if (day < 1 || day > month_days)
        return 0;
    *seconds = days_from_civil(year, month, day) * SECONDS_PER_DAY + hour * 3600LL + minute * 60LL +
               second;
    return 1;
}

/* ---- The licence's text ---- */

/* The signed form: one leading BOM removed, each CRLF made LF. 0 for a NUL, a lone CR or a text
   over the limit. out holds IDROVAN_MAX_LICENCE bytes. */
static int normalise(const char* licence, size_t size, char* out, size_t* out_length) {
    size_t i = 0, n = 0;
    if (size > IDROVAN_MAX_LICENCE)
        return 0;
    if (size >= 3 && (unsigned char)licence[0] == 0xef && (unsigned char)licence[1] == 0xbb &&
        (unsigned char)licence[2] == 0xbf)
        i = 3;
    for (; i < size; ++i) {
        if (licence[i] == '\0')
            return 0;
        if (licence[i] == '\r') {
            if (i + 1 >= size || licence[i + 1] != '\n')
                return 0;
            continue;
        }
        out[n++] = licence[i];
    }
    *out_length = n;
    return 1;
}

static int field_of(const char* name, size_t length) {
    int field;
    if (length > 2 && name[0] == 'x' && name[1] == '-') {
        size_t i;
        for (i = 2; i < length; ++i) {
            const char c = name[i];
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
                return -1;
        }
        return FIELD_EXTENSION;
    }
    for (field = 0; field < FIELD_COUNT; ++field) {
        if (field != FIELD_EXTENSION && strlen(kFieldNames[field]) == length &&
            memcmp(kFieldNames[field], name, length) == 0)
            return field;
    }
    return -1;
}

/* Two x- lines of one name would let a reader pick either; a later one is refused. */
static int repeats_extension(const char* text, size_t line_start, size_t name_length) {
    size_t i = 0;
    while (i < line_start) {
        const char* line = text + i;
        const char* end = memchr(line, '\n', line_start - i);
        const size_t length = (size_t)(end - line);
        if (length > name_length && memcmp(line, text + line_start, name_length) == 0 &&
            line[name_length] == ':')
            return 1;
        i += length + 1;
    }
    return 0;
}

static int is_features(const char* text, size_t length) {
    size_t start = 0, i;
    if (length == 0 || length > MAX_FEATURES)
        return 0;
    for (i = 0; i <= length; ++i) {
        if (i == length || text[i] == ' ') {
            if (!is_token(text + start, i - start, MAX_TOKEN))
                return 0;
            start = i + 1;
        }
    }
    return 1;
}

static int is_time_value(const text_span* value, long long* seconds) {
    return idrovan_licence_parse_time(value->text, value->length, seconds);
}

/* Each value on its own terms; times also against each other. */
static int check_values(parsed_licence* parsed) {
    const text_span* v = parsed->values;
    int field;
    for (field = 0; field < FIELD_COUNT; ++field) {
        if (kRequired[field] && !parsed->present[field])
            return 0;
    }
    if (v[FIELD_VERSION].length != 1 || v[FIELD_VERSION].text[0] != '1')
        return 0;
    if (!is_token(v[FIELD_KEY_ID].text, v[FIELD_KEY_ID].length, MAX_KEY_ID) ||
        !is_token(v[FIELD_LICENCE_ID].text, v[FIELD_LICENCE_ID].length, MAX_LICENCE_ID))
        return 0;
    if (parsed->present[FIELD_PRODUCT] && v[FIELD_PRODUCT].length > MAX_NAME)
        return 0;
    if (parsed->present[FIELD_LICENSEE] && v[FIELD_LICENSEE].length > MAX_NAME)
        return 0;
    if (v[FIELD_APPLICATION].length > IDROVAN_MAX_APPLICATION_NAME)
        return 0;
    if (v[FIELD_APPLICATION_ID].length != IDROVAN_ID_LENGTH ||
        !is_lower_hex(v[FIELD_APPLICATION_ID].text, IDROVAN_ID_LENGTH))
        return 0;
    if (parsed->present[FIELD_FEATURES] &&
        !is_features(v[FIELD_FEATURES].text, v[FIELD_FEATURES].length))
        return 0;
    if (!is_time_value(&v[FIELD_ISSUED], &parsed->issued) ||
        !is_time_value(&v[FIELD_NOT_BEFORE], &parsed->not_before))
        return 0;
    parsed->permanent =
        v[FIELD_NOT_AFTER].length == 9 && memcmp(v[FIELD_NOT_AFTER].text, "permanent", 9) == 0;
    if (!parsed->permanent && (!is_time_value(&v[FIELD_NOT_AFTER], &parsed->not_after) ||
                               parsed->not_after <= parsed->not_before))
        return 0;
    if (parsed->present[FIELD_RENEW_AFTER] &&
        !is_time_value(&v[FIELD_RENEW_AFTER], &parsed->renew_after))
        return 0;
    if (v[FIELD_SIGNATURE].length !=
            SIGNATURE_PREFIX_LENGTH + 2 * IDROVAN_LICENCE_SIGNATURE_BYTES ||
        memcmp(v[FIELD_SIGNATURE].text, SIGNATURE_PREFIX, SIGNATURE_PREFIX_LENGTH) != 0)
        return 0;
    return decode_hex(v[FIELD_SIGNATURE].text + SIGNATURE_PREFIX_LENGTH,
                      2 * IDROVAN_LICENCE_SIGNATURE_BYTES, parsed->signature,
                      IDROVAN_LICENCE_SIGNATURE_BYTES);
}

/* The lines of the normalised text: "name: value", in the fields' order, each at most once, the
   signature last and nothing after its line break. */
static int parse_lines(const char* text, size_t length, parsed_licence* parsed) {
    size_t i = 0;
    int last = -1;
    memset(parsed, 0, sizeof(*parsed));
    while (i < length) {
        const char* line = text + i;
        const char* end = memchr(line, '\n', length - i);
        const size_t line_length = end != NULL ? (size_t)(end - line) : length - i;
        const char* colon = memchr(line, ':', line_length);
        size_t name_length, value_length;
        int field;
        if (colon == NULL)
            return 0;
        name_length = (size_t)(colon - line);
        if (name_length + 2 > line_length || colon[1] != ' ')
            return 0;
        value_length = line_length - name_length - 2;
        field = field_of(line, name_length);
        if (field < 0 || field < last || (field == last && field != FIELD_EXTENSION))
            return 0;
        if (field == FIELD_EXTENSION && repeats_extension(text, i, name_length))
            return 0;
        /* Values are non-empty and neither start nor end with a space. */
        if (value_length == 0 || colon[2] == ' ' || colon[1 + value_length] == ' ' ||
            !is_clean_utf8(colon + 2, value_length))
            return 0;
        last = field;
        parsed->present[field] = 1;
        parsed->values[field].text = colon + 2;
        parsed->values[field].length = value_length;
        if (field == FIELD_SIGNATURE) {
            parsed->signed_length = i;
            /* Its own line break at most, and nothing else, may follow. */
            return end == NULL || (size_t)(end - text) + 1 == length;
        }
        if (end == NULL)
            return 0;
        i += line_length + 1;
    }
    return 0;
}

/* ---- The arguments ---- */

static int is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

/* "id:hex" entries; 0 for anything else, a repeated key id, none or too many. */
static int parse_keys(const char* keys, trusted_key* out, int* count) {
    const size_t key_digits = 2 * IDROVAN_LICENCE_KEY_BYTES;
    size_t i = 0;
    *count = 0;
    for (;;) {
        size_t start, colon, j;
        int k;
        while (is_separator(keys[i]))
            ++i;
        if (keys[i] == '\0')
            break;
        if (*count == IDROVAN_MAX_PUBLIC_KEYS)
            return 0;
        start = i;
        while (is_token_char((unsigned char)keys[i]))
            ++i;
        if (keys[i] != ':' || !is_token(keys + start, i - start, MAX_KEY_ID))
            return 0;
        colon = i;
        for (j = 0; j < key_digits && keys[colon + 1 + j] != '\0'; ++j) {
        }
        if (j != key_digits || (keys[colon + 1 + j] != '\0' && !is_separator(keys[colon + 1 + j])))
            return 0;
        if (!decode_hex(keys + colon + 1, key_digits, out[*count].key, IDROVAN_LICENCE_KEY_BYTES))
            return 0;
        out[*count].id.text = keys + start;
        out[*count].id.length = colon - start;
        for (k = 0; k < *count; ++k) {
            if (out[k].id.length == out[*count].id.length &&
                memcmp(out[k].id.text, keys + start, colon - start) == 0)
                return 0;
        }
        ++*count;
        i = colon + 1 + key_digits;
    }
    return *count > 0;
}

/* The length of a text up to its terminator, reading at most most + 1 bytes. */
static size_t bounded_length(const char* text, size_t most) {
    size_t n = 0;
    while (n <= most && text[n] != '\0')
        ++n;
    return n;
}

/* True when the info struct shares a byte with the n bytes at input. */
static int overlaps(const idrovan_licence_info* info, const void* input, size_t n) {
    const char* a = (const char*)info;
    const char* b = (const char*)input;
    if (info == NULL || input == NULL || n == 0)
        return 0;
    /* Compared as integers: the two need not lie in one object. */
    return (size_t)b < (size_t)a + sizeof(*info) && (size_t)a < (size_t)b + n;
}

static int text_overlaps(const idrovan_licence_info* info, const char* text) {
    return text != NULL && overlaps(info, text, bounded_length(text, (size_t)-2) + 1);
}

static int compare_scalar(const unsigned char* a, const unsigned char* b) {
    return memcmp(a, b, 32);
}

static int is_zero(const unsigned char* a) {
    int i;
    for (i = 0; i < 32; ++i) {
        if (a[i] != 0)
            return 0;
    }
    return 1;
}

/* r in [1, n-1] and s in [1, n/2]. */
static int is_low_s_signature(const unsigned char* signature) {
    return !is_zero(signature) && compare_scalar(signature, kOrder) < 0 &&
           !is_zero(signature + 32) && compare_scalar(signature + 32, kHalfOrder) <= 0;
}

static void copy_text(char* out, size_t size, const text_span* value) {
    const size_t n = value->length < size ? value->length : size - 1;
    memcpy(out, value->text, n);
    out[n] = '\0';
}

static void fill_info(const parsed_licence* parsed, idrovan_licence_info* info) {
    const text_span* v = parsed->values;
    copy_text(info->key_id, sizeof(info->key_id), &v[FIELD_KEY_ID]);
    copy_text(info->licence_id, sizeof(info->licence_id), &v[FIELD_LICENCE_ID]);
    if (parsed->present[FIELD_PRODUCT])
        copy_text(info->product, sizeof(info->product), &v[FIELD_PRODUCT]);
    if (parsed->present[FIELD_LICENSEE])
        copy_text(info->licensee, sizeof(info->licensee), &v[FIELD_LICENSEE]);
    copy_text(info->application_id, sizeof(info->application_id), &v[FIELD_APPLICATION_ID]);
    if (parsed->present[FIELD_FEATURES])
        copy_text(info->features, sizeof(info->features), &v[FIELD_FEATURES]);
    copy_text(info->issued, sizeof(info->issued), &v[FIELD_ISSUED]);
    copy_text(info->not_before, sizeof(info->not_before), &v[FIELD_NOT_BEFORE]);
    copy_text(info->not_after, sizeof(info->not_after), &v[FIELD_NOT_AFTER]);
    if (parsed->present[FIELD_RENEW_AFTER])
        copy_text(info->renew_after, sizeof(info->renew_after), &v[FIELD_RENEW_AFTER]);
}

static int has_feature(const text_span* features, const char* feature) {
    const size_t length = strlen(feature);
    size_t start = 0, i;
    for (i = 0; i <= features->length; ++i) {
        if (i == features->length || features->text[i] == ' ') {
            if (i - start == length && memcmp(features->text + start, feature, length) == 0)
                return 1;
            start = i + 1;
        }
    }
    return 0;
}

static void clear_info(idrovan_licence_info* info) {
    const unsigned int size = info->size;
    memset(info, 0, sizeof(*info));
    info->size = size;
}

/* The arguments alone: 0 when the call must be refused. */
static int check_arguments(const idrovan_licence_services* services, const char* licence,
                           const char* application, const char* feature, const char* now) {
    size_t length;
    if (services == NULL || services->verify_signature == NULL ||
        services->get_application_id == NULL || services->get_time == NULL)
        return 0;
    if (licence == NULL || application == NULL)
        return 0;
    length = bounded_length(application, IDROVAN_MAX_APPLICATION_NAME);
    if (length == 0 || length > IDROVAN_MAX_APPLICATION_NAME || !is_clean_utf8(application, length))
        return 0;
    if (feature != NULL && !is_token(feature, bounded_length(feature, MAX_TOKEN), MAX_TOKEN))
        return 0;
    if (now != NULL) {
        long long seconds;
        if (!idrovan_licence_parse_time(now, bounded_length(now, TIME_LENGTH), &seconds))
            return 0;
    }
    return 1;
}

/* True when the info struct shares a byte with an input: such a call writes nothing at all. */
static int info_overlaps(const idrovan_licence_info* info, const char* licence,
                         unsigned int licence_size, const char* application, const char* feature,
                         const char* public_keys, const char* now) {
    return overlaps(info, licence, licence_size) || text_overlaps(info, application) ||
           text_overlaps(info, feature) || text_overlaps(info, public_keys) ||
           text_overlaps(info, now);
}

/* The signature under the trusted key named by the licence. */
static int check_signature(const idrovan_licence_services* services, const trusted_key* keys,
                           int key_count, const char* text, const parsed_licence* parsed,
                           idrovan_licence_info* info) {
    const text_span* key_id = &parsed->values[FIELD_KEY_ID];
    int k;
    for (k = 0; k < key_count; ++k) {
        if (keys[k].id.length == key_id->length &&
            memcmp(keys[k].id.text, key_id->text, key_id->length) == 0)
            break;
    }
    if (k == key_count || !is_low_s_signature(parsed->signature))
        return IDROVAN_NOT_SIGNED;
    switch (services->verify_signature(services->context, (const unsigned char*)text,
                                       parsed->signed_length, keys[k].key, parsed->signature)) {
        case IDROVAN_LICENCE_SIGNATURE_VALID:
            return IDROVAN_OK;
        case IDROVAN_LICENCE_SIGNATURE_INVALID:
        case IDROVAN_LICENCE_SIGNATURE_BAD_KEY:
            /* A key off the curve verifies nothing. Not every provider says so: Wine's CNG was
               seen to import such a key and then refuse the signature. */
            return IDROVAN_NOT_SIGNED;
        default:
            if (info != NULL)
                info->step = IDROVAN_STEP_SIGNATURE;
            return IDROVAN_FAILURE;
    }
}

/* What the signed licence says, against this computer, the clock and the feature. */
static int check_binding(const idrovan_licence_services* services, const parsed_licence* parsed,
                         const char* application, const char* feature, const char* now,
                         idrovan_licence_info* info) {
    const text_span* name = &parsed->values[FIELD_APPLICATION];
    char id[IDROVAN_ID_SIZE];
    int step = IDROVAN_STEP_NONE, marker = IDROVAN_MARKER_MISSING, result;
    long status = 0;
    long long seconds = 0;
    if (strlen(application) != name->length || memcmp(application, name->text, name->length) != 0)
        return IDROVAN_NO_MATCH;
    memset(id, 0, sizeof(id));
    result =
        services->get_application_id(services->context, application, id, &step, &status, &marker);
    if (info != NULL) {
        info->step = step;
        info->status = status;
        info->marker = marker;
    }
    if (result != IDROVAN_OK)
        return result;
    if (memcmp(id, parsed->values[FIELD_APPLICATION_ID].text, IDROVAN_ID_LENGTH) != 0)
        return IDROVAN_NO_MATCH;
    if (now != NULL)
        idrovan_licence_parse_time(now, TIME_LENGTH, &seconds);
    else if (!services->get_time(services->context, &seconds))
        return IDROVAN_FAILURE;
    if (parsed->present[FIELD_RENEW_AFTER] && info != NULL)
        info->renewal_due = seconds >= parsed->renew_after;
    /* A clock a day or less behind issued is a clock a little off, not a licence from the
       future: the server's and the user's clocks never agree to the second. */
    if (seconds < parsed->not_before || seconds + SECONDS_PER_DAY < parsed->issued)
        return IDROVAN_NOT_YET_VALID;
    if (!parsed->permanent && seconds >= parsed->not_after)
        return IDROVAN_EXPIRED;
    if (feature != NULL && (!parsed->present[FIELD_FEATURES] ||
                            !has_feature(&parsed->values[FIELD_FEATURES], feature)))
        return IDROVAN_NO_FEATURE;
    return IDROVAN_OK;
}

int idrovan_licence_check(const idrovan_licence_services* services, const char* licence,
                          unsigned int licence_size, const char* application, const char* feature,
                          const char* public_keys, const char* now, idrovan_licence_info* info) {
    char text[IDROVAN_MAX_LICENCE];
    size_t text_length = 0;
    parsed_licence parsed;
    trusted_key keys[IDROVAN_MAX_PUBLIC_KEYS];
    int key_count = 0, result;
    if (info_overlaps(info, licence, licence_size, application, feature, public_keys, now) ||
        (info != NULL && info->size != sizeof(idrovan_licence_info)))
        return IDROVAN_BAD_ARGUMENT;
    if (info != NULL)
        clear_info(info);
    if (public_keys == NULL || !parse_keys(public_keys, keys, &key_count) ||
        !check_arguments(services, licence, application, feature, now))
        return IDROVAN_BAD_ARGUMENT;
    if (!normalise(licence, licence_size, text, &text_length) ||
        !parse_lines(text, text_length, &parsed) || !check_values(&parsed))
        return IDROVAN_MALFORMED;
    result = check_signature(services, keys, key_count, text, &parsed, info);
    if (result != IDROVAN_OK)
        return result;
    if (info != NULL)
        fill_info(&parsed, info);
    return check_binding(services, &parsed, application, feature, now, info);
}
