/*
 * SQLParamData: steps through the parameters that wait for data at
 * execution and, once the last one has its data, finishes the execution.
 */
#include "frame/my_handle.h"
#include "stmt/my_param.h"
#include "stmt/my_stmt.h"

/* The token the application bound: the parameter's value pointer as given. */
static SQLRETURN ask_for(my_statement *s, int index, SQLPOINTER *value)
{
    if (dae_begin_param(s, index) != 0)
        return SQL_ERROR;
    if (value)
        *value = s->apd->records[index].data_ptr;
    return SQL_NEED_DATA;
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT h, SQLPOINTER *value)
try {
    QV_STMT_ENTRY(h, s, "SQLParamData", "SQLParamData: statement_handle=%p, value=%p", h, value);
    QV_TRACE(s, LOG_DETAIL, "SQLParamData: current_dae_param=%d", s->current_dae_param);
    QV_TRACE(s, LOG_DETAIL, "current_dae_op=%d", s->current_dae_op);
    QV_TRACE(s, LOG_DETAIL, "current_dae_first=%d", s->current_dae_first);
    if (!s->dae_active || s->current_dae_param >= s->apd->field_count) {
        post_error(s, ST_HY010, 0, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    if (s->current_dae_first) {
        s->current_dae_first = 0;
        return QV_LEAVE(ask_for(s, s->current_dae_param, value));
    }
    int next = dae_next_param(s, s->current_dae_param);
    if (next >= 0)
        return QV_LEAVE(ask_for(s, next, value));
    if (dae_end(s) != 0)
        return QV_LEAVE(SQL_ERROR);
    /* every value is in: the interrupted execution sends its rows */
    SQLRETURN rc;
    if (s->current_dae_op == DAE_OP_EXECUTE) {
        QV_TRACE(s, LOG_DETAIL, "SQLExecute(DAE): statement prepared");
        rc = execute_rows(s);
        QV_TRACE(s, LOG_DETAIL, "SQLExecute(DAE): return value=%d", (int)rc);
    } else {
        rc = exec_direct_rows(s);
        QV_TRACE(s, LOG_DETAIL, "SQLExecDirect(DAE): return value=%d", (int)rc);
    }
    /* the next parameter row asks for data of its own: its first token */
    if (rc == SQL_NEED_DATA && s->dae_active && s->current_dae_first) {
        s->current_dae_first = 0;
        rc = ask_for(s, s->current_dae_param, value);
    }
    return QV_LEAVE(rc);
}
QV_CATCH(h)
