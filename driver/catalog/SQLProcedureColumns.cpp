/*
 * SQLProcedureColumns / SQLProcedureColumnsW: answered with the ODBC layout
 * and no rows; the driver does not describe routine parameters.
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column procedure_columns_columns[] = {
    {"PROCEDURE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"TYPE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
    {"BUFFER_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"DECIMAL_DIGITS", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NUM_PREC_RADIX", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NULLABLE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"COLUMN_DEF", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"SQL_DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"SQL_DATETIME_SUB", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"CHAR_OCTET_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"ORDINAL_POSITION", SQL_INTEGER, 0, SQL_NO_NULLS},
    {"IS_NULLABLE", SQL_VARCHAR, 32, SQL_NO_NULLS},
};
const internal_rs_layout procedure_columns_layout = irs_layout(procedure_columns_columns);
const int procedure_columns_keys[] = {1, 2, 3, 5, 0};

SQLRETURN procedure_columns(my_statement *stmt)
{
    if (catalog_begin(stmt, &procedure_columns_layout, procedure_columns_keys) != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 0, 1);
}

} // namespace

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                      SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *proc,
                                      SQLSMALLINT proc_len, SQLCHAR *column, SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS, 0, 0, 0,
                     "SQLProcedureColumns: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "proc_name=%q, column_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len, column, (int64_t)column_len);
    return QV_LEAVE(procedure_columns(stmt));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                       SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *proc,
                                       SQLSMALLINT proc_len, SQLWCHAR *column,
                                       SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProcedureColumnsW", SQL_API_SQLPROCEDURECOLUMNS, 0, 0, 0,
                     "SQLProcedureColumnsW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "proc_name=%Q, column_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len, column, (int64_t)column_len);
    return QV_LEAVE(procedure_columns(stmt));
}
QV_CATCH(hstmt)
