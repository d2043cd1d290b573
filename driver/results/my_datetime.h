/*
 * Date and time scanner: turns the text of a date, time or date-time value
 * into its parts. Shared by the text-row reader (DATE/DATETIME columns) and
 * by parameter conversion (character data bound to date/time SQL types).
 *
 * Accepted forms (a leading "{d", "{t" or "{ts" escape introducer narrows
 * the choice; a "'" ends a field like the end of the text does):
 *   2014-05-06          2014/05/06          20140506      date
 *   2014-05-06 10:20:30[.fraction] [AM|PM | +hh:mm | -hh:mm]      date-time
 *   06-05-2014 10:20:30 (day first, when the third number is above 31)
 *   20140506 10:20:30[.fraction]                                   date-time
 *   10:20   10:20:30[.fraction]                                     time
 *   Jan 5 2014 [10:20[:30[.fraction]][AM|PM]] [+hh:mm]   month names
 * The ranges of the parts are not checked (month 13 passes): callers use
 * them as they are, and the builders below only refuse parts that do not
 * fit the fields of the ODBC structures.
 *
 * Texts come straight out of row packets or application buffers: they are
 * counted, not terminated, and nothing past `len` is ever read (a NUL byte
 * inside the count ends the text, as it would for the application).
 * The scanner allocates nothing.
 */
#ifndef QV_MY_DATETIME_H
#define QV_MY_DATETIME_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

enum datetime_category {
    DT_DATETIME = 1,        /* year..second and fraction */
    DT_DATE = 2,            /* year, month, day */
    DT_TIME = 3,            /* hour, minute, second, fraction */
    DT_DATETIME_ZONE = 4,   /* as DT_DATETIME plus zone_hours/zone_minutes */
};

/* Results of one scan; every part is 0 unless the text sets it. */
struct datetime_parts {
    int32_t category;       /* datetime_category */
    int32_t year, month, day;
    int32_t hour, minute, second;
    int32_t fraction_ns;    /* nanoseconds, 0..999999999: digits past the
                               ninth are dropped, fewer are padded */
    int32_t zone_hours;     /* signed; reported only, callers ignore it */
    int32_t zone_minutes;
};

/* Failure reasons (the diagnostic's detail text). */
extern const char DT_MSG_END[];        /* "unexpected end of string" */
extern const char DT_MSG_INTRODUCER[]; /* "invalid ODBC date/time introducer" */
extern const char DT_MSG_CHAR[];       /* "invalid character in date/time string" */
extern const char DT_MSG_RANGE[];      /* a number too large for any field */

/* The scanner itself. log_h (any handle, may be null) receives the trace
 * lines. Returns 0 with *out filled, or 1 with *reason set to one of the
 * DT_MSG_* texts or a numbered month-name variant ("... string (3)"); the
 * parts are then not to be used. */
int scan_datetime(const void *log_h, const char *text, size_t len, datetime_parts *out,
                  const char **reason);

/* scan_datetime plus the diagnostic: on failure logs the reason (mode 8) and
 * posts it on stmt with `column` as column number: 22018 for a text that is
 * not a date/time value, 22003 for a number too large for its field.
 * Returns 0, or the SQLSTATE row of the failure (ST_22018 or ST_22003).
 * stmt may be null (nothing is posted). */
int parse_datetime_text(my_statement *stmt, const char *text, size_t len, datetime_parts *out,
                        int column);

/* Value of the digits in [from, to): 0 with *value set, or -1 when it does
 * not fit in 31 bits (leading zeros are free). Digits only, not checked. */
int digits_to_int(const char *from, const char *to, int32_t *value);
/* Fraction digits in [from, to) as nanoseconds: the first 9 digits, right
 * padded with zeros; no digits give 0. */
int32_t fraction_to_nanos(const char *from, const char *to);

/* ---- into the ODBC structures ----
 * Each returns 0, or 1 when a part does not fit its structure field (a year
 * above 32767, any other part above 65535); the caller reports 22003. */

/* Today's local date (time-only values take it). */
void datetime_today(sql_date_value *today);
/* Any category: a date-only value gets 00:00:00.0, a time-only value gets
 * *today (which may be null for the other categories). The zone is dropped. */
int datetime_to_timestamp(const datetime_parts *p, const sql_date_value *today,
                          sql_timestamp_value *out);
/* The date part (a time-only value gets *today). */
int datetime_to_date(const datetime_parts *p, const sql_date_value *today, sql_date_value *out);
/* The time part (a date-only value gives 00:00:00). The fraction is dropped:
 * the caller decides whether that is a truncation to report. */
int datetime_to_time(const datetime_parts *p, sql_time_value *out);

#endif
