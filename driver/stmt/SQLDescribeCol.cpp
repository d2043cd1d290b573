/*
 * SQLDescribeCol, SQLDescribeColW: name, type, size, digits and nullability
 * of a result column.
 */
#include "frame/my_handle.h"
#include "stmt/my_colattr.h"

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT h, SQLUSMALLINT column, SQLCHAR *name,
                                 SQLSMALLINT buffer_length, SQLSMALLINT *name_length,
                                 SQLSMALLINT *data_type, SQLULEN *column_size,
                                 SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable)
try {
    QV_STMT_ENTRY(h, s, "SQLDescribeCol",
                  "SQLDescribeCol: statement_handle=%p, column_number=%d, column_name=%p, "
                  "buffer_length=%d, name_length=%p, data_type=%p, column_size=%p, "
                  "decimal_digits=%p, nullable=%p",
                  h, (int)column, name, (int)buffer_length, name_length, data_type, column_size,
                  decimal_digits, nullable);
    return QV_LEAVE_D(describe_col(s, column, name, buffer_length, name_length, data_type,
                                   column_size, decimal_digits, nullable, TEXT_NARROW));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT column, SQLWCHAR *name,
                                  SQLSMALLINT buffer_length, SQLSMALLINT *name_length,
                                  SQLSMALLINT *data_type, SQLULEN *column_size,
                                  SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable)
try {
    QV_STMT_ENTRY(h, s, "SQLDescribeColW",
                  "SQLDescribeColW: statement_handle=%p, column_number=%d, column_name=%p, "
                  "buffer_length=%d, name_length=%p, data_type=%p, column_size=%p, "
                  "decimal_digits=%p, nullable=%p",
                  h, (int)column, name, (int)buffer_length, name_length, data_type, column_size,
                  decimal_digits, nullable);
    return QV_LEAVE_D(describe_col(s, column, name, buffer_length, name_length, data_type,
                                   column_size, decimal_digits, nullable, TEXT_WIDE));
}
QV_CATCH(h)
