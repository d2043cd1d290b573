/*
 * Numeric conversions. See my_numeric.h for the contracts.
 *
 * The 128-bit magnitude is kept in four 32-bit limbs with 64-bit
 * intermediates: portable (no compiler 128-bit type) and exact. Every
 * accumulation step checks for overflow before it is trusted, as
 * sqlite3Atoi64 does. Floating conversions use std::to_chars/from_chars,
 * which are exact, locale-free and allocation-free.
 */
#include "results/my_numeric.h"

#include <math.h>
#include <string.h>

#include <charconv>
#include <system_error>

namespace {

/* ---------------------------------------------------------------------- */
/* 128-bit magnitude */

struct u128 {
    uint32_t w[4];   /* least significant first */
};

bool is_zero(const u128 &x) { return !(x.w[0] | x.w[1] | x.w[2] | x.w[3]); }

/* x = x * mul + add; false (x then undefined) when the result needs more than 128 bits. */
bool mul_add(u128 &x, uint32_t mul, uint32_t add)
{
    uint64_t carry = add;
    for (uint32_t &limb : x.w) {
        uint64_t t = uint64_t(limb) * mul + carry;
        limb = uint32_t(t);
        carry = t >> 32;
    }
    return carry == 0;
}

/* x = x / d; returns the remainder. */
uint32_t div_small(u128 &x, uint32_t d)
{
    uint64_t rem = 0;
    for (int i = 3; i >= 0; i--) {
        uint64_t cur = (rem << 32) | x.w[i];
        x.w[i] = uint32_t(cur / d);
        rem = cur % d;
    }
    return uint32_t(rem);
}

u128 from_u64(uint64_t v) { return u128{{uint32_t(v), uint32_t(v >> 32), 0, 0}}; }

bool fits_u64(const u128 &x) { return !(x.w[2] | x.w[3]); }
uint64_t low_u64(const u128 &x) { return uint64_t(x.w[1]) << 32 | x.w[0]; }

u128 load_magnitude(const sql_numeric_value *v)
{
    u128 x;
    for (int i = 0; i < 4; i++)
        x.w[i] = uint32_t(v->val[4 * i]) | uint32_t(v->val[4 * i + 1]) << 8 |
                 uint32_t(v->val[4 * i + 2]) << 16 | uint32_t(v->val[4 * i + 3]) << 24;
    return x;
}

void store_numeric(sql_numeric_value *out, const u128 &x, bool negative, int precision, int scale)
{
    out->precision = (unsigned char)precision;
    out->scale = (signed char)scale;
    /* a zero has no sign: "-0" would only confuse applications */
    out->sign = (negative && !is_zero(x)) ? 0 : 1;
    for (int i = 0; i < 16; i++)
        out->val[i] = (unsigned char)(x.w[i / 4] >> (8 * (i % 4)));
}

/* Decimal digits of x without leading zeros ("0" for zero); returns the count.
 * buf needs 40 bytes (2^128-1 has 39 digits); no NUL is written. */
size_t magnitude_digits(u128 x, char *buf)
{
    uint32_t groups[5];
    int n = 0;
    do
        groups[n++] = div_small(x, 1000000000u);
    while (!is_zero(x));
    char tmp[12];
    size_t len = 0;
    for (int g = n - 1; g >= 0; g--) {
        int k = 0;
        for (uint32_t v = groups[g]; v; v /= 10)
            tmp[k++] = char('0' + v % 10);
        if (g != n - 1)
            while (k < 9)
                tmp[k++] = '0';   /* inner groups keep their leading zeros */
        if (k == 0)
            tmp[k++] = '0';
        while (k)
            buf[len++] = tmp[--k];
    }
    return len;
}

const int SCALE_MIN = -128, SCALE_MAX = 127;
/* Decimal digits of 2^128-1. */
const int64_t MAGNITUDE_DIGITS = 39;
/* Exponents beyond this are all "far out of range" alike; clamping keeps
 * the arithmetic on positions well inside 64 bits. */
const int64_t EXPONENT_CLAMP = 100000;

/* ---------------------------------------------------------------------- */
/* The number grammar */

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/* A scanned number: its digits are the integer digits followed by the
 * fraction digits, and the decimal point sits after `point` of them (point
 * may lie outside the digits when an exponent moved it). */
struct decimal_text {
    bool negative;
    const char *int_b, *int_e;     /* integer digits */
    const char *frac_b, *frac_e;   /* fraction digits */
    const char *num_b, *num_e;     /* the number without sign and blanks */
    int64_t exponent;              /* clamped to +-EXPONENT_CLAMP */
    int64_t n_int, total;          /* digit counts */
    int64_t lead;                  /* index of the first non-zero digit (total: none) */
    int64_t point;                 /* n_int + exponent */
};

char digit_at(const decimal_text &d, int64_t i)
{
    return i < d.n_int ? d.int_b[i] : d.frac_b[i - d.n_int];
}

/* Scans the grammar of my_numeric.h. Returns NUM_OK, NUM_TRAILING (the
 * number ends before the text does) or NUM_INVALID. */
int scan_decimal(const char *text, size_t len, decimal_text *d)
{
    if (!text)
        return NUM_INVALID;
    const char *nul = len ? static_cast<const char *>(memchr(text, 0, len)) : nullptr;
    const char *p = text, *end = nul ? nul : text + len;
    while (p != end && is_space(*p))
        p++;
    d->negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+'))
        p++;
    d->num_b = p;
    d->int_b = p;
    while (p != end && is_digit(*p))
        p++;
    d->int_e = p;
    d->frac_b = d->frac_e = p;
    if (p != end && *p == '.') {
        d->frac_b = ++p;
        while (p != end && is_digit(*p))
            p++;
        d->frac_e = p;
    }
    d->n_int = d->int_e - d->int_b;
    d->total = d->n_int + (d->frac_e - d->frac_b);
    if (d->total == 0)
        return NUM_INVALID;
    d->exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        /* only an exponent with digits belongs to the number */
        const char *q = p + 1;
        bool neg_exp = q != end && *q == '-';
        if (q != end && (*q == '-' || *q == '+'))
            q++;
        if (q != end && is_digit(*q)) {
            int64_t e = 0;
            for (; q != end && is_digit(*q); q++)
                if (e < EXPONENT_CLAMP)
                    e = e * 10 + (*q - '0');
            if (e > EXPONENT_CLAMP)
                e = EXPONENT_CLAMP;
            d->exponent = neg_exp ? -e : e;
            p = q;
        }
    }
    d->num_e = p;
    d->point = d->n_int + d->exponent;
    d->lead = 0;
    while (d->lead < d->total && digit_at(*d, d->lead) == '0')
        d->lead++;
    while (p != end && is_space(*p))
        p++;
    return p == end ? NUM_OK : NUM_TRAILING;
}

