/*
 * Parameter value readers: one per wanted representation, shared by the
 * binary parameter block and the SQL literals (my_param.cpp), and the text
 * writer that puts application text on the wire.
 *
 * Application memory is read with memcpy everywhere: a bind offset or a row
 * stride may leave any value at an odd address.
 *
 * Readers return 0, or -1 with a diagnostic posted on the statement carrying
 * the parameter number as column number. They never look at a NULL or
 * data-at-execution parameter (callers check is_null / is_dae first).
 */
#ifndef QV_MY_PARAM_CONV_H
#define QV_MY_PARAM_CONV_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* One parameter of the current parameter row, located in the application's
 * buffers. */
struct param_ref {
    my_statement *s;
    field *apd;                   /* the binding */
    int index;                    /* 0-based; the parameter number is index + 1 */
    int c_type;                   /* concise C type */
    int sql_type;                 /* effective SQL type */
    const unsigned char *value;   /* value address; null when there is none */
    const unsigned char *ind;     /* indicator address (an SQLLEN); null when none */
    const unsigned char *oct;     /* octet-length address (an SQLLEN); null when none */
    int64_t indicator;            /* the indicator's value, 0 without one */
    int is_null;                  /* SQL NULL */
    int is_dae;                   /* data at execution */
    int precision;
    int scale;
    int64_t octet_length;         /* the buffer length (element stride of an array) */
    int wide_utf8;                /* wide C types carry UTF-8 bytes (ConvWToUtf, wchar_type) */
    int narrow_utf8;              /* narrow text is UTF-8 (ConvToUtf) */
};

/* Locates parameter index (0-based) for s->param_row. binary: the binary
 * protocol's view (SQL_DEFAULT-derived big integers; precision and scale
 * taken from the server's description where the binding has 0). 0, or -1
 * with 07002 posted when the APD has no such record. */
int param_locate(my_statement *s, int index, int binary, param_ref *r);

/* The C types, grouped by how their values are read. */
enum c_class {
    CC_CHAR, CC_WCHAR, CC_NUMERIC, CC_SLONG, CC_ULONG, CC_SSHORT, CC_USHORT, CC_STINY,
    CC_UTINY, CC_SBIGINT, CC_UBIGINT, CC_DOUBLE, CC_FLOAT, CC_BIT, CC_DATE, CC_TIME,
    CC_TIMESTAMP, CC_BINARY, CC_GUID, CC_OTHER
};
int c_type_class(int c_type);
/* Character data as the application gave it: narrow bytes, or wide text. */
static inline int is_char_class(int cc) { return cc == CC_CHAR || cc == CC_WCHAR; }

/* Byte length of a character or binary value by the indicator and
 * octet-length rules; wide: a terminated value is counted in UTF-16 units
 * (times 2). 0, or -1 posted (07006 for binary data without any length,
 * HY090 for a negative length, or a length past the element of a
 * column-wise parameter array). */
int param_data_length(const param_ref *r, int wide, int binary, int64_t *len);

/* ---- get_char_from_param: the value as text ---- */
struct param_chars {
    const unsigned char *bytes;   /* narrow bytes, or UTF-16 units (host order) when wide */
    int64_t length;               /* in bytes */
    int wide;
    int utf8;                     /* narrow bytes are the application's UTF-8 text: a
                                     single-byte session gets them as Latin-1 */
    char scratch[192];            /* rendered numbers (NUMERIC_TEXT_MAX), dates and GUIDs;
                                     bytes may point here */
};
/* Text of any C type (numbers rendered, doubles so that they read back as
 * the same value, timestamps with the fraction digits the scale asks for).
 * out must not be copied: bytes may point into its scratch. */
int get_char_from_param(const param_ref *r, param_chars *out);

/* ---- numbers ---- */
/* The exact integer value of the parameter (signed and unsigned 64-bit
 * values both fit). bits 32 or 64 select the rules of get_integer_from_param
 * and get_bigint_from_param (binary image width, what dates give, messages);
 * the value is range-checked here only against [-2^(bits-1), 2^bits - 1],
 * callers check their own target. */
typedef __int128 param_int;
int get_integer_from_param(const param_ref *r, int bits, param_int *v);
int get_double_from_param(const param_ref *r, double *v);
int get_float_from_param(const param_ref *r, float *v);
/* Not for character sources: those go to the server as checked text. */
int get_numeric_from_param(const param_ref *r, sql_numeric_value *v);
int get_timestamp_from_param(const param_ref *r, sql_timestamp_value *v);

/* ---- bytes ---- */
struct param_bytes {
    const unsigned char *bytes;
    int64_t length;
    unsigned char *owned;         /* allocated for long hexadecimal text; free() it */
    unsigned char scratch[128];
};
int get_binary_from_param(const param_ref *r, param_bytes *out);

/* The unquoted number in character data, checked: blanks, an optional sign,
 * digits with at most one point, an optional exponent, blanks; at least one
 * digit. A NUL ends the text. On success [*from, *to) is the number without
 * the blanks (ASCII only, so wide text has one character per unit).
 * 0, or -1 with 22018 posted. */
int param_number_span(const param_ref *r, const param_chars *t, int64_t *from, int64_t *to);

/* ---- text onto the wire ---- */
enum { ESC_NONE = 0, ESC_BACKSLASH = 1, ESC_QUOTES = 2 };
/* How text inside a '...' literal must be escaped for the connection's
 * session: ESC_QUOTES under NO_BACKSLASH_ESCAPES, else ESC_BACKSLASH. */
int literal_escape_mode(const my_connection *c);

/* Writes text into a packet (or only counts it when p is null): narrow bytes
 * as they are, UTF-16 in the connection's text encoding (UTF-8; otherwise one
 * byte per character, '?' for what Latin-1 cannot hold), escaped for the
 * inside of a '...' literal when asked. Output is staged so the packet sees
 * few large writes. */
struct text_out {
    my_packet *p;
    int escape;
    int utf8;
    int failed;
    int64_t total;                /* bytes produced */
    size_t n;
    unsigned char buf[4096];
};
/* UTF-16 bytes that wait for the rest of their unit or surrogate pair. */
struct utf16_tail {
    unsigned char bytes[4];
    int len;
};
void tout_init(text_out *o, my_packet *p, const my_connection *c, int escape);
void tout_bytes(text_out *o, const void *bytes, size_t n);
void tout_ascii(text_out *o, const char *s);   /* never escaped */
/* UTF-16 bytes in host order; the tail carries an incomplete unit or a high
 * surrogate over to the next call. */
void tout_wide(text_out *o, utf16_tail *tail, const void *bytes, size_t n);
/* What is left in the tail: an unpaired high surrogate becomes U+FFFD, an odd
 * byte is dropped. */
void tout_wide_end(text_out *o, utf16_tail *tail);
/* Flushes; 0, or -1 when a packet write failed (memory or send). */
int tout_finish(text_out *o);

/* Wire bytes of character data in the connection's text encoding. */
int64_t chars_wire_length(const my_connection *c, const param_chars *t);
void tout_chars(text_out *o, const param_chars *t);

#endif
