/*
 * SQLProcedures / SQLProceduresW: stored procedures and functions, from
 * INFORMATION_SCHEMA.ROUTINES. Servers before 5.2 have no routines to list.
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column procedures_columns[] = {
    {"PROCEDURE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"NUM_INPUT_PARAMS", SQL_INTEGER, 0, SQL_NULLABLE},
    {"NUM_OUTPUT_PARAMS", SQL_INTEGER, 0, SQL_NULLABLE},
    {"NUM_RESULT_SETS", SQL_INTEGER, 0, SQL_NULLABLE},
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"PROCEDURE_TYPE", SQL_SMALLINT, 0, SQL_NULLABLE},
};
const internal_rs_layout procedures_layout = irs_layout(procedures_columns);
const int procedures_keys[] = {1, 2, 3, 0};

enum { NAME_CHARS = 64, COMMENT_CHARS = 256 };

SQLRETURN procedures(my_statement *stmt, const void *cat, SQLSMALLINT cat_len, const void *schema,
                     SQLSMALLINT schema_len, const void *proc, SQLSMALLINT proc_len, int wide)
{
    cat_arg catalog, sch, name;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &name, proc, proc_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &procedures_layout, procedures_keys) != 0)
        return SQL_ERROR;
    if (!server_has_information_schema(handle_conn(stmt)))
        return catalog_done(stmt, 0, 1);
    my_string *q = ms_from_latin1(
        "SELECT ROUTINE_SCHEMA,ROUTINE_NAME,ROUTINE_COMMENT,IF(ROUTINE_TYPE = 'FUNCTION', "
        "2,IF(ROUTINE_TYPE= 'PROCEDURE', 1, 0)) FROM INFORMATION_SCHEMA.ROUTINES");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    int where = 0;
    if (sql_add_filter(stmt, q, &where, "ROUTINE_NAME", name) ||
        sql_add_filter(stmt, q, &where, "ROUTINE_SCHEMA", catalog)) {
        ms_free(q);
        return SQL_ERROR;
    }
    int rc = catalog_query(stmt, q, [&](my_statement *inner) {
        cat_row r(8);
        r.set(0, inner_text(inner, 1, NAME_CHARS));
        r.set(2, inner_text(inner, 2, NAME_CHARS));
        r.set(6, inner_text(inner, 3, COMMENT_CHARS));
        r.set(7, inner_text(inner, 4, 4));
        return r.insert(stmt);
    });
    if (rc != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLProcedures(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *proc,
                                SQLSMALLINT proc_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProcedures", SQL_API_SQLPROCEDURES, 0, 0, 0,
                     "SQLProcedures: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "proc_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len);
    return QV_LEAVE(procedures(stmt, catalog, catalog_len, schema, schema_len, proc, proc_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                 SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *proc,
                                 SQLSMALLINT proc_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProceduresW", SQL_API_SQLPROCEDURES, 0, 0, 0,
                     "SQLProceduresW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "proc_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len);
    return QV_LEAVE(procedures(stmt, catalog, catalog_len, schema, schema_len, proc, proc_len, 1));
}
QV_CATCH(hstmt)
