/*
 * Column values: the text-row column reader, the value holders and the
 * conversion of a held value into the application's C type.
 *
 * The row readers (text rows here, binary rows and internal result sets
 * elsewhere) fill each IRD record's data_storage; my_get_data converts the
 * held value for SQLGetData and for bound columns.
 *
 * Held representations (data_storage::data_type):
 *   SQL_CHAR (1), SQL_BINARY (-2)  the bytes (see bytes/bytes_row), alloc_length long
 *   SQL_NUMERIC (2)     v.numeric, or, when bytes is set, the decimal text the
 *                       server sent (converted only when asked for: the text
 *                       keeps trailing zeros and more digits than 128 bits hold)
 *   SQL_INTEGER (4)     v.i32, unsigned when is_unsigned (or the column's flag) is set
 *   SQL_BIGINT (-5)     v.i64, likewise
 *   SQL_FLOAT (6)       v.f          SQL_DOUBLE (8)   v.d
 *   SQL_DATE (9), SQL_TYPE_DATE (91)  v.date
 *   SQL_TYPE_TIMESTAMP (93)           v.timestamp, fraction in nanoseconds
 *   0                   no value: no row is positioned, or the row's decoding
 *                       stopped before this column
 * isnull marks NULL whatever the representation.
 */
#ifndef QV_MY_DATA_H
#define QV_MY_DATA_H

#include <string.h>

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"
#include "results/my_convert.h"

/* Decodes column index (0-based) of stmt->current_row into IRD record
 * index+1, advancing the row's read cursor. Allocates nothing: character,
 * binary and decimal values stay in the row packet (valid until the next
 * row is read).
 * 0; 1 when the value could not be decoded as its column type (a diagnostic
 * with the column number is posted, the value is held as the text the
 * server sent with the holder's refused mark, and the row's other columns
 * are still read); -1 the row is unusable, with a diagnostic posted (08S01
 * for a row whose lengths run past the packet, HY003 for a column type
 * without a text form): this column and those after it hold no value. */
int read_text_column(my_statement *s, int index);
/* read_text_column for every column of the row, in one pass: 0; 1 when a
 * value did not decode (as read_text_column; the row is still delivered);
 * -1 the row is unusable. */
int read_text_row(my_statement *s);

/* Converts column `column` (0 = bookmark) into target_type. ind receives the
 * length or SQL_NULL_DATA, oct the octet length (ignored when equal to ind).
 * SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA (the value was delivered
 * completely before) or SQL_ERROR, with diagnostics on s. */
SQLRETURN my_get_data(my_statement *s, int column, int target_type, void *target,
                      SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct);

/* ---- bound columns (the fetch's plan, my_fetch.cpp) ---- */

/* Direct copies of a held value into a bound buffer, for the pairs of
 * column and target type where the held value is already the target's
 * image (bound_column::direct). */
enum { BC_NONE, BC_I32, BC_I32_TO_I64, BC_I64, BC_F64, BC_TIMESTAMP, BC_DATE, BC_TEXT };
/* The direct copy a bound column of IRD record f and (resolved) C type
 * c_type can take, and in *held_type the representation it takes it from;
 * BC_NONE when every value goes through the converter. */
int bound_direct_copy(const my_statement *s, const field *f, int c_type, int *held_type);
/* The converter my_get_data chooses for a resolved C type; null when the
 * type has none. */
converter column_converter(const my_statement *s, int c_type);
static inline void bound_lengths(SQLLEN *ind, SQLLEN *oct, SQLLEN n)
{
    if (ind)
        *ind = n;
    if (oct)
        *oct = n;
}

/* The direct copy of bound column b (b.direct set) from its held value ds:
 * 1 when done, 0 when the value is not in the form the plan expected (or
 * does not fit), and the converter must take it. Inline: it runs for every
 * bound column of every row. */
static inline int bound_direct_copy_value(const my_statement *s, const bound_column &b,
                                          const data_storage &ds, void *target,
                                          SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct)
{
    if (!ds.refused) {
        if (ds.isnull && ind) {
            *ind = SQL_NULL_DATA;
            if (oct)
                *oct = 0;
            return 1;
        }
        if (ds.data_type == b.held_type && !ds.isnull) {
            switch (b.direct) {
            case BC_I32:
                if (ds.is_unsigned)
                    break;
                if (target)
                    memcpy(target, &ds.v.i32, 4);
                bound_lengths(ind, oct, 4);
                return 1;
            case BC_I32_TO_I64:
                if (ds.is_unsigned)
                    break;
                if (target) {
                    int64_t v = ds.v.i32;
                    memcpy(target, &v, 8);
                }
                bound_lengths(ind, oct, 8);
                return 1;
            case BC_I64:
                if (ds.is_unsigned)
                    break;
                if (target)
                    memcpy(target, &ds.v.i64, 8);
                bound_lengths(ind, oct, 8);
                return 1;
            case BC_F64:
                if (target)
                    memcpy(target, &ds.v.d, 8);
                bound_lengths(ind, oct, 8);
                return 1;
            case BC_TIMESTAMP:
                if (target)
                    memcpy(target, &ds.v.timestamp, sizeof ds.v.timestamp);
                bound_lengths(ind, oct, (SQLLEN)sizeof ds.v.timestamp);
                return 1;
            case BC_DATE:
                if (target)
                    memcpy(target, &ds.v.date, sizeof ds.v.date);
                bound_lengths(ind, oct, (SQLLEN)sizeof ds.v.date);
                return 1;
            case BC_TEXT: {
                /* whole values that fit; a cut one takes the converter's path */
                const unsigned char *bytes = ds.bytes ? ds.bytes
                                             : ds.data_type == SQL_CHAR ? ds.buffer : nullptr;
                SQLLEN len = ds.alloc_length;
                if (!target || !bytes || len >= buffer_length || ds.value_offset != 0 ||
                    (ds.bytes_row && ds.bytes_row != s->current_row))
                    break;
                memcpy(target, bytes, (size_t)len);
                ((char *)target)[len] = 0;
                bound_lengths(ind, oct, len);
                return 1;
            }
            }
        }
    }
    return 0;
}

