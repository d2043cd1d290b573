/*
 * Statement attributes shared by the ODBC 3 and ODBC 2 entry points.
 */
#ifndef QV_MY_STMT_ATTR_H
#define QV_MY_STMT_ATTR_H

#include <sql.h>

#include "my_handles.h"

/* SQLSetStmtAttr's work: SQL_SUCCESS, or SQL_ERROR with a diagnostic.
 * odbc2 selects the ODBC 2 treatment of options 0-14 (S1xxx states). */
SQLRETURN stmt_set_attr(my_statement *s, SQLINTEGER attribute, SQLPOINTER value,
                        const char *fname, int odbc2);
/* SQLGetStmtAttr's work. *width receives the bytes written (4 or 8). */
SQLRETURN stmt_get_attr(my_statement *s, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER *width, const char *fname);
/* Associates an explicit descriptor as ARD/APD, or returns to the implicit one. */
SQLRETURN stmt_set_app_desc(my_statement *s, SQLINTEGER attribute, SQLPOINTER value);

#endif
