/*
 * SQLForeignKeys / SQLForeignKeysW: answered with the ODBC layout and no
 * rows; the driver does not report foreign keys.
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column foreign_keys_columns[] = {
    {"PKTABLE_CAT", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PKTABLE_SCHEM", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PKTABLE_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PKCOLUMN_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"FKTABLE_CAT", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"FKTABLE_SCHEM", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"FKTABLE_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"FKCOLUMN_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"KEY_SEQ", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"UPDATE_RULE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"DELETE_RULE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"FK_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PK_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"DEFERRABILITY", SQL_SMALLINT, 0, SQL_NO_NULLS},
};
const internal_rs_layout foreign_keys_layout = irs_layout(foreign_keys_columns);
const int foreign_keys_keys[] = {1, 2, 3, 9, 0};

SQLRETURN foreign_keys(my_statement *stmt)
{
    if (catalog_begin(stmt, &foreign_keys_layout, foreign_keys_keys) != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 0, 1);
}

} // namespace

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT hstmt, SQLCHAR *pk_catalog, SQLSMALLINT pk_catalog_len,
                                 SQLCHAR *pk_schema, SQLSMALLINT pk_schema_len, SQLCHAR *pk_table,
                                 SQLSMALLINT pk_table_len, SQLCHAR *fk_catalog,
                                 SQLSMALLINT fk_catalog_len, SQLCHAR *fk_schema,
                                 SQLSMALLINT fk_schema_len, SQLCHAR *fk_table,
                                 SQLSMALLINT fk_table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLForeignKeys", SQL_API_SQLFOREIGNKEYS, 4156, 0, 0,
                     "SQLForeignKeys: statement_handle=%p, pk_catalog_name=%q, pk_schema_name=%q, "
                     "pk_table_name=%q, fk_catalog_name=%q, fk_schema_name=%q, fk_table_name=%q",
                     hstmt, pk_catalog, (int64_t)pk_catalog_len, pk_schema, (int64_t)pk_schema_len,
                     pk_table, (int64_t)pk_table_len, fk_catalog, (int64_t)fk_catalog_len,
                     fk_schema, (int64_t)fk_schema_len, fk_table, (int64_t)fk_table_len);
    return QV_LEAVE(foreign_keys(stmt));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT hstmt, SQLWCHAR *pk_catalog, SQLSMALLINT pk_catalog_len,
                                  SQLWCHAR *pk_schema, SQLSMALLINT pk_schema_len,
                                  SQLWCHAR *pk_table, SQLSMALLINT pk_table_len,
                                  SQLWCHAR *fk_catalog, SQLSMALLINT fk_catalog_len,
                                  SQLWCHAR *fk_schema, SQLSMALLINT fk_schema_len,
                                  SQLWCHAR *fk_table, SQLSMALLINT fk_table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLForeignKeysW", SQL_API_SQLFOREIGNKEYS, 4156, 0, 0,
                     "SQLForeignKeysW: statement_handle=%p, pk_catalog_name=%Q, pk_schema_name=%Q, "
                     "pk_table_name=%Q, fk_catalog_name=%Q, fk_schema_name=%Q, fk_table_name=%Q",
                     hstmt, pk_catalog, (int64_t)pk_catalog_len, pk_schema, (int64_t)pk_schema_len,
                     pk_table, (int64_t)pk_table_len, fk_catalog, (int64_t)fk_catalog_len,
                     fk_schema, (int64_t)fk_schema_len, fk_table, (int64_t)fk_table_len);
    return QV_LEAVE(foreign_keys(stmt));
}
QV_CATCH(hstmt)
