/*
 * Numeric conversions shared by column and parameter conversion:
 *   - SQL_NUMERIC_STRUCT (sql_numeric_value) to and from decimal text,
 *     integers and doubles, with precision/scale handling;
 *   - strict text to 64-bit integer and text to double;
 *   - the shortest text of a double or float that reads back as the same value.
 *
 * The value of a numeric structure is sign x magnitude x 10^-scale, the
 * magnitude a little-endian unsigned 128-bit integer.
 *
 * Texts are counted, not terminated (values straight out of row packets):
 * nothing past `len` is read, and a NUL byte inside the count ends the text.
 * Nothing here allocates, and nothing depends on the process locale.
 *
 * Accepted number text, for every scanner:
 *   blanks* [+|-] digits* [. digits*] [(e|E) [+|-] digits+] blanks*
 * with at least one digit before the exponent.
 *
 * Outcomes: a negative status means no value was delivered; a positive one
 * means a value was delivered with something the caller may have to report.
 * When several apply, the first in this list wins.
 */
#ifndef QV_MY_NUMERIC_H
#define QV_MY_NUMERIC_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

enum num_status {
    NUM_INVALID = -1,   /* no number at all (22018); *out not to be used */
    NUM_OVERFLOW = -2,  /* outside the target's range (22003); integer
                           targets receive the saturated limit */
    NUM_TRAILING = 2,   /* a number followed by other text: the value is the
                           number's (strict callers report 22018) */
    NUM_FRACTION = 1,   /* non-zero fraction digits dropped (01S07) */
    NUM_OK = 0,
};

/* Longest text numeric_to_text can produce, with its NUL: sign, 39 digits and
 * 128 zeros of a negative scale. */
#define NUMERIC_TEXT_MAX 170
/* Buffer size that holds every shortest double or float text with its NUL. */
#define FLOAT_TEXT_MAX 32

/* ---- text to numbers ---- */

/* Integer value of the text; a fraction (after the point or an exponent
 * shift) is truncated toward zero and reported as NUM_FRACTION when it was
 * not zero. "-0.5" is 0 with NUM_FRACTION for both. */
int text_to_int64(const char *text, size_t len, int64_t *out);
int text_to_uint64(const char *text, size_t len, uint64_t *out);

/* Correctly rounded double. A magnitude above the double range is
 * NUM_OVERFLOW (*out = +-HUGE_VAL); one below the smallest subnormal reads as
 * a signed zero. "inf", "nan" and hexadecimal forms are not numbers here. */
int text_to_double(const char *text, size_t len, double *out);

/* ---- the numeric structure ---- */

/* Decimal text to numeric with the given precision (stored as is) and a
 * starting scale (usually 0) to which the number of fraction digits is added,
 * so "12.50" gives magnitude 1250, scale 2. An exponent moves the point; it
 * never makes the scale smaller than the starting one (the magnitude gets
 * zeros instead). When the digits need more than 128 bits or a scale above
 * 127, trailing fraction digits are dropped (NUM_FRACTION if any was not
 * zero); NUM_OVERFLOW when the integer part alone does not fit. */
int text_to_numeric(const char *text, size_t len, sql_numeric_value *out, int precision,
                    int scale);

/* The decimal text of a numeric: no leading zeros, a point before the last
 * `scale` digits ("0.05"), trailing fraction zeros and a bare point removed,
 * zeros appended for a negative scale, '-' for a negative non-zero value.
 * Copied whole with a NUL when shorter than buf_len; otherwise buf_len-1
 * characters and a NUL (nothing for buf_len 0) and the result is 1.
 * *out_len (may be null) receives the full length. Returns 0 or 1. */
int numeric_to_text(const sql_numeric_value *v, char *buf, size_t buf_len, size_t *out_len);

/* Extends a text made by numeric_to_text (NUL-terminated, *len long) to
 * exactly v->scale fraction digits, adding the point when needed: 12.5 with
 * scale 2 becomes 12.50. Returns 0, or 1 when the zeros do not fit in
 * buf_len (the text is left as it was). */
int pad_numeric_fraction(const sql_numeric_value *v, char *buf, size_t buf_len, size_t *len);

/* An integer as numeric with precision (stored) and scale (-128..127): a
 * positive scale multiplies by 10^scale (NUM_OVERFLOW beyond 128 bits), a
 * negative one divides (NUM_FRACTION when the digits dropped were not 0). */
int int_to_numeric(int64_t v, sql_numeric_value *out, int precision, int scale);
int uint_to_numeric(uint64_t v, sql_numeric_value *out, int precision, int scale);

/* A double as numeric with precision (stored) and scale: the value's
 * shortest decimal digits (what the application wrote, not the binary
 * expansion) rounded half away from zero to `scale` fraction digits;
 * NUM_FRACTION when non-zero digits were dropped, NUM_OVERFLOW beyond 128
 * bits or for an infinity, NUM_INVALID for NaN. */
int double_to_numeric(double v, sql_numeric_value *out, int precision, int scale);

/* Correctly rounded double of a numeric. */
void numeric_to_double(const sql_numeric_value *v, double *out);

/* Brings *v to the given scale and checks it against the precision (the
 * number of magnitude digits; precision <= 0 checks nothing). Fraction digits
 * are truncated (NUM_FRACTION when not zero). NUM_OVERFLOW when the value
 * does not fit; *v is then unchanged. */
int numeric_rescale(sql_numeric_value *v, int precision, int scale);

/* Integer part of a numeric (truncated toward zero, NUM_FRACTION when a
 * non-zero fraction was dropped; NUM_OVERFLOW and the saturated limit when
 * the integer part is out of range). */
int numeric_to_int64(const sql_numeric_value *v, int64_t *out);
int numeric_to_uint64(const sql_numeric_value *v, uint64_t *out);

/* ---- floating values as text ---- */

/* The shortest text that reads back as exactly the same value ("0.1",
 * "3.141592653589793", "1e+20", "-0", "5e-324"); infinities and NaN as
 * "inf", "-inf", "nan". Returns the length (a NUL follows), or -1 when
 * buf_len is too small (FLOAT_TEXT_MAX always suffices). */
int double_to_text(double v, char *buf, size_t buf_len);
int float_to_text(float v, char *buf, size_t buf_len);

#endif
