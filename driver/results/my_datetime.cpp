/*
 * Date and time scanner. See my_datetime.h for the accepted forms.
 *
 * The scan keeps three possibility flags: D (the text may still be a date),
 * T (a time) and S (a date-time). Plain text starts with all three; an escape
 * introducer keeps exactly one. Each separator rules some out ('-' and '/'
 * rule out a time, ':' rules out a date), and the flags left at the end pick
 * the category. Everything reads through one cursor that stops at the end of
 * the counted text.
 */
#include "results/my_datetime.h"

#include <string.h>
#include <time.h>

#include "frame/my_handle.h"

const char DT_MSG_END[] = "unexpected end of string";
const char DT_MSG_INTRODUCER[] = "invalid ODBC date/time introducer";
const char DT_MSG_CHAR[] = "invalid character in date/time string";
const char DT_MSG_RANGE[] = "date/time field out of range";

namespace {

/* The numbered failures of the month-name form, index n for "(n)". */
const char *const month_form_msg[] = {
    DT_MSG_CHAR,
    "invalid character in date/time string (1)",
    "invalid character in date/time string (2)",
    "invalid character in date/time string (3)",
    "invalid character in date/time string (4)",
    "invalid character in date/time string (5)",
    "invalid character in date/time string (6)",
    "invalid character in date/time string (7)",
    "invalid character in date/time string (8)",
    "invalid character in date/time string (9)",
    "invalid character in date/time string (10)",
};

const char *const month_names[] = {
    "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec",
    "january", "february", "march", "april", "may", "june", "july", "august", "september",
    "october", "november", "december",
};

/* Only this many letters of a month word count. */
const int MONTH_WORD_MAX = 19;

struct dt_scan {
    const void *log_h;
    const char *p;
    const char *end;
    int may_date, may_time, may_datetime;   /* D, T, S */
    const char *reason;                     /* set by fail() */
};

/* Hours, minutes, seconds and fraction of a time part. */
struct time_fields {
    int32_t hour, minute, second, fraction_ns;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
/* White space of the C locale; the scanner must not depend on the process locale. */
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool at_end(const dt_scan &s) { return s.p == s.end; }
/* A quote closes an escape literal's value: it ends a field like the end does. */
bool at_field_end(const dt_scan &s) { return s.p == s.end || *s.p == '\''; }
bool next_is(const dt_scan &s, char c) { return s.p != s.end && *s.p == c; }
bool next_is_digit(const dt_scan &s) { return s.p != s.end && is_digit(*s.p); }

void skip_space(dt_scan &s)
{
    while (s.p != s.end && is_space(*s.p))
        s.p++;
}

/* A terminated copy of counted text for a ">%s<" trace line. Built inside
 * the QV_TRACE arguments, so only when the handle traces. */
struct log_copy {
    char text[128];
    log_copy(const char *p, const char *end)
    {
        size_t n = size_t(end - p) < sizeof text - 1 ? size_t(end - p) : sizeof text - 1;
        memcpy(text, p, n);
        text[n] = 0;
    }
};

int fail(dt_scan &s, const char *reason)
{
    s.reason = reason;
    return 1;
}

/* Reads a run of digits (possibly empty) and returns its start; s.p ends after it. */
const char *skip_digits(dt_scan &s)
{
    const char *from = s.p;
    while (s.p != s.end && is_digit(*s.p))
        s.p++;
    return from;
}

/* A run of at least one digit as a number. No digits: the end of the text is
 * "unexpected end", anything else an invalid character. */
int read_number(dt_scan &s, int32_t *value)
{
    const char *from = skip_digits(s);
    if (from == s.p)
        return fail(s, at_field_end(s) ? DT_MSG_END : DT_MSG_CHAR);
    if (digits_to_int(from, s.p, value))
        return fail(s, DT_MSG_RANGE);
    return 0;
}

/* "AM" or "PM" (either case) at the cursor: 1 for AM, 2 for PM, 0 neither. */
int ampm_at(const dt_scan &s)
{
    if (s.end - s.p < 2 || lower(s.p[1]) != 'm')
        return 0;
    char c = lower(s.p[0]);
    return c == 'a' ? 1 : c == 'p' ? 2 : 0;
}

/* 12-hour clock: 1 PM to 11 PM are 13 to 23, and 12 AM is midnight. */
void apply_ampm(int32_t *hour, int ampm)
{
    if (ampm == 2 && *hour >= 1 && *hour <= 11)
        *hour += 12;
    else if (ampm == 1 && *hour == 12)
        *hour = 0;
}

/* Fraction digits after the '.', ended by the end of the field or a blank. */
int read_fraction(dt_scan &s, int32_t *fraction_ns, bool *at_blank)
{
    const char *from = skip_digits(s);
    *fraction_ns = fraction_to_nanos(from, s.p);
    if (at_field_end(s))
        return 0;
    if (!is_space(*s.p))
        return fail(s, DT_MSG_CHAR);
    *at_blank = true;
    return 0;
}

/* [hh]:mm:ss[.fraction]. Without hour digits at the cursor the part starts at
 * the ':' and the hour is 0. Stops at the end of the field or at a blank
 * (*at_blank), which the caller's trailer examines. */
int read_time_part(dt_scan &s, time_fields *t, bool *at_blank)
{
    if (next_is_digit(s) && read_number(s, &t->hour))
        return 1;
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (*s.p != ':')
        return fail(s, DT_MSG_CHAR);
    s.p++;
    if (read_number(s, &t->minute))
        return 1;
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (*s.p != ':')
        return fail(s, DT_MSG_CHAR);
    s.p++;
    if (read_number(s, &t->second))
        return 1;
    if (at_field_end(s))
        return 0;
    if (*s.p == '.') {
        s.p++;
        return read_fraction(s, &t->fraction_ns, at_blank);
    }
    if (!is_space(*s.p))
        return fail(s, DT_MSG_CHAR);
    *at_blank = true;
    return 0;
}

/* Nothing may follow a complete value but blanks and the end of the field. */
int expect_field_end(dt_scan &s)
{
    skip_space(s);
    return at_field_end(s) ? 0 : fail(s, DT_MSG_CHAR);
}

/* [+|-]hh:mm after a date-time: the value becomes DT_DATETIME_ZONE. */
int read_zone(dt_scan &s, datetime_parts *out)
{
    bool negative = next_is(s, '-');
    if (next_is(s, '-') || next_is(s, '+'))
        s.p++;
    int32_t hours, minutes;
    if (read_number(s, &hours))
        return 1;
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (*s.p != ':')
        return fail(s, DT_MSG_CHAR);
    s.p++;
    if (read_number(s, &minutes))
        return 1;
    out->category = DT_DATETIME_ZONE;
    out->zone_hours = negative ? -hours : hours;
    out->zone_minutes = minutes;
    return 0;
}

/* What may follow a date-time after a blank: a zone offset, AM/PM (when
 * allowed and not given yet), or nothing. */
int read_trailer(dt_scan &s, datetime_parts *out, bool allow_ampm)
{
    skip_space(s);
    if (at_field_end(s))
        return 0;
    char c = *s.p;
    if (c == '+' || c == '-' || is_digit(c)) {
        if (read_zone(s, out))
            return 1;
        return expect_field_end(s);
    }
    int ampm = allow_ampm ? ampm_at(s) : 0;
    if (!ampm)
        return fail(s, DT_MSG_CHAR);
    s.p += 2;
    apply_ampm(&out->hour, ampm);
    if (at_field_end(s))
        return 0;
    if (!is_space(*s.p))
        return fail(s, DT_MSG_CHAR);
    return read_trailer(s, out, false);
}

void log_result(const dt_scan &s, const datetime_parts *o, bool month_form)
{
    QV_TRACE(s.log_h, LOG_DETAIL,
             month_form ? "timestamp format (a) type = %d,%d,%d values %d,%d,%d,%d,%d,%d,%d,%d,%d"
                        : "timestamp format type = %d,%d,%d values %d,%d,%d,%d,%d,%d,%d,%d,%d",
             s.may_date, s.may_time, s.may_datetime, o->year, o->month, o->day, o->hour,
             o->minute, o->second, o->fraction_ns, o->zone_hours, o->zone_minutes);
}

/* ---------------------------------------------------------------------- */
/* Month-name form: month-word day year [time] [zone]. s.p is at the word. */

int month_fail(dt_scan &s, int n) { return fail(s, month_form_msg[n]); }

int lookup_month(const char *word, size_t n)
{
    for (size_t i = 0; i < sizeof month_names / sizeof *month_names; i++)
        if (strlen(month_names[i]) == n && memcmp(month_names[i], word, n) == 0)
            return int(i % 12) + 1;
    return 0;
}

/* A run of digits that must start at the cursor (else failure `no_start`) and
 * must not run into the end of the text (else failure `ends`; ends 0: may). */
int month_form_number(dt_scan &s, int32_t *value, int no_start, int ends)
{
    if (!next_is_digit(s))
        return month_fail(s, no_start);
    const char *from = skip_digits(s);
    if (digits_to_int(from, s.p, value))
        return fail(s, DT_MSG_RANGE);
    if (ends && at_end(s))
        return month_fail(s, ends);
    return 0;
}

/* An 'A' or 'P' at the cursor must be AM or PM; returns its code or fails (10). */
int month_form_ampm(dt_scan &s, int *ampm)
{
    *ampm = ampm_at(s);
    if (!*ampm)
        return month_fail(s, 10);
    s.p += 2;
    return 0;
}

/* The time after the year: hh:mm[:ss[(.|:)fraction]][AM|PM]. Ends at the end
 * of the field or at a blank (*at_blank). */
int month_form_time(dt_scan &s, datetime_parts *o, bool *at_blank)
{
    int ampm = 0;
    if (month_form_number(s, &o->hour, 5, 5))
        return 1;
    if (*s.p != ':')
        return month_fail(s, 6);
    s.p++;
    if (month_form_number(s, &o->minute, 6, 0))
        return 1;
    if (at_field_end(s)) {
        /* hh:mm: seconds 0 */
    } else if (lower(*s.p) == 'a' || lower(*s.p) == 'p') {
        if (month_form_ampm(s, &ampm))
            return 1;
    } else if (*s.p != ':') {
        return month_fail(s, 7);
    } else {
        s.p++;
        if (month_form_number(s, &o->second, 8, 0))
            return 1;
        if (!at_field_end(s) && (*s.p == '.' || *s.p == ':')) {
            s.p++;
            const char *from = skip_digits(s);
            o->fraction_ns = fraction_to_nanos(from, s.p);
            if (!at_field_end(s) && !is_space(*s.p) && lower(*s.p) != 'a' && lower(*s.p) != 'p')
                return month_fail(s, 9);
        }
        if (at_field_end(s)) {
        } else if (lower(*s.p) == 'a' || lower(*s.p) == 'p') {
            if (month_form_ampm(s, &ampm))
                return 1;
        } else if (!is_space(*s.p)) {
            return month_fail(s, 8);
        }
    }
    apply_ampm(&o->hour, ampm);
    if (at_field_end(s))
        return 0;
    if (!is_space(*s.p))
        return month_fail(s, 8);
    *at_blank = true;
    return 0;
}

int parse_month_name_datetime(dt_scan &s, datetime_parts *o)
{
    QV_TRACE(s.log_h, LOG_DETAIL, "timestamp a format>%s<", log_copy(s.p, s.end).text);
    char word[MONTH_WORD_MAX];
    size_t n = 0;
    for (; s.p != s.end && is_alpha(*s.p); s.p++)
        if (n < sizeof word)
            word[n++] = lower(*s.p);
    if (at_end(s))
        return fail(s, DT_MSG_END);
    o->month = lookup_month(word, n);
    if (!o->month)
        return fail(s, DT_MSG_CHAR);

    skip_space(s);
    if (month_form_number(s, &o->day, 1, 2))
        return 1;
    skip_space(s);
    /* The year may end the text: "Jan 5 2014" is a complete date. */
    if (month_form_number(s, &o->year, 3, 0))
        return 1;
    if (o->year < 100)
        o->year += 2000;

    skip_space(s);
    o->category = DT_DATE;
    if (at_field_end(s)) {
        log_result(s, o, true);
        return 0;
    }
    if (!is_digit(*s.p))
        return fail(s, DT_MSG_CHAR);
    bool at_blank = false;
    if (month_form_time(s, o, &at_blank))
        return 1;
    o->category = DT_DATETIME;
    if (at_blank && read_trailer(s, o, false))
        return 1;
    log_result(s, o, true);
    return 0;
}

/* ---------------------------------------------------------------------- */
/* Numeric forms. */

/* yyyymmdd in the 8 digits at `d`, optionally followed by a blank and a time. */
int compact_date(dt_scan &s, const char *d, datetime_parts *o)
{
    digits_to_int(d, d + 4, &o->year);
    digits_to_int(d + 4, d + 6, &o->month);
    digits_to_int(d + 6, d + 8, &o->day);
    o->category = DT_DATE;
    if (at_field_end(s))
        return 0;
    if (!is_space(*s.p))
        return fail(s, DT_MSG_CHAR);
    s.p++;
    /* the time follows the blank at once */
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (!is_digit(*s.p))
        return fail(s, DT_MSG_CHAR);
    time_fields t = {};
    bool at_blank = false;
    if (read_time_part(s, &t, &at_blank))
        return 1;
    o->category = DT_DATETIME;
    o->hour = t.hour;
    o->minute = t.minute;
    o->second = t.second;
    o->fraction_ns = t.fraction_ns;
    return at_blank ? read_trailer(s, o, true) : 0;
}

/* A separator between numbers rules out what it cannot belong to. */
int apply_separator(dt_scan &s)
{
    char c = *s.p;
    if (c == '-' || c == '/') {
        if (!s.may_date && !s.may_datetime)
            return fail(s, DT_MSG_CHAR);
        s.may_time = 0;
    } else if (c == ':') {
        if (!s.may_time)
            return fail(s, DT_MSG_CHAR);
        s.may_date = s.may_datetime = 0;
    } else {
        return fail(s, DT_MSG_CHAR);
    }
    s.p++;
    return 0;
}

/* What follows the third number after blanks: a time part of a date-time, or
 * a fraction of a time. Returns with *at_blank when a trailer may follow. */
int after_third_number(dt_scan &s, time_fields *t, bool *at_blank)
{
    *at_blank = false;
    skip_space(s);
    if (at_field_end(s))
        return 0;
    char c = *s.p;
    if (is_digit(c) || c == ':') {
        /* hh:mm:ss (or :mm:ss, hour 0) makes the value a date-time */
        if (!s.may_datetime)
            return fail(s, DT_MSG_CHAR);
        s.may_date = s.may_time = 0;
        return read_time_part(s, t, at_blank);
    }
    if (c == '.') {
        if (!s.may_time)
            return fail(s, DT_MSG_CHAR);
        s.may_date = s.may_datetime = 0;
        s.p++;
        return read_fraction(s, &t->fraction_ns, at_blank);
    }
    return fail(s, DT_MSG_CHAR);
}

/* The category from the flags left after three numbers n[0..2]. */
void classify(const dt_scan &s, const int32_t n[3], const time_fields &t, datetime_parts *o)
{
    if (s.may_date) {
        o->category = DT_DATE;
        o->year = n[0], o->month = n[1], o->day = n[2];
    } else if (!s.may_time) {
        o->category = DT_DATETIME;
        /* dd-mm-yyyy: only a third number that cannot be a day is a year */
        if (n[2] > 31 && n[0] < 32 && n[1] < 32)
            o->year = n[2], o->month = n[1], o->day = n[0];
        else
            o->year = n[0], o->month = n[1], o->day = n[2];
        o->hour = t.hour, o->minute = t.minute, o->second = t.second;
        o->fraction_ns = t.fraction_ns;
    } else {
        o->category = DT_TIME;
        o->hour = n[0], o->minute = n[1], o->second = n[2];
        o->fraction_ns = t.fraction_ns;
    }
}

/* Three numbers with separators, s.p at the first digit. */
int scan_numeric_form(dt_scan &s, datetime_parts *o)
{
    int32_t n[3] = {0, 0, 0};
    const char *first = skip_digits(s);
    bool all_flags = s.may_date && s.may_time && s.may_datetime;
    if (at_field_end(s) || !(*s.p == '-' || *s.p == ':' || *s.p == '/')) {
        if (all_flags && s.p - first == 8)
            return compact_date(s, first, o);
        return fail(s, at_field_end(s) ? DT_MSG_END : DT_MSG_CHAR);
    }
    if (digits_to_int(first, s.p, &n[0]))
        return fail(s, DT_MSG_RANGE);
    if (apply_separator(s))
        return 1;
    QV_TRACE(s.log_h, LOG_DETAIL, "initial catogory %d,%d,%d (%d) >%s<", s.may_date, s.may_time,
             s.may_datetime, n[0], log_copy(s.p, s.end).text);
    if (at_end(s))
        return fail(s, DT_MSG_END);

    if (read_number(s, &n[1]))
        return 1;
    if (at_field_end(s)) {
        if (!s.may_time)
            return fail(s, DT_MSG_END);
        QV_TRACE(s.log_h, LOG_DETAIL, "HH:MM Time format");
        o->category = DT_TIME;
        o->hour = n[0];
        o->minute = n[1];
        return 0;
    }
    if (apply_separator(s))
        return 1;
    QV_TRACE(s.log_h, LOG_DETAIL, "secondary catogory %d,%d,%d (%d,%d)", s.may_date, s.may_time,
             s.may_datetime, n[0], n[1]);

    if (read_number(s, &n[2]))
        return 1;
    time_fields t = {};
    bool at_blank = false;
    if (at_field_end(s)) {
        /* complete */
    } else if (*s.p == '.') {
        if (!s.may_time)
            return fail(s, DT_MSG_CHAR);
        s.p++;
        if (read_fraction(s, &t.fraction_ns, &at_blank))
            return 1;
    } else if (is_space(*s.p)) {
        if (after_third_number(s, &t, &at_blank))
            return 1;
    } else {
        return fail(s, DT_MSG_CHAR);
    }
    classify(s, n, t, o);
    if (!at_blank)
        return 0;
    /* Only a date-time takes a zone or AM/PM; after anything else a blank
     * may only lead to the end (a PM silently ignored would be a wrong time). */
    return o->category == DT_DATETIME ? read_trailer(s, o, true) : expect_field_end(s);
}

/* Optional "{d", "{t" or "{ts": keeps only the flag it names. */
int read_introducer(dt_scan &s)
{
    if (!next_is(s, '{'))
        return 0;
    s.p++;
    skip_space(s);
    if (at_end(s))
        return fail(s, DT_MSG_END);
    char c = *s.p++;
    if (c == 'd') {
        s.may_time = s.may_datetime = 0;
    } else if (c == 't' && next_is(s, 's')) {
        s.p++;
        s.may_date = s.may_time = 0;
    } else if (c == 't') {
        s.may_date = s.may_datetime = 0;
    } else {
        return fail(s, DT_MSG_INTRODUCER);
    }
    return 0;
}

int scan_value(dt_scan &s, datetime_parts *o)
{
    skip_space(s);
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (read_introducer(s))
        return 1;
    skip_space(s);
    if (next_is(s, '\''))
        s.p++;
    if (at_end(s))
        return fail(s, DT_MSG_END);
    if (is_alpha(*s.p))
        return parse_month_name_datetime(s, o);
    if (!is_digit(*s.p))
        return fail(s, DT_MSG_CHAR);
    if (scan_numeric_form(s, o))
        return 1;
    log_result(s, o, false);
    return 0;
}

/* A part into an unsigned 16-bit structure field. */
bool fits_u16(int32_t v) { return v >= 0 && v <= 65535; }

} // namespace

int digits_to_int(const char *from, const char *to, int32_t *value)
{
    int64_t v = 0;
    for (; from < to; from++) {
        v = v * 10 + (*from - '0');
        if (v > INT32_MAX)
            return -1;
    }
    *value = int32_t(v);
    return 0;
}

int32_t fraction_to_nanos(const char *from, const char *to)
{
    int32_t v = 0;
    int n = 0;
    for (; from < to && n < 9; from++, n++)
        v = v * 10 + (*from - '0');
    for (; n < 9; n++)
        v *= 10;
    return v;
}

int scan_datetime(const void *log_h, const char *text, size_t len, datetime_parts *out,
                  const char **reason)
{
    *out = datetime_parts();
    if (!text) {
        text = "";
        len = 0;
    }
    /* An application's text ends at a NUL even when its count says more. */
    const char *nul = len ? static_cast<const char *>(memchr(text, 0, len)) : nullptr;
    dt_scan s = {log_h, text, nul ? nul : text + len, 1, 1, 1, nullptr};
    QV_TRACE(log_h, LOG_DETAIL, "timestamp format>%s<", log_copy(s.p, s.end).text);
    if (scan_value(s, out)) {
        *reason = s.reason;
        return 1;
    }
    *reason = nullptr;
    return 0;
}

int parse_datetime_text(my_statement *stmt, const char *text, size_t len, datetime_parts *out,
                        int column)
{
    const char *reason = nullptr;
    if (!scan_datetime(stmt, text, len, out, &reason))
        return 0;
    QV_TRACE(stmt, LOG_ERROR, "%s", reason);
    int state = reason == DT_MSG_RANGE ? ST_22003 : ST_22018;
    if (stmt)
        post_error_col(stmt, state, 0, column, "%s", reason);
    return state;
}

void datetime_today(sql_date_value *today)
{
    time_t now = time(nullptr);
    struct tm lt;
    if (!localtime_r(&now, &lt)) {
        *today = sql_date_value();
        return;
    }
    today->year = int16_t(lt.tm_year + 1900);
    today->month = uint16_t(lt.tm_mon + 1);
    today->day = uint16_t(lt.tm_mday);
}

int datetime_to_date(const datetime_parts *p, const sql_date_value *today, sql_date_value *out)
{
    if (p->category == DT_TIME) {
        *out = today ? *today : sql_date_value();
        return 0;
    }
    if (p->year < 0 || p->year > 32767 || !fits_u16(p->month) || !fits_u16(p->day))
        return 1;
    out->year = int16_t(p->year);
    out->month = uint16_t(p->month);
    out->day = uint16_t(p->day);
    return 0;
}

int datetime_to_time(const datetime_parts *p, sql_time_value *out)
{
    if (!fits_u16(p->hour) || !fits_u16(p->minute) || !fits_u16(p->second))
        return 1;
    out->hour = uint16_t(p->hour);
    out->minute = uint16_t(p->minute);
    out->second = uint16_t(p->second);
    return 0;
}

int datetime_to_timestamp(const datetime_parts *p, const sql_date_value *today,
                          sql_timestamp_value *out)
{
    sql_date_value d;
    sql_time_value t;
    if (datetime_to_date(p, today, &d) || datetime_to_time(p, &t))
        return 1;
    out->year = d.year;
    out->month = d.month;
    out->day = d.day;
    out->hour = t.hour;
    out->minute = t.minute;
    out->second = t.second;
    out->fraction = uint32_t(p->fraction_ns);
    return 0;
}
