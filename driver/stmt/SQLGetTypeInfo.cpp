/*
 * SQLGetTypeInfo / SQLGetTypeInfoW: the SQL data types, answered as an
 * internal result set sorted on DATA_TYPE.
 *
 * One table holds every type row. The full listing (SQL_ALL_TYPES) depends
 * on the connection's ODBC behaviour (the date/time rows carry the ODBC 2 or
 * the ODBC 3 codes) and on the call (the wide call adds the Unicode
 * character types); a single data type answers the rows of that listing
 * whose DATA_TYPE is the type asked for.
 */
#include <stdio.h>

#include <new>
#include <vector>

#include "frame/my_handle.h"
#include "results/my_internalrs.h"
#include "stmt/my_stmt.h"

namespace {

/* TYPE_NAME and LOCAL_TYPE_NAME hold names of up to 43 bytes ("binary large
 * object, use mediumblob instead"): their declared length must cover them,
 * or applications that size buffers by it lose the end of the names. */
const internal_rs_column type_info_columns[] = {
    {"TYPE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"COLUMN_SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
    {"LITERAL_PREFIX", SQL_VARCHAR, 31, SQL_NULLABLE},
    {"LITERAL_SUFFIX", SQL_VARCHAR, 31, SQL_NULLABLE},
    {"CREATE_PARAMS", SQL_VARCHAR, 31, SQL_NULLABLE},
    {"NULLABLE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"CASE_SENSITIVE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"SEARCHABLE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"UNSIGNED_ATTRIBUTE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"FIXED_PREC_SCALE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    /* NULL for the types where it does not apply, so described nullable */
    {"AUTO_UNIQUE_VALUE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"LOCAL_TYPE_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"MINIMUM_SCALE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"MAXIMUM_SCALE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"SQL_DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"SQL_DATETIME_SUB", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NUM_PREC_RADIX", SQL_INTEGER, 0, SQL_NULLABLE},
    {"INTERVAL_PRECISION", SQL_SMALLINT, 0, SQL_NULLABLE},
};
const internal_rs_layout type_info_layout = irs_layout(type_info_columns);
const int type_info_keys[] = {2, 0};   /* DATA_TYPE */

enum { NA = -1 };   /* SQL NULL in a numeric cell */

/* CASE_SENSITIVE and FIXED_PREC_SCALE are 0 and INTERVAL_PRECISION is NULL
 * in every row. */
struct type_row {
    const char *type_name;
    int16_t data_type;
    int32_t column_size;
    const char *prefix, *suffix, *create_params;   /* null: SQL NULL */
    int8_t nullable;
    int8_t searchable;
    int8_t unsigned_attr, auto_unique;             /* NA: SQL NULL */
    const char *local_type_name;
    int8_t min_scale, max_scale;
    int16_t sql_data_type, datetime_sub;
    int8_t radix;
};

#define Q "'", "'"
#define NOQ nullptr, nullptr

/* Order matters: the enum below names these rows and the listings take
 * ranges of them. */
const type_row type_rows[] = {
    {"bit", -7, 1, NOQ, nullptr, 1, 3, NA, NA, "bit(1)", NA, NA, -7, NA, NA},
    {"tinyint", -6, 3, NOQ, nullptr, 1, 3, 0, 0, "tinyint", NA, NA, -6, NA, 10},
    {"tinyint unsigned", -6, 3, NOQ, nullptr, 1, 3, 1, 0, "tinyint unsigned", NA, NA, -6, NA, 10},
    {"tinyint auto_increment", -6, 3, NOQ, nullptr, 0, 3, 0, 1, "tinyint auto_increment", NA, NA, -6, NA, 10},
    {"tinyint unsigned auto_increment", -6, 3, NOQ, nullptr, 0, 3, 1, 1,
     "tinyint unsigned auto_increment", NA, NA, -6, NA, 10},
    {"bigint", -5, 19, NOQ, nullptr, 1, 3, 0, 0, "bigint", NA, NA, -5, NA, 10},
    {"bigint unsigned", -5, 20, NOQ, nullptr, 1, 3, 1, 0, "bigint unsigned", NA, NA, -5, NA, 10},
    {"bigint auto_increment", -5, 19, NOQ, nullptr, 0, 3, 0, 1, "bigint auto_increment", NA, NA, -5, NA, 10},
    {"bigint unsigned auto_increment", -5, 20, NOQ, nullptr, 0, 3, 1, 1,
     "bigint unsigned auto_increment", NA, NA, -5, NA, 10},
    {"long varbinary", -4, 16777215, "0x", nullptr, nullptr, 1, 3, NA, NA, "mediumblob", NA, NA, -4, NA, NA},
    {"blob", -4, 65535, Q, nullptr, 1, 3, NA, NA, "binary large object (0-65535)", NA, NA, -4, NA, NA},
    {"longblob", -4, 2147483647, Q, nullptr, 1, 3, NA, NA, "binary large object, use mediumblob instead",
     NA, NA, -4, NA, NA},
    {"tinyblob", -4, 255, Q, nullptr, 1, 3, NA, NA, "binary large object (0-255)", NA, NA, -4, NA, NA},
    {"mediumblob", -4, 16777215, Q, nullptr, 1, 3, NA, NA, "binary large object", NA, NA, -4, NA, NA},
    {"varbinary", -3, 255, Q, "length", 1, 3, NA, NA, "varbinary", NA, NA, -3, NA, NA},
    {"binary", -2, 255, Q, "length", 1, 3, NA, NA, "binary", NA, NA, -2, NA, NA},
    {"long varchar", -1, 16777215, Q, nullptr, 1, 3, NA, NA, "mediumtext", NA, NA, -1, NA, NA},
    {"text", -1, 65535, Q, nullptr, 1, 3, NA, NA, "text(0-65535)", NA, NA, -1, NA, NA},
    {"mediumtext", -1, 16777215, Q, nullptr, 1, 3, NA, NA, "mediumtext", NA, NA, -1, NA, NA},
    {"longtext", -1, 2147483647, Q, nullptr, 1, 3, NA, NA, "longtext", NA, NA, -1, NA, NA},
    {"tinytext", -1, 255, Q, nullptr, 1, 3, NA, NA, "tinytext", NA, NA, -1, NA, NA},
    {"char", 1, 255, Q, "length", 1, 3, NA, NA, "char", NA, NA, 1, NA, NA},
    {"numeric", 2, 19, NOQ, "precision,scale", 1, 3, 0, 0, "numeric", 0, 19, 2, NA, 10},
    {"decimal", 3, 19, NOQ, "precision,scale", 1, 3, 0, 0, "decimal", 0, 19, 3, NA, 10},
    {"integer", 4, 10, NOQ, nullptr, 1, 3, 0, 0, "integer", NA, NA, 4, NA, 10},
    {"integer unsigned", 4, 10, NOQ, nullptr, 1, 3, 1, 0, "integer unsigned", NA, NA, 4, NA, 10},
    {"int", 4, 10, NOQ, nullptr, 1, 3, 0, 0, "integer", NA, NA, 4, NA, 10},
    {"int unsigned", 4, 10, NOQ, nullptr, 1, 3, 1, 0, "integer unsigned", NA, NA, 4, NA, 10},
    {"mediumint", 4, 7, NOQ, nullptr, 1, 3, 0, 0, "Medium integer", NA, NA, 4, NA, 10},
    {"mediumint unsigned", 4, 8, NOQ, nullptr, 1, 3, 1, 0, "Medium integer unsigned", NA, NA, 4, NA, 10},
    {"integer auto_increment", 4, 10, NOQ, nullptr, 0, 3, 0, 1, "integer auto_increment", NA, NA, 4, NA, 10},
    {"integer unsigned auto_increment", 4, 10, NOQ, nullptr, 0, 3, 1, 1,
     "integer unsigned auto_increment", NA, NA, 4, NA, 10},
    {"int auto_increment", 4, 10, NOQ, nullptr, 0, 3, 0, 1, "integer auto_increment", NA, NA, 4, NA, 10},
    {"int unsigned auto_increment", 4, 10, NOQ, nullptr, 0, 3, 1, 1, "integer unsigned auto_increment",
     NA, NA, 4, NA, 10},
    {"mediumint auto_increment", 4, 7, NOQ, nullptr, 0, 3, 0, 1, "Medium integer auto_increment",
     NA, NA, 4, NA, 10},
    {"mediumint unsigned auto_increment", 4, 8, NOQ, nullptr, 0, 3, 1, 1,
     "Medium integer unsigned auto_increment", NA, NA, 4, NA, 10},
    {"smallint", 5, 5, NOQ, nullptr, 1, 3, 0, 0, "smallint", NA, NA, 5, NA, 10},
    {"smallint unsigned", 5, 5, NOQ, nullptr, 1, 3, 1, 0, "smallint unsigned", NA, NA, 5, NA, 10},
    {"smallint auto_increment", 5, 5, NOQ, nullptr, 0, 3, 0, 1, "smallint auto_increment", NA, NA, 5, NA, 10},
    {"smallint unsigned auto_increment", 5, 5, NOQ, nullptr, 0, 3, 1, 1,
     "smallint unsigned auto_increment", NA, NA, 5, NA, 10},
    {"double", 6, 15, NOQ, nullptr, 1, 3, 0, 0, "double", 0, 4, 6, NA, 10},
    {"double auto_increment", 6, 15, NOQ, nullptr, 0, 3, 0, 1, "double auto_increment", 0, 4, 6, NA, 10},
    {"float", 7, 7, NOQ, nullptr, 1, 0, 0, 0, "float", 0, 2, 7, NA, 10},
    {"float auto_increment", 7, 7, NOQ, nullptr, 0, 0, 0, 1, "float auto_increment", 0, 2, 7, NA, 10},
    {"double", 8, 15, NOQ, nullptr, 1, 3, 0, 0, "double", 0, 4, 8, NA, 10},
    {"double auto_increment", 8, 15, NOQ, nullptr, 0, 3, 0, 1, "double auto_increment", 0, 4, 8, NA, 10},
    {"year", 5, 4, NOQ, nullptr, 1, 3, 0, 0, "year", NA, NA, 5, NA, 10},
    {"time", 1, 10, Q, "fractional precision", 1, 3, 0, NA, "time", 0, 6, 1, NA, NA},
    {"varchar", 12, 255, Q, "length", 1, 3, NA, NA, "varchar", NA, NA, 12, NA, NA},
    {"datetime", 93, 26, Q, "fractional precision", 1, 3, NA, NA, "datetime", 0, 6, 9, 93, NA},
    {"timestamp", 93, 26, Q, "fractional precision", 1, 3, NA, NA, "timestamp", 0, 6, 9, 93, NA},
    {"date", 91, 10, Q, nullptr, 1, 3, NA, NA, "date", NA, NA, 9, 91, NA},
    {"datetime", 11, 26, Q, "fractional precision", 1, 3, NA, NA, "datetime", 0, 6, 9, 11, NA},
    {"timestamp", 11, 26, Q, "fractional precision", 1, 3, NA, NA, "timestamp", 0, 6, 9, 11, NA},
    {"date", 9, 10, Q, nullptr, 1, 3, NA, NA, "date", NA, NA, 9, 9, NA},
    /* the wide call's Unicode twins */
    {"text", -10, 65535, Q, nullptr, 1, 3, NA, NA, "text(0-65535)", NA, NA, -10, NA, NA},
    {"mediumtext", -10, 16777215, Q, nullptr, 1, 3, NA, NA, "mediumtext", NA, NA, -10, NA, NA},
    {"longtext", -10, 2147483647, Q, nullptr, 1, 3, NA, NA, "longtext", NA, NA, -10, NA, NA},
    {"tinytext", -10, 255, Q, nullptr, 1, 3, NA, NA, "tinytext", NA, NA, -10, NA, NA},
    {"char", -8, 255, Q, "length", 1, 3, NA, NA, "char", NA, NA, -8, NA, NA},
    {"varchar", -9, 255, Q, "length", 1, 3, NA, NA, "varchar", NA, NA, -9, NA, NA},
};

#undef Q
#undef NOQ

enum type_row_id {
    T_BIT = 0,
    T_LONG_VARCHAR = 16,
    T_TEXT = 17,
    T_TINYTEXT = 20,
    T_CHAR = 21,
    T_NUMERIC = 22,
    T_DOUBLE8_AI = 45,
    T_YEAR, T_TIME, T_VARCHAR,
    T_DATETIME3, T_TIMESTAMP3, T_DATE3,
    T_DATETIME2, T_TIMESTAMP2, T_DATE2,
    T_WTEXT, T_WMEDIUMTEXT, T_WLONGTEXT, T_WTINYTEXT, T_WCHAR, T_WVARCHAR,
    T_COUNT
};
static_assert(T_COUNT == sizeof type_rows / sizeof type_rows[0], "type row names out of step");

void add_range(std::vector<int> &out, int first, int last)
{
    for (int i = first; i <= last; i++)
        out.push_back(i);
}

/* The SQL_ALL_TYPES listing, in insertion order. */
std::vector<int> all_types(int odbc3, int wide)
{
    std::vector<int> r;
    const int dt[3] = {odbc3 ? T_DATETIME3 : T_DATETIME2, odbc3 ? T_TIMESTAMP3 : T_TIMESTAMP2,
                       odbc3 ? T_DATE3 : T_DATE2};
    if (!wide) {
        add_range(r, T_BIT, T_DOUBLE8_AI);
        r.push_back(T_YEAR);
        r.push_back(T_TIME);
        if (odbc3)
            r.push_back(T_VARCHAR);
        r.insert(r.end(), dt, dt + 3);
        if (!odbc3)
            r.push_back(T_VARCHAR);
        return r;
    }
    add_range(r, T_BIT, T_LONG_VARCHAR);
    add_range(r, T_TEXT, T_TINYTEXT);
    add_range(r, T_WTEXT, T_WTINYTEXT);
    r.push_back(T_CHAR);
    r.push_back(T_WCHAR);
    add_range(r, T_NUMERIC, T_DOUBLE8_AI);
    r.push_back(T_YEAR);
    r.push_back(T_TIME);
    r.insert(r.end(), dt, dt + 3);
    r.push_back(T_VARCHAR);
    r.push_back(T_WVARCHAR);
    return r;
}

/* The date/time codes of the other ODBC version name the same types; the
 * rows carry the codes of the connection's behaviour. */
int behaviour_type(int data_type, int odbc3)
{
    static const int pairs[][2] = {{SQL_DATE, SQL_TYPE_DATE},
                                   {SQL_TIME, SQL_TYPE_TIME},
                                   {SQL_TIMESTAMP, SQL_TYPE_TIMESTAMP}};
    for (const auto &p : pairs)
        if (data_type == p[0] || data_type == p[1])
            return p[odbc3 ? 1 : 0];
    return data_type;
}

std::vector<int> select_rows(int data_type, int odbc3, int wide)
{
    std::vector<int> all = all_types(odbc3, wide);
    if (data_type == SQL_ALL_TYPES)
        return all;
    int want = behaviour_type(data_type, odbc3);
    std::vector<int> r;
    for (int id : all)
        if (type_rows[id].data_type == want)
            r.push_back(id);
    return r;
}

int insert_type_row(my_statement *stmt, const type_row &t)
{
    char num[19][12];
    const char *v[19];
    auto number = [&](int col, long n, bool is_null) {
        if (is_null) {
            v[col] = nullptr;
        } else {
            snprintf(num[col], sizeof num[col], "%ld", n);
            v[col] = num[col];
        }
    };
    v[0] = t.type_name;
    number(1, t.data_type, false);
    number(2, t.column_size, false);
    v[3] = t.prefix;
    v[4] = t.suffix;
    v[5] = t.create_params;
    number(6, t.nullable, false);
    number(7, 0, false);                               /* CASE_SENSITIVE */
    number(8, t.searchable, false);
    number(9, t.unsigned_attr, t.unsigned_attr == NA);
    number(10, 0, false);                              /* FIXED_PREC_SCALE */
    number(11, t.auto_unique, t.auto_unique == NA);
    v[12] = t.local_type_name;
    number(13, t.min_scale, t.min_scale == NA);
    number(14, t.max_scale, t.max_scale == NA);
    number(15, t.sql_data_type, false);
    number(16, t.datetime_sub, t.datetime_sub == NA);
    number(17, t.radix, t.radix == NA);
    number(18, 0, true);                               /* INTERVAL_PRECISION */
    return internal_rs_insert(stmt, v);
}

/* A partial type list would mislead: on failure the statement is left with
 * no result at all. */
SQLRETURN abandon_result(my_statement *stmt)
{
    internal_rs_free(stmt);
    stmt->data_waiting = 0;
    stmt->described = 0;
    return SQL_ERROR;
}

SQLRETURN get_type_info(my_statement *stmt, SQLSMALLINT data_type, int wide)
{
    if (my_close_stmt(stmt, 1) != 0)
        return SQL_ERROR;
    if (internal_rs_create(stmt, &type_info_layout, type_info_keys) != 0)
        return SQL_ERROR;
    const my_connection *c = handle_conn(stmt);
    int odbc3 = c && c->odbc_behaviour == 3;
    std::vector<int> rows;
    try {
        rows = select_rows(data_type, odbc3, wide);
    } catch (const std::bad_alloc &) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return abandon_result(stmt);
    }
    for (int id : rows)
        if (insert_type_row(stmt, type_rows[id]) != 0)
            return abandon_result(stmt);
    return apply_cursor_downgrade(stmt, SQL_SUCCESS);
}

} // namespace

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT data_type)
try {
    QV_STMT_ENTRY(hstmt, stmt, "SQLGetTypeInfo", "SQLGetTypeInfo: statement_handle=%p, data_type=%d",
                  hstmt, (int)data_type);
    return QV_LEAVE_D(get_type_info(stmt, data_type, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT hstmt, SQLSMALLINT data_type)
try {
    QV_STMT_ENTRY(hstmt, stmt, "SQLGetTypeInfoW", "SQLGetTypeInfoW: statement_handle=%p, data_type=%d",
                  hstmt, (int)data_type);
    return QV_LEAVE_D(get_type_info(stmt, data_type, 1));
}
QV_CATCH(hstmt)