/* value x 10^scale as a magnitude: digits past that position are dropped
 * (*inexact when any was not zero) and, with `round`, rounded half away from
 * zero. Returns false when the magnitude needs more than 128 bits. */
bool scaled_magnitude(const decimal_text &d, int64_t scale, bool round, u128 *mag, bool *inexact)
{
    int64_t cut = d.point + scale;   /* digits [0, cut) are the magnitude's */
    *mag = u128{{0, 0, 0, 0}};
    *inexact = false;
    /* nine digits at a time into one limb operation: this runs per DECIMAL
     * value on the fetch path */
    uint32_t chunk = 0, chunk_mul = 1;
    for (int64_t i = d.lead; i < cut && i < d.total; i++) {
        chunk = chunk * 10 + uint32_t(digit_at(d, i) - '0');
        chunk_mul *= 10;
        if (chunk_mul == 1000000000u) {
            if (!mul_add(*mag, chunk_mul, chunk))
                return false;
            chunk = 0;
            chunk_mul = 1;
        }
    }
    if (chunk_mul > 1 && !mul_add(*mag, chunk_mul, chunk))
        return false;
    /* the point lies past the digits: zeros (a zero stays zero, however many) */
    for (int64_t k = d.total; k < cut && !is_zero(*mag); k++)
        if (!mul_add(*mag, 10, 0))
            return false;
    for (int64_t j = cut < d.lead ? d.lead : cut; j < d.total; j++)
        if (digit_at(d, j) != '0') {
            *inexact = true;
            break;
        }
    bool up = round && cut >= 0 && cut < d.total && digit_at(d, cut) >= '5';
    return !up || mul_add(*mag, 1, 1);
}

