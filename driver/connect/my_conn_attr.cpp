/*
 * Connection attributes and their ODBC 2 option forms.
 */
#include "connect/my_conn_attr.h"

#include <sqlext.h>

#include <mutex>

#include "connect/my_session.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"

enum {
    ATTR_WCHAR_TYPE = 1061,        /* driver's own: wide text is UTF-16 (1) or UTF-8 */
    ATTR_ASYNC_DBC_EVENT = 120,    /* ODBC 3.8; not in every header */
    QUALIFIER_BUFFER = 256,        /* what ODBC 2 applications give SQL_CURRENT_QUALIFIER */
};

enum {
    PACKET_SIZE_MIN = 512,
    PACKET_SIZE_MAX = 0xFFFFFF,        /* the narrow attribute's maximum */
};

/* The SQLSTATEs an entry point posts: ODBC 3 forms, or the S1xxx of ODBC 2. */
struct attr_states {
    int invalid_value;      /* HY024 / S1009 */
    int no_memory;          /* HY001 / S1001 */
    int wrong_time;         /* HY011 / S1011 */
    int unknown;            /* HY092 / S1092 */
};

static const attr_states odbc3_states = {ST_HY024, ST_HY001, ST_HY011, ST_HY092};
static const attr_states odbc2_states = {ST_S1009, ST_S1001, ST_S1011, ST_S1092};

static const attr_states &states_for(int api)
{
    return api == ATTR_OPTION ? odbc2_states : odbc3_states;
}

static int64_t as_int(SQLPOINTER v) { return (int64_t)(intptr_t)v; }

/* The connection's default for a statement attribute, or null when the
 * attribute is not one of them. */
static int64_t *stmt_default(my_connection *c, SQLINTEGER attribute)
{
    stmt_attr_defaults &d = c->stmt_defaults;
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: return &d.query_timeout;
    case SQL_ATTR_MAX_ROWS: return &d.max_rows;
    case SQL_ATTR_NOSCAN: return &d.noscan;
    case SQL_ATTR_MAX_LENGTH: return &d.max_length;
    case SQL_ATTR_ASYNC_ENABLE: return &d.async_enable;
    case SQL_ATTR_ROW_BIND_TYPE: return &d.bind_type;
    case SQL_ATTR_CURSOR_TYPE: return &d.cursor_type;
    case SQL_ATTR_CONCURRENCY: return &d.concurrency;
    case SQL_ATTR_KEYSET_SIZE: return &d.keyset_size;
    case SQL_ROWSET_SIZE: return &d.rowset_size;
    case SQL_ATTR_SIMULATE_CURSOR: return &d.simulate_cursor;
    case SQL_ATTR_RETRIEVE_DATA: return &d.retrieve_data;
    case SQL_ATTR_USE_BOOKMARKS: return &d.use_bookmarks;
    case SQL_ATTR_CURSOR_SCROLLABLE: return &d.cursor_scrollable;
    case SQL_ATTR_CURSOR_SENSITIVITY: return &d.cursor_sensitivity;
    default: return nullptr;
    }
}

/* The ODBC 2 option forms know the statement options 0-12, not the two
 * cursor attributes ODBC 3 added. */
static int is_odbc2_stmt_option(SQLINTEGER attribute)
{
    return attribute >= SQL_QUERY_TIMEOUT && attribute <= SQL_USE_BOOKMARKS;
}

void conn_restore_attribute_defaults(my_connection *c)
{
    stmt_attr_defaults &d = c->stmt_defaults;
    d = stmt_attr_defaults();
    d.concurrency = SQL_CONCUR_READ_ONLY;
    d.cursor_sensitivity = SQL_INSENSITIVE;
    d.rowset_size = 1;
    d.retrieve_data = SQL_RD_ON;
    d.simulate_cursor = 2;
    c->access_mode = 0;
    c->metadata_id = 0;
    c->statement_counter = 0;
    /* The stored level must describe the session: bring the server back to
     * the default level too, and keep the old value if it refuses. */
    if (c->txn_isolation != SQL_TXN_REPEATABLE_READ &&
        my_set_transaction_isolation(c, SQL_TXN_REPEATABLE_READ) == 0)
        c->txn_isolation = SQL_TXN_REPEATABLE_READ;
}

/* ------------------------------------------------------------------ set */

static SQLRETURN set_autocommit_attr(my_connection *c, int64_t v)
{
    /* Work done with autocommit off is committed before it is turned on,
     * and a failed commit stops the change. */
    if (c->connected && c->autocommit == 0 && v == SQL_AUTOCOMMIT_ON && my_commit(c) != 0)
        return SQL_ERROR;
    return set_autocommit(c, (int)v, 0) == 0 ? SQL_SUCCESS : SQL_ERROR;
}

