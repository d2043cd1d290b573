/*
 * my_string: the driver's one text type, a counted run of UTF-16 code units.
 *
 * A null my_string pointer means "absent"; an empty string (length 0, data
 * null) means "present but empty". Every constructor returns a string the
 * caller owns (free it with ms_free) or null when memory runs out.
 *
 * UTF-8 here is real UTF-8: a four-byte sequence decodes to a surrogate pair
 * and a surrogate pair encodes as one four-byte sequence. A malformed
 * sequence, a stray continuation byte or an unpaired surrogate becomes
 * U+FFFD. Decoders never read past the count they are given.
 */
#ifndef QV_MY_STRING_H
#define QV_MY_STRING_H

#include <stddef.h>
#include <stdint.h>

struct my_connection;

struct my_string {
    uint16_t *data;    /* code units, not terminated; null when empty */
    uint32_t length;   /* number of code units */
    uint32_t borrowed; /* non-zero: data belongs to someone else */
};

/* The SQL_NTS length marker as the string functions take it. */
enum { MS_NTS = -3 };

/* --- constructors ------------------------------------------------------ */
my_string *ms_new(uint32_t n);                          /* n uninitialised units */
my_string *ms_wrap(uint16_t *units, uint32_t n);        /* takes ownership */
my_string *ms_from_latin1(const char *s);               /* NUL-terminated; null gives empty */
my_string *ms_from_latin1_n(const char *s, size_t n);
my_string *ms_copy(const my_string *s);                 /* null in, null out */
my_string *ms_substr(const my_string *s, int64_t start, int64_t count); /* count -1: to end */
/* Narrow application text by the connection's rules; null pointer gives null. */
my_string *ms_from_narrow(const char *s, int64_t len, const my_connection *c);
/* Wide application text by the connection's rules; null pointer gives null. */
my_string *ms_from_wide(const void *s, int64_t len, const my_connection *c);
/* Narrow text given before a session says what narrow text is (connection
 * strings, SQLConnect's arguments, odbc.ini values): UTF-8 when the
 * connection already says so or when the bytes are well-formed UTF-8, the
 * convention of the system; Latin-1 otherwise. */
int narrow_text_utf8(const char *s, int64_t len, const my_connection *c);
/* Narrow text as UTF-8 (utf8 != 0) or Latin-1; null pointer gives null. */
my_string *ms_from_narrow_as(const char *s, int64_t len, int utf8);
/* utf8 != 0: s is UTF-8 bytes (len in bytes); else UTF-16 units (len in units). */
my_string *ms_from_utf(const void *s, int64_t len, int utf8);
my_string *ms_from_utf8(const char *s, int64_t len);
my_string *ms_from_utf16(const uint16_t *s, int64_t len);

void ms_free(my_string *s);

/* --- conversions out ---------------------------------------------------- */
/* New NUL-terminated buffer (free with free()); null string gives null. */
char *ms_to_narrow(const my_string *s, const my_connection *c);
char *ms_to_latin1(const my_string *s);
char *ms_to_utf8(const my_string *s);
/* Byte length of the narrow form (without terminator). */
size_t ms_narrow_length(const my_string *s, const my_connection *c);
size_t ms_utf8_length(const my_string *s);
size_t ms_byte_length(const my_string *s);              /* 2 * length */
/* Units before the first 0 unit; the bounded form also stops at max_units. */
size_t ms_wide_strlen(const uint16_t *s);
size_t ms_wide_strnlen(const uint16_t *s, size_t max_units, size_t max_bytes);

/* --- raw UTF-8 / UTF-16 helpers, shared by the wire and the converters --- */
/* 1 when the n bytes are well-formed UTF-8 (no overlong form, surrogate or
 * cut sequence). */
int utf8_well_formed(const unsigned char *s, size_t n);
/* Number of UTF-16 units the UTF-8 bytes decode to. */
size_t utf8_units(const unsigned char *s, size_t n);
/* Decode n bytes into out (room for utf8_units(s, n) units); returns units written. */
size_t utf8_decode(const unsigned char *s, size_t n, uint16_t *out);
/* Decode one code point at s (n bytes available); stores the code point and
 * returns the bytes consumed (at least 1 when n > 0). */
size_t utf8_next(const unsigned char *s, size_t n, uint32_t *cp);
/* Bytes the UTF-16 units encode to. */
size_t utf16_utf8_length(const uint16_t *u, size_t n);
/* Encode n units into out (room for utf16_utf8_length(u, n)); returns bytes written. */
size_t utf16_encode_utf8(const uint16_t *u, size_t n, unsigned char *out);
/* Decode one code point from UTF-16 units; returns units consumed. */
size_t utf16_next(const uint16_t *u, size_t n, uint32_t *cp);

/* --- other operations ---------------------------------------------------- */
int ms_append(my_string *a, const my_string *b);        /* 0 or -1 (no memory) */
int ms_append_latin1(my_string *a, const char *s);
int64_t ms_find(const my_string *s, char ch);           /* index or -1 */
uint32_t ms_find_depth0(const my_string *s, uint32_t start, char ch); /* index or length */
/* left/right receive new strings; right is empty when ch does not occur. */
int ms_split_depth0(const my_string *s, char ch, my_string **left, my_string **right);
int ms_compare_literal(const my_string *s, const char *lit);  /* case-insensitive, -1/0/+1 */
int ms_compare(const my_string *a, const my_string *b);       /* case-insensitive, -1/0/+1 */
int ms_has_pattern(const my_string *s);

/* Builds SQL text and other driver-composed strings. Conversions:
 *   %S my_string* (null: "(nul)")   %F my_string*, freed afterwards
 *   %Z const uint16_t*, int64 len or MS_NTS: quoted literal, quotes doubled
 *   %d int   %l int64_t   %s const char* (one unit per byte)
 * Returns null when memory runs out. */
my_string *compose_text(const char *fmt, ...);

#endif