/* Integer part of a scanned number against a limit. */
int decimal_to_u64(const decimal_text &d, uint64_t limit, uint64_t *out)
{
    bool inexact;
    u128 mag;
    if (!scaled_magnitude(d, 0, false, &mag, &inexact) || !fits_u64(mag) || low_u64(mag) > limit)
        return NUM_OVERFLOW;
    *out = low_u64(mag);
    return inexact ? NUM_FRACTION : NUM_OK;
}

/* The stronger of a scan's status and a conversion's. */
int combine(int scan_status, int conv_status)
{
    if (conv_status < 0)
        return conv_status;
    return scan_status == NUM_TRAILING ? NUM_TRAILING : conv_status;
}

int64_t digit_count(u128 x)
{
    char buf[40];
    return int64_t(magnitude_digits(x, buf));
}

/* Multiplies (steps > 0) or divides (steps < 0) by 10^|steps|. */
int shift_decimal(u128 *x, int steps, bool *inexact)
{
    for (; steps > 0 && !is_zero(*x); steps--)
        if (!mul_add(*x, 10, 0))
            return NUM_OVERFLOW;
    for (; steps < 0 && !is_zero(*x); steps++)
        if (div_small(*x, 10))
            *inexact = true;
    return NUM_OK;
}

int magnitude_to_numeric(uint64_t mag, bool negative, sql_numeric_value *out, int precision,
                         int scale)
{
    if (scale < SCALE_MIN || scale > SCALE_MAX)
        return NUM_OVERFLOW;
    u128 x = from_u64(mag);
    bool inexact = false;
    /* value x 10^-scale: the magnitude is value x 10^scale */
    if (shift_decimal(&x, scale, &inexact))
        return NUM_OVERFLOW;
    store_numeric(out, x, negative, precision, scale);
    return inexact ? NUM_FRACTION : NUM_OK;
}

} // namespace

/* ---------------------------------------------------------------------- */

int text_to_int64(const char *text, size_t len, int64_t *out)
{
    decimal_text d;
    int scan = scan_decimal(text, len, &d);
    if (scan == NUM_INVALID)
        return NUM_INVALID;
    uint64_t limit = d.negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    uint64_t mag = 0;
    int rc = decimal_to_u64(d, limit, &mag);
    if (rc == NUM_OVERFLOW) {
        *out = d.negative ? INT64_MIN : INT64_MAX;
        return NUM_OVERFLOW;
    }
    /* negate in unsigned arithmetic: -2^63 has no positive int64 twin */
    *out = d.negative ? int64_t(0 - mag) : int64_t(mag);
    return combine(scan, rc);
}

int text_to_uint64(const char *text, size_t len, uint64_t *out)
{
    decimal_text d;
    int scan = scan_decimal(text, len, &d);
    if (scan == NUM_INVALID)
        return NUM_INVALID;
    uint64_t mag = 0;
    int rc = decimal_to_u64(d, UINT64_MAX, &mag);
    if (rc == NUM_OVERFLOW || (d.negative && mag != 0)) {
        *out = d.negative ? 0 : UINT64_MAX;
        return NUM_OVERFLOW;
    }
    *out = mag;
    return combine(scan, rc);
}

int text_to_double(const char *text, size_t len, double *out)
{
    decimal_text d;
    int scan = scan_decimal(text, len, &d);
    if (scan == NUM_INVALID)
        return NUM_INVALID;
    double v = 0;
    /* the grammar was checked above, so from_chars sees plain digits, never
     * "inf"/"nan"; it takes no '+', hence the sign is applied here */
    auto r = std::from_chars(d.num_b, d.num_e, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        /* the value is 0.d[lead].. x 10^(point-lead) */
        if (d.point - d.lead > 0) {
            *out = d.negative ? -HUGE_VAL : HUGE_VAL;
            return NUM_OVERFLOW;
        }
        v = 0;
    } else if (r.ec != std::errc() || r.ptr != d.num_e) {
        return NUM_INVALID;
    }
    *out = d.negative ? -v : v;
    return scan;
}

