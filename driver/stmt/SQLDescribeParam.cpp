/*
 * SQLDescribeParam: what the server (or, without a description, the
 * application's own binding) says a parameter is.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "stmt/my_stmt.h"

/* What a parameter the server could not type is answered as: text, which
 * every column takes (a server that does not know says NULL, and its
 * mapping, TINYINT, would make an application convert its strings to
 * numbers). The size is the one a text-prepared statement describes. */
enum { UNTYPED_PARAM_SIZE = 255 };

/* Sizes that are a number of digits or bytes come from the precision; the
 * others from the display size. */
static SQLULEN size_of(int sql_type, const field *f)
{
    switch (sql_type) {
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_BINARY: case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return f->precision < 0 ? 0 : (SQLULEN)f->precision;
    }
    return f->display_size < 0 ? 0 : (SQLULEN)f->display_size;
}

/* The statement described on demand: prepared when it is not yet, its
 * parameters described when they are not yet. */
static int describe(my_statement *s)
{
    if (!s->sql_text)
        return 0;
    if (!s->prepared && prepare_stmt(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLDescribeParam: failed preparing statement");
        return -1;
    }
    if (!s->params_described && describe_params(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLDescribeParam:: failed describing statement");
        return -1;
    }
    return 0;
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT *sql_type,
                                   SQLULEN *size, SQLSMALLINT *digits, SQLSMALLINT *nullable)
try {
    QV_STMT_ENTRY(h, s, "SQLDescribeParam",
                  "SQLDescribeParam: statement_handle=%p, ipar=%d, type=%p, size=%p, "
                  "digits=%p, nullable=%p",
                  h, (int)number, sql_type, size, digits, nullable);
    if (number < 1 || number > s->found_param_count) {
        QV_TRACE(s, LOG_ERROR, "SQLDescribeParam: ipar=%d, found_param_count=%d", (int)number,
                 s->found_param_count);
        post_error(s, ST_07009, 0, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    if (describe(s) != 0)
        return QV_LEAVE(SQL_ERROR);
    int described = s->params_described ? desc_column_count(s->ipd) : 0;
    QV_TRACE(s, LOG_DETAIL, "SQLDescribeParam: ipar=%d, descriptor_count=%d", (int)number,
             described);
    const field *f;
    int type;
    SQLSMALLINT null_rule;
    SQLULEN column_size;
    if (number <= described && s->ipd->records[number - 1].mysql_type == MYSQL_TYPE_NULL) {
        f = &s->ipd->records[number - 1];
        type = SQL_VARCHAR;
        null_rule = SQL_NULLABLE;
        column_size = UNTYPED_PARAM_SIZE;
    } else if (number <= described) {
        f = &s->ipd->records[number - 1];
        type = f->concise_type;
        null_rule = (SQLSMALLINT)f->nullable;
        column_size = size_of(type, f);
    } else if (number <= s->apd->field_count &&
               (s->apd->records[number - 1].data_ptr || s->apd->records[number - 1].indicator_ptr)) {
        /* Nothing described it: the binding's SQL type (its concise type is
         * the C type) with the size the application gave. */
        f = &s->apd->records[number - 1];
        type = f->param_sql_type;
        null_rule = SQL_NULLABLE_UNKNOWN;
        column_size = f->precision < 0 ? 0 : (SQLULEN)f->precision;
    } else {
        post_error(s, ST_07009, 0, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    if (sql_type)
        *sql_type = (SQLSMALLINT)type;
    if (size)
        *size = column_size;
    if (digits)
        *digits = type == SQL_VARCHAR ? 0 : (SQLSMALLINT)f->scale;
    if (nullable)
        *nullable = null_rule;
    return QV_LEAVE(SQL_SUCCESS);
}
QV_CATCH(h)
