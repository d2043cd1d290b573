/*
 * Internal result sets: results the driver builds in memory (catalog
 * functions, SQLGetTypeInfo) and the application then reads through the
 * ordinary fetch and conversion path.
 *
 * A caller creates the set on the application's statement with a constant
 * column layout and its sort keys, inserts rows as text in any order, and
 * leaves it there. The rows come out ordered on the keys: a NULL key sorts
 * before any value, VARCHAR keys compare byte-wise as unsigned characters
 * (case-sensitive), INTEGER and SMALLINT keys compare as base-10 numbers,
 * and rows with equal keys keep their insertion order.
 *
 * Rows are collected in insertion order and sorted once, when the first
 * fetch needs them, so building a large set costs O(n log n) whatever order
 * the caller inserts in.
 */
#ifndef QV_MY_INTERNALRS_H
#define QV_MY_INTERNALRS_H

#include <stddef.h>
#include <stdint.h>

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"

/* One column of a layout. Only SQL_VARCHAR, SQL_INTEGER and SQL_SMALLINT
 * are supported; length is the VARCHAR length (ignored for the others). */
struct internal_rs_column {
    const char *name;
    int32_t sql_type;
    int32_t length;
    int32_t nullable;      /* SQL_NULLABLE or SQL_NO_NULLS */
};

/* A column count followed by the columns. The columns are not copied: they
 * must outlive the set (the layouts are constant tables). */
struct internal_rs_layout {
    int32_t column_count;
    const internal_rs_column *columns;
};

template <size_t N>
constexpr internal_rs_layout irs_layout(const internal_rs_column (&cols)[N])
{
    return internal_rs_layout{(int32_t)N, cols};
}

/* Replaces the statement's internal result set (if any) by a new, empty one
 * with the given layout. keys: 1-based column numbers in order of
 * precedence, ending with 0 (null or an immediate 0: insertion order).
 * The statement's IRD becomes its implicit IRD with one fresh record per
 * column, described as the layout says; data_waiting and described are set.
 * Returns 0, or -1 with HY001 posted when memory runs out (the statement is
 * then left without an internal result set). */
int internal_rs_create(my_statement *stmt, const internal_rs_layout *layout, const int *keys);

/* Adds a row: values holds one NUL-terminated text per layout column, or
 * null for SQL NULL (numbers as their decimal text; text in the bytes the
 * connection's character set gives them). The values are copied.
 * Returns 0, or -1 with HY000 "Attempting to insert to empty internal result
 * set" when the statement has no set, or HY001 when memory runs out. */
int internal_rs_insert(my_statement *stmt, const char *const *values);

/* Moves to the next row, puts its values into the IRD value holders and
 * fills the bound columns (transfer_bound_columns). Returns that result,
 * SQL_NO_DATA past the last row (and on every later call), or SQL_ERROR
 * with HY000 "Scrolling fetch from internal result set" for any orientation
 * other than SQL_FETCH_NEXT, or with HY001 when a value holder cannot grow.
 * *delivered (when given) is set to 1 once the row's values are held, so a
 * failure of the bound columns can be told from a row that was not read. */
SQLRETURN internal_rs_fetch(my_statement *stmt, int orientation = SQL_FETCH_NEXT,
                            int *delivered = nullptr);

/* Number of rows inserted into the statement's set (0 without a set). */
size_t internal_rs_row_count(const my_statement *stmt);

/* Frees the set and its rows and clears stmt->internal_rs. */
void internal_rs_free(my_statement *stmt);

#endif