int text_to_numeric(const char *text, size_t len, sql_numeric_value *out, int precision,
                    int scale)
{
    decimal_text d;
    int scan = scan_decimal(text, len, &d);
    if (scan == NUM_INVALID)
        return NUM_INVALID;
    if (scale < SCALE_MIN || scale > SCALE_MAX)
        return NUM_OVERFLOW;
    /* The text's digits are the magnitude: t fraction digits make the scale
     * start + t. An exponent moves the point but never below the starting
     * scale (the magnitude gets zeros instead). */
    int64_t t = (d.frac_e - d.frac_b) - d.exponent;
    if (t < 0)
        t = 0;
    if (scale + t > SCALE_MAX)
        t = SCALE_MAX - scale;
    /* digits may be given up to fit, but only fraction digits of the value */
    int64_t t_floor = scale < 0 ? -int64_t(scale) : 0;
    if (t_floor > t)
        t_floor = t;
    int64_t digits = d.point + t - d.lead;   /* magnitude digits at t */
    if (digits > MAGNITUDE_DIGITS && t > t_floor) {
        int64_t excess = digits - MAGNITUDE_DIGITS;
        t = t - excess > t_floor ? t - excess : t_floor;
    }
    u128 mag;
    bool inexact = false;   /* covers the digits dropped by either limit */
    while (!scaled_magnitude(d, t, false, &mag, &inexact)) {
        if (t <= t_floor)
            return NUM_OVERFLOW;
        t--;
    }
    store_numeric(out, mag, d.negative, precision, int(scale + t));
    return combine(scan, inexact ? NUM_FRACTION : NUM_OK);
}

int numeric_to_text(const sql_numeric_value *v, char *buf, size_t buf_len, size_t *out_len)
{
    char digits[40];
    u128 mag = load_magnitude(v);
    size_t n = magnitude_digits(mag, digits);
    char text[NUMERIC_TEXT_MAX];
    size_t len = 0;
    if (v->sign == 0 && !is_zero(mag))
        text[len++] = '-';
    int scale = v->scale;
    if (is_zero(mag)) {
        text[len++] = '0';
    } else if (scale <= 0) {
        memcpy(text + len, digits, n);
        len += n;
        memset(text + len, '0', size_t(-scale));
        len += size_t(-scale);
    } else {
        size_t d = size_t(scale);
        if (n > d) {
            memcpy(text + len, digits, n - d);
            len += n - d;
            text[len++] = '.';
            memcpy(text + len, digits + n - d, d);
            len += d;
        } else {
            text[len++] = '0';
            text[len++] = '.';
            memset(text + len, '0', d - n);
            len += d - n;
            memcpy(text + len, digits, n);
            len += n;
        }
        while (text[len - 1] == '0')
            len--;
        if (text[len - 1] == '.')
            len--;
    }
    if (out_len)
        *out_len = len;
    if (len < buf_len) {
        memcpy(buf, text, len);
        buf[len] = 0;
        return 0;
    }
    if (buf_len > 0) {
        memcpy(buf, text, buf_len - 1);
        buf[buf_len - 1] = 0;
    }
    return 1;
}

int pad_numeric_fraction(const sql_numeric_value *v, char *buf, size_t buf_len, size_t *len)
{
    if (v->scale <= 0)
        return 0;
    size_t want = size_t(v->scale);
    const char *dot = static_cast<const char *>(memchr(buf, '.', *len));
    size_t have = dot ? *len - size_t(dot - buf) - 1 : 0;
    if (have >= want)
        return 0;
    size_t add = want - have + (dot ? 0 : 1);
    if (*len + add + 1 > buf_len)
        return 1;
    char *p = buf + *len;
    if (!dot)
        *p++ = '.';
    memset(p, '0', want - have);
    *len += add;
    buf[*len] = 0;
    return 0;
}

int int_to_numeric(int64_t v, sql_numeric_value *out, int precision, int scale)
{
    /* magnitude in unsigned arithmetic: -2^63 has no positive int64 twin */
    uint64_t mag = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    return magnitude_to_numeric(mag, v < 0, out, precision, scale);
}

int uint_to_numeric(uint64_t v, sql_numeric_value *out, int precision, int scale)
{
    return magnitude_to_numeric(v, false, out, precision, scale);
}

