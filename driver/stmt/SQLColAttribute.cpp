/*
 * SQLColAttribute, SQLColAttributeW: one attribute of a result column.
 */
#include "frame/my_handle.h"
#include "stmt/my_colattr.h"

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT identifier,
                                  SQLPOINTER character_attribute, SQLSMALLINT buffer_length,
                                  SQLSMALLINT *string_length, SQLLEN *numeric_attribute)
try {
    QV_STMT_ENTRY(h, s, "SQLColAttribute",
                  "SQLColAttribute: statement_handle=%p, column_number=%d, field_identifier=%d, "
                  "character_attribute=%p, buffer_length=%d, string_length=%p, "
                  "numeric_attribute=%p",
                  h, (int)column, (int)identifier, character_attribute, (int)buffer_length,
                  string_length, numeric_attribute);
    return QV_LEAVE_D(col_attribute(s, column, identifier, character_attribute, buffer_length,
                                    string_length, numeric_attribute, TEXT_NARROW, 0));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT identifier,
                                   SQLPOINTER character_attribute, SQLSMALLINT buffer_length,
                                   SQLSMALLINT *string_length, SQLLEN *numeric_attribute)
try {
    QV_STMT_ENTRY(h, s, "SQLColAttributeW",
                  "SQLColAttributeW: statement_handle=%p, column_number=%d, field_identifier=%d, "
                  "character_attribute=%p, buffer_length=%d, string_length=%p, "
                  "numeric_attribute=%p",
                  h, (int)column, (int)identifier, character_attribute, (int)buffer_length,
                  string_length, numeric_attribute);
    return QV_LEAVE_D(col_attribute(s, column, identifier, character_attribute, buffer_length,
                                    string_length, numeric_attribute, TEXT_WIDE, 0));
}
QV_CATCH(h)