static SQLRETURN set_isolation_attr(my_connection *c, int64_t v, int api, const char *fname)
{
    if (v != SQL_TXN_READ_UNCOMMITTED && v != SQL_TXN_READ_COMMITTED &&
        v != SQL_TXN_REPEATABLE_READ && v != SQL_TXN_SERIALIZABLE) {
        QV_TRACE(c, api == ATTR_OPTION ? LOG_DETAIL : LOG_ERROR, "%s: TXN_ISOLATION value %d",
                 fname, (int)v);
        post_error(c, states_for(api).invalid_value, 0, nullptr);
        return SQL_ERROR;
    }
    if (my_set_transaction_isolation(c, (int)v) != 0)
        return SQL_ERROR;
    c->txn_isolation = (int32_t)v;
    return SQL_SUCCESS;
}

/* The catalog name as text: narrow by the connection's rule; wide in the
 * wide form, whose length counts bytes. */
static my_string *catalog_text(my_connection *c, SQLPOINTER value, SQLINTEGER len, int api)
{
    if (api == ATTR_OPTION)
        return ms_from_narrow((const char *)value, MS_NTS, c);
    if (api == ATTR_NARROW)
        return ms_from_narrow((const char *)value, len, c);
    /* UTF-16 buffers are counted in bytes here and read in units; a wide
     * buffer that carries UTF-8 is counted in bytes and read in bytes. */
    if (len > 0 && !wide_is_utf8(c))
        len /= 2;
    return ms_from_wide(value, len, c);
}