int double_to_numeric(double v, sql_numeric_value *out, int precision, int scale)
{
    if (isnan(v))
        return NUM_INVALID;
    if (isinf(v) || scale < SCALE_MIN || scale > SCALE_MAX)
        return NUM_OVERFLOW;
    /* The shortest digits are the number the application meant: 0.29 rounds
     * to 0.29 at scale 2, where 0.29 * 100 would give 28.999999999999996. */
    char text[FLOAT_TEXT_MAX];
    int n = double_to_text(v, text, sizeof text);
    decimal_text d;
    if (n < 0 || scan_decimal(text, size_t(n), &d) != NUM_OK)
        return NUM_INVALID;
    u128 mag;
    bool inexact = false;
    if (!scaled_magnitude(d, scale, true, &mag, &inexact))
        return NUM_OVERFLOW;
    store_numeric(out, mag, d.negative, precision, scale);
    return inexact ? NUM_FRACTION : NUM_OK;
}

void numeric_to_double(const sql_numeric_value *v, double *out)
{
    u128 mag = load_magnitude(v);
    int scale = v->scale;
    double r;
    /* Below 2^53 and 10^22 both operands are exact doubles, so one division
     * or multiplication rounds once, correctly. */
    static const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (fits_u64(mag) && low_u64(mag) < (uint64_t(1) << 53) && scale >= -22 && scale <= 22) {
        double m = double(low_u64(mag));
        r = scale >= 0 ? m / pow10[scale] : m * pow10[-scale];
    } else {
        /* otherwise through the decimal text, which from_chars rounds exactly */
        sql_numeric_value pos = *v;
        pos.sign = 1;
        char text[NUMERIC_TEXT_MAX];
        size_t len = 0;
        numeric_to_text(&pos, text, sizeof text, &len);
        r = 0;
        std::from_chars(text, text + len, r);
    }
    *out = (v->sign == 0) ? -r : r;
}

int numeric_rescale(sql_numeric_value *v, int precision, int scale)
{
    if (scale < SCALE_MIN || scale > SCALE_MAX)
        return NUM_OVERFLOW;
    u128 mag = load_magnitude(v);
    bool inexact = false;
    if (shift_decimal(&mag, scale - v->scale, &inexact))
        return NUM_OVERFLOW;
    if (precision > 0 && !is_zero(mag) && digit_count(mag) > precision)
        return NUM_OVERFLOW;
    store_numeric(v, mag, v->sign == 0, precision, scale);
    return inexact ? NUM_FRACTION : NUM_OK;
}

namespace {

/* Integer part of a numeric against a limit. */
int numeric_integer_part(const sql_numeric_value *v, uint64_t limit, uint64_t *out)
{
    u128 mag = load_magnitude(v);
    bool inexact = false;
    if (shift_decimal(&mag, -v->scale, &inexact) || !fits_u64(mag) || low_u64(mag) > limit)
        return NUM_OVERFLOW;
    *out = low_u64(mag);
    return inexact ? NUM_FRACTION : NUM_OK;
}

} // namespace

int numeric_to_int64(const sql_numeric_value *v, int64_t *out)
{
    bool negative = v->sign == 0;
    uint64_t mag = 0;
    int rc = numeric_integer_part(v, negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX), &mag);
    if (rc == NUM_OVERFLOW) {
        *out = negative ? INT64_MIN : INT64_MAX;
        return rc;
    }
    *out = negative ? int64_t(0 - mag) : int64_t(mag);
    return rc;
}

int numeric_to_uint64(const sql_numeric_value *v, uint64_t *out)
{
    bool negative = v->sign == 0;
    uint64_t mag = 0;
    int rc = numeric_integer_part(v, UINT64_MAX, &mag);
    if (rc == NUM_OVERFLOW || (negative && mag != 0)) {
        *out = negative ? 0 : UINT64_MAX;
        return NUM_OVERFLOW;
    }
    *out = mag;
    return rc;
}

/* ---------------------------------------------------------------------- */

namespace {

template <typename T> int shortest_text(T v, char *buf, size_t buf_len)
{
    if (buf_len == 0)
        return -1;
    /* to_chars without a format gives the shortest round-trip form */
    auto r = std::to_chars(buf, buf + buf_len - 1, v);
    if (r.ec != std::errc())
        return -1;
    *r.ptr = 0;
    return int(r.ptr - buf);
}

} // namespace

int double_to_text(double v, char *buf, size_t buf_len) { return shortest_text(v, buf, buf_len); }

int float_to_text(float v, char *buf, size_t buf_len) { return shortest_text(v, buf, buf_len); }