/* Fills bound column b from the current row: the direct copy when the held
 * value has the form the plan expects and fits, else b's converter with
 * my_get_data's checks and diagnostics. Same results as my_get_data. */
SQLRETURN get_bound_value(my_statement *s, const bound_column &b, void *target,
                          SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct);

/* 0 when the holder's value was refused by the row reader (its diagnostic
 * is posted) and C type c_type cannot show what is held instead; else 1. */
int storage_serves(const data_storage &ds, int c_type);

/* Frees held values and clears every result column's holder. */
void reset_column_values(my_statement *s);

/* ---- filling a holder (every row reader) ---- */

/* Starts the holder's next value: clears the null flag, the lengths, the
 * retrieval position, data_done and the byte view; keeps the reusable buffer. */
static inline void storage_begin(data_storage *ds)
{
    ds->isnull = 0;
    ds->alloc_length = 0;
    ds->value_offset = 0;
    ds->data_done = 0;
    ds->wide_offset = 0;
    ds->bytes = nullptr;
    ds->bytes_row = nullptr;
    ds->refused = 0;
}
/* Holds len bytes as data_type (SQL_CHAR, SQL_BINARY, or SQL_NUMERIC for a
 * decimal's text) where they lie. row is the packet they lie in, or null
 * when they live as long as the result. */
void storage_view(data_storage *ds, int data_type, const unsigned char *bytes, uint32_t len,
                  const my_packet *row);
/* The same, copied into the holder's reusable buffer (grown only when the
 * value is larger than any before). 0, or -1 when memory runs out (nothing
 * posted; the holder is left without a value). */
int storage_copy(data_storage *ds, int data_type, const void *bytes, uint32_t len);
/* Frees the reusable buffer and clears the holder (data_type 0). */
void storage_release(data_storage *ds);

/* How a column of each concise type is held, in text and binary rows
 * alike (see the representations above). HK_NONE: the type has none. */
enum held_kind {
    HK_NONE, HK_CHAR, HK_BINARY, HK_DECIMAL, HK_INT, HK_BIGINT, HK_BIT, HK_REAL, HK_DOUBLE,
    HK_DATE, HK_TIMESTAMP,
};
/* Inline: the row readers ask for every value they read. */
static inline held_kind held_kind_of(int concise)
{
    switch (concise) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_TIME: case SQL_TYPE_TIME:   /* times stay text: durations exceed a day */
        return HK_CHAR;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return HK_BINARY;
    case SQL_DECIMAL: case SQL_NUMERIC: return HK_DECIMAL;
    case SQL_INTEGER: case SQL_SMALLINT: case SQL_TINYINT: return HK_INT;
    case SQL_BIGINT: return HK_BIGINT;
    case SQL_BIT: return HK_BIT;
    case SQL_REAL: return HK_REAL;
    case SQL_FLOAT: case SQL_DOUBLE: return HK_DOUBLE;
    case SQL_DATE: case SQL_TYPE_DATE: return HK_DATE;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return HK_TIMESTAMP;
    }
    return HK_NONE;
}

/* The representation a NULL of each kind is marked with (0 for HK_NONE). */
static inline int held_null_type(held_kind k)
{
    static const int types[] = {0, SQL_CHAR, SQL_BINARY, SQL_NUMERIC, SQL_INTEGER, SQL_BIGINT,
                                SQL_INTEGER, SQL_FLOAT, SQL_DOUBLE, SQL_DATE, SQL_TYPE_TIMESTAMP};
    return types[k];
}

/* A BIT value as the server sends it, its bytes big-endian: held as an
 * unsigned number, or as binary when longer than 8 bytes (row as for
 * storage_view). */
void storage_hold_bit(data_storage *ds, const unsigned char *bytes, uint32_t len,
                      const my_packet *row);
/* Clears the holders of column index (0-based) and those after it: after a
 * column that failed they must keep neither the previous row's values nor
 * views into a packet about to go. */
void clear_values_from(my_statement *s, int index);

#endif
