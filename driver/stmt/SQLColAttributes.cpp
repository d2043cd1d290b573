/*
 * SQLColAttributes, SQLColAttributesW (ODBC 2): SQLColAttribute with the
 * ODBC 2 answers for SQL_COLUMN_TYPE and the precision of floating columns.
 */
#include "frame/my_handle.h"
#include "stmt/my_colattr.h"

SQLRETURN SQL_API SQLColAttributes(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT identifier,
                                   SQLPOINTER character_attribute, SQLSMALLINT buffer_length,
                                   SQLSMALLINT *string_length, SQLLEN *numeric_attribute)
try {
    QV_STMT_ENTRY(h, s, "SQLColAttributes",
                  "SQLColAttributes: statement_handle=%p, column_number=%d, field_identifier=%d, "
                  "character_attribute=%p, buffer_length=%d, string_length=%p, "
                  "numeric_attribute=%p",
                  h, (int)column, (int)identifier, character_attribute, (int)buffer_length,
                  string_length, numeric_attribute);
    return QV_LEAVE_D(col_attribute(s, column, identifier, character_attribute, buffer_length,
                                    string_length, numeric_attribute, TEXT_NARROW, 1));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT identifier,
                                    SQLPOINTER character_attribute, SQLSMALLINT buffer_length,
                                    SQLSMALLINT *string_length, SQLLEN *numeric_attribute)
try {
    QV_STMT_ENTRY(h, s, "SQLColAttributesW",
                  "SQLColAttributesW: statement_handle=%p, column_number=%d, field_identifier=%d, "
                  "character_attribute=%p, buffer_length=%d, string_length=%p, "
                  "numeric_attribute=%p",
                  h, (int)column, (int)identifier, character_attribute, (int)buffer_length,
                  string_length, numeric_attribute);
    return QV_LEAVE_D(col_attribute(s, column, identifier, character_attribute, buffer_length,
                                    string_length, numeric_attribute, TEXT_WIDE, 1));
}
QV_CATCH(h)