static SQLRETURN set_catalog_attr(my_connection *c, SQLPOINTER value, SQLINTEGER len, int api,
                                  const char *fname)
{
    if (!value) {
        post_error(c, api == ATTR_OPTION ? ST_S1009 : ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    /* the length counts bytes in both forms */
    if (api != ATTR_OPTION && check_text_length(c, len, 0) != 0)
        return SQL_ERROR;
    my_string *name = catalog_text(c, value, len, api);
    if (!name) {
        QV_TRACE(c, LOG_ERROR, "%s: failed to create catalog string", fname);
        post_error(c, states_for(api).no_memory, 0, nullptr);
        return SQL_ERROR;
    }
    int rc = my_set_catalog_msg(c, name);
    ms_free(name);
    return rc == 0 ? SQL_SUCCESS : SQL_ERROR;
}

static SQLRETURN set_packet_size_attr(my_connection *c, int64_t v, int api, const char *fname)
{
    if (c->connected) {
        QV_TRACE(c, LOG_ERROR, "%s: cant set packet size when connected", fname);
        post_error(c, states_for(api).wrong_time, 0, nullptr);
        return SQL_ERROR;
    }
    /* Only the narrow attribute has the protocol's packet maximum; the other
     * forms are bounded by the field that holds the value. */
    int64_t max = api == ATTR_NARROW ? PACKET_SIZE_MAX : INT32_MAX;
    if (v < PACKET_SIZE_MIN) {
        QV_TRACE(c, LOG_ERROR, "%s: cant set packet size to %l, min is %d", fname, v,
                 (int)PACKET_SIZE_MIN);
        post_error(c, ST_01S02, 0, "Option value changed");
    } else if (v > max) {
        QV_TRACE(c, LOG_ERROR, "%s: cant set packet size to %l, max is %l", fname, v, max);
        post_error(c, ST_01S02, 0, "Option value changed");
    } else {
        c->PacketSize = (int32_t)v;
    }
    return SQL_SUCCESS;
}

/* Attributes both the ODBC 3 and ODBC 2 forms know. 1: handled, rc set. */
static int set_common(my_connection *c, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER len,
                      int api, const char *fname, SQLRETURN *rc)
{
    int64_t v = as_int(value);
    *rc = SQL_SUCCESS;
    if (int64_t *d = stmt_default(c, attribute)) {
        *d = v;
        /* the limit follows at once; its failure is not the attribute's */
        if (attribute == SQL_ATTR_MAX_ROWS)
            set_select_limit(c, v);
        return 1;
    }
    switch (attribute) {
    case SQL_ATTR_ACCESS_MODE: c->access_mode = (int32_t)v; return 1;
    case SQL_ATTR_AUTOCOMMIT: *rc = set_autocommit_attr(c, v); return 1;
    case SQL_ATTR_LOGIN_TIMEOUT: c->login_timeout = (int32_t)v; return 1;
    case SQL_ATTR_TXN_ISOLATION: *rc = set_isolation_attr(c, v, api, fname); return 1;
    case SQL_ATTR_CURRENT_CATALOG: *rc = set_catalog_attr(c, value, len, api, fname); return 1;
    case SQL_ATTR_QUIET_MODE: c->quiet_mode = value; return 1;
    case SQL_ATTR_PACKET_SIZE: *rc = set_packet_size_attr(c, v, api, fname); return 1;
    case ATTR_WCHAR_TYPE:
        QV_TRACE(c, LOG_ERROR, "%s: setting wchar_type = %d", fname, (int)v);
        c->wchar_type = (int32_t)v;
        return 1;
    default: return 0;
    }
}

static SQLRETURN set_odbc3_only(my_connection *c, SQLINTEGER attribute, int64_t v,
                                const char *fname)
{
    switch (attribute) {
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRACEFILE:
    case SQL_ATTR_TRANSLATE_LIB:
    case SQL_ATTR_TRANSLATE_OPTION:
    case SQL_ATTR_ANSI_APP:
    case 1041:
    case 1042:
    case 1064:
    case 30002:
        return SQL_SUCCESS;   /* accepted; nothing of ours depends on them */
    case SQL_ATTR_CONNECTION_TIMEOUT: c->connection_timeout = (int32_t)v; return SQL_SUCCESS;
    case SQL_ATTR_RESET_CONNECTION: conn_restore_attribute_defaults(c); return SQL_SUCCESS;
    case SQL_ATTR_METADATA_ID: c->metadata_id = (int32_t)v; return SQL_SUCCESS;
    case SQL_ATTR_AUTO_IPD:
        if (v == 0) {
            c->auto_ipd = 0;
            return SQL_SUCCESS;
        }
        post_error(c, ST_HY092, 0, nullptr);
        return SQL_ERROR;
    default:
        /* includes 117 and 120: no asynchronous connection functions */
        QV_TRACE(c, LOG_ERROR, "%s: unexpected attribute %d", fname, (int)attribute);
        post_error(c, ST_HY092, 0, nullptr);
        return SQL_ERROR;
    }
}

static SQLRETURN set_odbc2_only(my_connection *c, SQLINTEGER option, const char *fname)
{
    switch (option) {
    case 1041:
    case 1042:
    case 1051:
    case 1064:
    case 1207:
    case 1208:
        return SQL_SUCCESS;
    default:
        QV_TRACE(c, LOG_ERROR, "%s: unexpected option %d", fname, (int)option);
        post_error(c, ST_S1092, 0, nullptr);
        return SQL_ERROR;
    }
}

SQLRETURN conn_set_attr(my_connection *c, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER string_length, int api, const char *fname)
{
    if (api == ATTR_OPTION && attribute < 0)
        return set_odbc2_only(c, attribute, fname);
    SQLRETURN rc;
    if (set_common(c, attribute, value, string_length, api, fname, &rc))
        return rc;
    return api == ATTR_OPTION ? set_odbc2_only(c, attribute, fname)
                              : set_odbc3_only(c, attribute, as_int(value), fname);
}

/* ------------------------------------------------------------------ get */

/* The widths ODBC gives the values: statement attributes are SQLULEN,
 * connection attributes SQLUINTEGER, handles pointers. Writing more than the
 * application's variable holds would overwrite its neighbours. */
static SQLRETURN put_ulen(SQLPOINTER value, SQLINTEGER *len, int64_t v)
{
    if (value)
        *(SQLULEN *)value = (SQLULEN)v;
    if (len)
        *len = (SQLINTEGER)sizeof(SQLULEN);
    return SQL_SUCCESS;
}

static SQLRETURN put_uint(SQLPOINTER value, SQLINTEGER *len, int64_t v)
{
    if (value)
        *(SQLUINTEGER *)value = (SQLUINTEGER)v;
    if (len)
        *len = (SQLINTEGER)sizeof(SQLUINTEGER);
    return SQL_SUCCESS;
}

static SQLRETURN put_pointer(SQLPOINTER value, SQLINTEGER *len, void *p)
{
    if (value)
        *(SQLPOINTER *)value = p;
    if (len)
        *len = (SQLINTEGER)sizeof(SQLPOINTER);
    return SQL_SUCCESS;
}

/* 1 and the value of a connection attribute held as an SQLUINTEGER. */
static int uint_attr(const my_connection *c, SQLINTEGER attribute, int64_t *v)
{
    switch (attribute) {
    case SQL_ATTR_ACCESS_MODE: *v = c->access_mode; return 1;
    case SQL_ATTR_AUTOCOMMIT: *v = c->autocommit; return 1;
    case SQL_ATTR_LOGIN_TIMEOUT: *v = c->login_timeout; return 1;
    case SQL_ATTR_TXN_ISOLATION: *v = c->txn_isolation; return 1;
    case SQL_ATTR_PACKET_SIZE: *v = c->PacketSize; return 1;
    default: return 0;
    }
}

static SQLRETURN get_catalog(my_connection *c, SQLPOINTER value, SQLINTEGER buffer_length,
                             SQLINTEGER *string_length, int api)
{
    int mode = api == ATTR_WIDE && !wide_is_utf8(c) ? COPY_WIDE_BYTES : COPY_NARROW;
    int64_t full = 0;
    int cut;
    {
        /* a catalog function on another thread may be switching it */
        std::lock_guard<qv_mutex> g(c->wire_lock);
        cut = copy_out_string(c->current_database, c, mode, value, buffer_length, &full);
    }
    if (string_length)
        *string_length = (SQLINTEGER)(full > INT32_MAX ? INT32_MAX : full);
    if (cut && value) {
        post_error(c, ST_01004, 0, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

static SQLRETURN get_attr_odbc3(my_connection *c, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER buffer_length, SQLINTEGER *len, int api,
                                const char *fname)
{
    int64_t v = 0;
    if (int64_t *d = stmt_default(c, attribute))
        return put_ulen(value, len, *d);
    if (uint_attr(c, attribute, &v))
        return put_uint(value, len, v);
    switch (attribute) {
    case SQL_ATTR_CONNECTION_TIMEOUT: return put_uint(value, len, c->connection_timeout);
    case SQL_ATTR_AUTO_IPD: return put_uint(value, len, c->auto_ipd);
    case SQL_ATTR_METADATA_ID: return put_uint(value, len, c->metadata_id);
    case SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE: return put_uint(value, len, 0);
    case SQL_ATTR_QUIET_MODE: return put_pointer(value, len, c->quiet_mode);
    case ATTR_ASYNC_DBC_EVENT: return put_pointer(value, len, nullptr);
    /* SQLUINTEGER in ODBC, like every other connection attribute. A link the
     * transport found broken is as dead as no link: pools ask this to decide
     * whether a connection can be handed out again. */
    case SQL_ATTR_CONNECTION_DEAD:
        return put_uint(value, len, c->connected && !c->link_broken ? SQL_CD_FALSE : SQL_CD_TRUE);
    case SQL_ATTR_CURRENT_CATALOG: return get_catalog(c, value, buffer_length, len, api);
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRACEFILE:
    case SQL_ATTR_TRANSLATE_LIB:
    case SQL_ATTR_TRANSLATE_OPTION:
    case SQL_ATTR_ANSI_APP:
        post_error(c, ST_HY000, 0, "unexpected internal error in SQLGetConnectAttr, unknown type %d",
                   (int)attribute);
        return SQL_ERROR;
    default:
        QV_TRACE(c, LOG_ERROR, "%s: unexpected attribute %d", fname, (int)attribute);
        post_error(c, ST_HY092, 0, nullptr);
        return SQL_ERROR;
    }
}

/* SQLGetConnectOption has no buffer length: the qualifier goes into a buffer
 * taken to be QUALIFIER_BUFFER bytes. The cut is made in bytes, on a
 * character boundary, so that a name of multi-byte characters cannot run
 * past it. */
static SQLRETURN get_qualifier(my_connection *c, SQLPOINTER value)
{
    int cut;
    {
        std::lock_guard<qv_mutex> g(c->wire_lock);
        cut = copy_out_string(c->current_database, c, COPY_NARROW, value, QUALIFIER_BUFFER,
                              nullptr);
    }
    if (cut && value) {
        post_error(c, ST_01000, 0, "string data right truncated");
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

static SQLRETURN get_option_odbc2(my_connection *c, SQLINTEGER option, SQLPOINTER value,
                                  const char *fname)
{
    int64_t v = 0;
    if (is_odbc2_stmt_option(option)) {
        int64_t d = *stmt_default(c, option);
        /* 64-bit ODBC widens exactly these four to SQLULEN */
        if (option == SQL_MAX_ROWS || option == SQL_MAX_LENGTH || option == SQL_KEYSET_SIZE ||
            option == SQL_ROWSET_SIZE)
            return put_ulen(value, nullptr, d);
        return put_uint(value, nullptr, d);
    }
    if (uint_attr(c, option, &v))
        return put_uint(value, nullptr, v);
    if (option == SQL_QUIET_MODE)
        return put_pointer(value, nullptr, c->quiet_mode);
    if (option == SQL_CURRENT_QUALIFIER)
        return get_qualifier(c, value);
    QV_TRACE(c, LOG_ERROR, "%s: unexpected option %d", fname, (int)option);
    post_error(c, ST_S1092, 0, nullptr);
    return SQL_ERROR;
}

SQLRETURN conn_get_attr(my_connection *c, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER buffer_length, SQLINTEGER *string_length, int api,
                        const char *fname)
{
    if (api == ATTR_OPTION)
        return get_option_odbc2(c, attribute, value, fname);
    return get_attr_odbc3(c, attribute, value, buffer_length, string_length, api, fname);
}
