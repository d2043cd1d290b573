/*
 * SQLGetInfo / SQLGetInfoW: the information types of ODBC.
 *
 * Every answer is one row of info_table: a fixed 16-bit or 32-bit number, a
 * fixed text, or a value the connection supplies. Adding an information
 * type is adding a row.
 */
#include <mutex>

#include "frame/my_handle.h"

namespace {

enum info_kind : uint8_t {
    INFO_U16,        /* SQLUSMALLINT, string length 2 */
    INFO_U32,        /* SQLUINTEGER, string length 4 */
    INFO_TEXT,       /* fixed text */
    INFO_CONN_U16,   /* 16-bit value from the connection (value: conn_value) */
    INFO_CONN_TEXT,  /* text from the connection (value: conn_value) */
};

enum conn_value : uint32_t {
    CV_DATA_SOURCE,      /* DSN setting */
    CV_SERVER_NAME,      /* server version, or "MySQL" before logon */
    CV_DBMS_VER,         /* server version */
    CV_DATABASE,         /* current database */
    CV_USER,             /* the user the connection logged on as */
    CV_QUOTE_CHAR,       /* by AnsiMode */
    CV_SPECIAL_CHARS,    /* '#', '$' and the Latin-1 letters */
    CV_CONCURRENT,       /* SQL_MAX_CONCURRENT_ACTIVITIES by NoCache */
    CV_TXN_CAPABLE,      /* by the server's transaction capability */
    CV_IDENTIFIER_LEN,   /* differs between the narrow and wide call */
};

struct info_row {
    uint16_t id;
    info_kind kind;
    uint32_t value;
    const char *text;
};

constexpr info_row u16(uint16_t id, uint32_t v) { return {id, INFO_U16, v, nullptr}; }
constexpr info_row u32(uint16_t id, uint32_t v) { return {id, INFO_U32, v, nullptr}; }
constexpr info_row text(uint16_t id, const char *t) { return {id, INFO_TEXT, 0, t}; }
constexpr info_row conn16(uint16_t id, conn_value v) { return {id, INFO_CONN_U16, v, nullptr}; }
constexpr info_row conntext(uint16_t id, conn_value v) { return {id, INFO_CONN_TEXT, v, nullptr}; }

const char keywords[] =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,"
    "DATABASE,DBCC,DISK,DISTRIBUTED,DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,"
    "FLOPPY,HOLDLOCK,IDENTITY_INSERT,IDENTITYCOL,IF,KILL,LINENO,LOAD,MIRROREXIT,"
    "NONCLUSTERED,OFF,OFFSETS,ONCE,OVER,PERCENT,PERM,PERMANENT,PLAN,PRINT,PROC,"
    "PROCESSEXIT,RAISERROR,READ,READTEXT,RECONFIGURE,REPEATABLE,RETURN,ROWCOUNT,RULE,"
    "SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,STATISTICS,TAPE,TEMP,TEXTSIZE,TOP,TRAN,TRIGGER,"
    "TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,WRITETEXT";

/* Info types 1024, 1029 and 65003 have no public name; applications (and
 * driver managers) ask for them all the same. */
const info_row info_table[] = {
    /* ---- 16-bit ---- */
    u16(SQL_MAX_DRIVER_CONNECTIONS, 0),
    u16(SQL_ODBC_SAG_CLI_CONFORMANCE, 0),
    u16(SQL_CONCAT_NULL_BEHAVIOR, 0),
    u16(SQL_FILE_USAGE, 0),
    u16(SQL_MAX_COLUMNS_IN_GROUP_BY, 0),
    u16(SQL_MAX_COLUMNS_IN_ORDER_BY, 0),
    u16(SQL_ACTIVE_ENVIRONMENTS, 0),
    u16(1024, 0),
    conn16(SQL_MAX_CONCURRENT_ACTIVITIES, CV_CONCURRENT),
    u16(SQL_ODBC_SQL_CONFORMANCE, 1),
    u16(SQL_NON_NULLABLE_COLUMNS, 1),
    u16(SQL_NULL_COLLATION, 1),
    u16(SQL_CATALOG_LOCATION, 1),
    u16(SQL_ODBC_API_CONFORMANCE, 2),
    u16(SQL_CURSOR_COMMIT_BEHAVIOR, 2),
    u16(SQL_CURSOR_ROLLBACK_BEHAVIOR, 2),
    u16(SQL_CORRELATION_NAME, 2),
    u16(SQL_GROUP_BY, 2),
    u16(SQL_IDENTIFIER_CASE, 3),
    u16(SQL_QUOTED_IDENTIFIER_CASE, 4),
    conn16(SQL_TXN_CAPABLE, CV_TXN_CAPABLE),
    u16(SQL_MAX_COLUMNS_IN_INDEX, 16),
    u16(SQL_MAX_TABLES_IN_SELECT, 32),
    u16(SQL_MAX_COLUMN_NAME_LEN, 64),
    u16(SQL_MAX_CURSOR_NAME_LEN, 64),
    u16(SQL_MAX_SCHEMA_NAME_LEN, 64),
    u16(SQL_MAX_PROCEDURE_NAME_LEN, 64),
    u16(SQL_MAX_CATALOG_NAME_LEN, 64),
    u16(SQL_MAX_TABLE_NAME_LEN, 64),
    u16(SQL_MAX_USER_NAME_LEN, 64),
    conn16(SQL_MAX_IDENTIFIER_LEN, CV_IDENTIFIER_LEN),
    u16(SQL_MAX_COLUMNS_IN_TABLE, 1024),
    u16(SQL_MAX_COLUMNS_IN_SELECT, 4096),

    /* ---- 32-bit ---- */
    u32(SQL_CONVERT_DATE, 0),
    u32(SQL_CONVERT_DOUBLE, 0),
    u32(SQL_CONVERT_TIME, 0),
    u32(SQL_POS_OPERATIONS, 0),
    u32(SQL_POSITIONED_STATEMENTS, 0),
    u32(SQL_STATIC_SENSITIVITY, 0),
    u32(SQL_ALTER_DOMAIN, 0),
    u32(SQL_DATETIME_LITERALS, 0),
    u32(SQL_CONVERT_INTERVAL_DAY_TIME, 0),
    u32(SQL_CONVERT_INTERVAL_YEAR_MONTH, 0),
    u32(SQL_CREATE_ASSERTION, 0),
    u32(SQL_CREATE_CHARACTER_SET, 0),
    u32(SQL_CREATE_COLLATION, 0),
    u32(SQL_CREATE_DOMAIN, 0),
    u32(SQL_CREATE_TRANSLATION, 0),
    u32(SQL_DROP_ASSERTION, 0),
    u32(SQL_DROP_CHARACTER_SET, 0),
    u32(SQL_DROP_COLLATION, 0),
    u32(SQL_DROP_DOMAIN, 0),
    u32(SQL_DROP_SCHEMA, 0),
    u32(SQL_DROP_TRANSLATION, 0),
    u32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0),
    u32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0),
    u32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT),
    u32(SQL_KEYSET_CURSOR_ATTRIBUTES1, 0),
    u32(SQL_KEYSET_CURSOR_ATTRIBUTES2, 0),
    u32(SQL_SQL92_DATETIME_FUNCTIONS, 0),
    u32(SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 0),
    u32(SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 0),
    u32(SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, 0),
    u32(SQL_STATIC_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE),
    u32(SQL_STATIC_CURSOR_ATTRIBUTES2,
        SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_CRC_EXACT),
    u32(1029, 0),
    u32(SQL_ASYNC_DBC_FUNCTIONS, 0),
    u32(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT | SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST |
        SQL_FD_FETCH_PRIOR | SQL_FD_FETCH_ABSOLUTE | SQL_FD_FETCH_RELATIVE),
    u32(SQL_LOCK_TYPES, 0),
    u32(SQL_SQL_CONFORMANCE, 1),
    u32(SQL_CREATE_TABLE, 1),
    u32(SQL_DROP_TABLE, 1),
    u32(SQL_DROP_VIEW, 1),
    u32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT),
    u32(SQL_PARAM_ARRAY_ROW_COUNTS, 1),
    u32(SQL_PARAM_ARRAY_SELECTS, 1),
    u32(SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 1),
    u32(SQL_DEFAULT_TXN_ISOLATION, 2),
    u32(SQL_BATCH_ROW_COUNT, 2),
    u32(SQL_STANDARD_CLI_CONFORMANCE, 2),
    u32(SQL_CURSOR_SENSITIVITY, SQL_INSENSITIVE),
    u32(SQL_ASYNC_MODE, 2),
    u32(SQL_CONVERT_FUNCTIONS, 3),
    u32(SQL_UNION, 3),
    u32(SQL_CREATE_SCHEMA, 3),
    u32(SQL_CREATE_VIEW, 3),
    u32(SQL_INDEX_KEYWORDS, 3),
    u32(SQL_ODBC_INTERFACE_CONFORMANCE, 3),
    u32(SQL_DDL_INDEX, 3),
    u32(SQL_SQL92_STRING_FUNCTIONS, 6),
    u32(SQL_SYSTEM_FUNCTIONS, 7),
    u32(SQL_CATALOG_USAGE, 7),
    u32(SQL_SQL92_PREDICATES, 7),
    u32(SQL_INSERT_STATEMENT, 7),
    u32(SQL_GETDATA_EXTENSIONS, 11),
    u32(SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY),
    u32(SQL_TXN_ISOLATION_OPTION, 15),
    u32(SQL_BATCH_SUPPORT, 15),
    u32(SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 15),
    u32(SQL_SQL92_VALUE_EXPRESSIONS, 15),
    u32(SQL_SQL92_GRANT, 16),
    u32(SQL_SQL92_REVOKE, 16),
    u32(SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC),
    u32(SQL_SCHEMA_USAGE, 31),
    u32(SQL_SUBQUERIES, 31),
    u32(SQL_AGGREGATE_FUNCTIONS, 64),
    u32(SQL_BOOKMARK_PERSISTENCE, 0),
    u32(SQL_OJ_CAPABILITIES, 127),
    u32(65003, 127),
    u32(SQL_TIMEDATE_ADD_INTERVALS, 511),
    u32(SQL_TIMEDATE_DIFF_INTERVALS, 511),
    u32(SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 858),
    u32(SQL_MAX_INDEX_SIZE, 900),
    u32(SQL_MAX_ROW_SIZE, 8060),
    u32(SQL_ALTER_TABLE, 39017),
    u32(SQL_MAX_STATEMENT_LEN, 524288),
    u32(SQL_MAX_CHAR_LITERAL_LEN, 524288),
    u32(SQL_MAX_BINARY_LITERAL_LEN, 524288),
    u32(SQL_CONVERT_LONGVARBINARY, 0x40C00),
    u32(SQL_STRING_FUNCTIONS, 0x4FFFFF),
    u32(SQL_TIMEDATE_FUNCTIONS, 0x1FFFFF),
    u32(SQL_NUMERIC_FUNCTIONS, 0xFFFFFF),
    u32(SQL_INFO_SCHEMA_VIEWS, 0x73BFF4),
    u32(SQL_CONVERT_BIGINT, 0xA07D7F),
    u32(SQL_CONVERT_BIT, 0xA07D7F),
    u32(SQL_CONVERT_DECIMAL, 0xA07D7F),
    u32(SQL_CONVERT_INTEGER, 0xA07D7F),
    u32(SQL_CONVERT_NUMERIC, 0xA07D7F),
    u32(SQL_CONVERT_SMALLINT, 0xA07D7F),
    u32(SQL_CONVERT_TINYINT, 0xA07D7F),
    u32(SQL_CONVERT_FLOAT, 0xA0717F),
    u32(SQL_CONVERT_REAL, 0xA0717F),
    u32(SQL_CONVERT_TIMESTAMP, 0xA20D01),
    u32(SQL_CONVERT_BINARY, 0xA46D1F),
    u32(SQL_CONVERT_LONGVARCHAR, 0xE00301),
    u32(SQL_CONVERT_WLONGVARCHAR, 0xE00301),
    u32(SQL_CONVERT_VARBINARY, 0xE46D1F),
    u32(SQL_CONVERT_GUID, 0x1000001),
    u32(SQL_CONVERT_CHAR, 0x1E67F7F),
    u32(SQL_CONVERT_VARCHAR, 0x1E67F7F),
    u32(SQL_CONVERT_WCHAR, 0x1E67F7F),
    u32(SQL_CONVERT_WVARCHAR, 0x1E67F7F),

    /* ---- text ---- */
    conntext(SQL_DATA_SOURCE_NAME, CV_DATA_SOURCE),
    text(SQL_DRIVER_NAME, "libqvmysql.so"),
    text(SQL_DRIVER_VER, "01.00.0014"),
    text(SQL_ODBC_VER, "03.52.0000"),
    text(SQL_DRIVER_ODBC_VER, "03.52"),
    conntext(SQL_SERVER_NAME, CV_SERVER_NAME),
    text(SQL_DBMS_NAME, "MySQL"),
    conntext(SQL_DBMS_VER, CV_DBMS_VER),
    conntext(SQL_DATABASE_NAME, CV_DATABASE),
    conntext(SQL_USER_NAME, CV_USER),
    text(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    conntext(SQL_IDENTIFIER_QUOTE_CHAR, CV_QUOTE_CHAR),
    text(SQL_ROW_UPDATES, "N"),
    text(SQL_DATA_SOURCE_READ_ONLY, "N"),
    text(SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"),
    text(SQL_MAX_ROW_SIZE_INCLUDES_LONG, "N"),
    text(SQL_ACCESSIBLE_TABLES, "Y"),
    text(SQL_ACCESSIBLE_PROCEDURES, "Y"),
    text(SQL_PROCEDURES, "Y"),
    text(SQL_EXPRESSIONS_IN_ORDERBY, "Y"),
    text(SQL_MULT_RESULT_SETS, "Y"),
    text(SQL_MULTIPLE_ACTIVE_TXN, "Y"),
    text(SQL_INTEGRITY, "Y"),
    text(SQL_COLUMN_ALIAS, "Y"),
    text(SQL_NEED_LONG_DATA_LEN, "Y"),
    text(SQL_LIKE_ESCAPE_CLAUSE, "Y"),
    text(SQL_DESCRIBE_PARAMETER, "Y"),
    text(SQL_CATALOG_NAME, "Y"),
    text(SQL_OUTER_JOINS, "F"),
    text(SQL_SCHEMA_TERM, "owner"),
    text(SQL_PROCEDURE_TERM, "stored procedure"),
    text(SQL_CATALOG_NAME_SEPARATOR, "."),
    text(SQL_CATALOG_TERM, "database"),
    text(SQL_TABLE_TERM, "table"),
    text(SQL_KEYWORDS, keywords),
    conntext(SQL_SPECIAL_CHARACTERS, CV_SPECIAL_CHARS),
    text(SQL_XOPEN_CLI_YEAR, "1995"),
    text(SQL_COLLATION_SEQ, "ISO 8859-1"),
};

const info_row *find_info(unsigned id)
{
    for (const info_row &r : info_table)
        if (r.id == id)
            return &r;
    return nullptr;
}

uint16_t conn_number(const my_connection *c, conn_value which, int wide)
{
    switch (which) {
    case CV_CONCURRENT:
        return c->NoCache ? 1 : 0;
    case CV_TXN_CAPABLE:
        /* CLIENT_TRANSACTIONS; the server commits the open transaction
         * before any DDL statement */
        return (c->server_caps & 0x2000) ? SQL_TC_DDL_COMMIT : SQL_TC_NONE;
    case CV_IDENTIFIER_LEN:
        return wide ? 64 : 128;
    default:
        return 0;
    }
}

my_string *special_characters(void)
{
    my_string *s = ms_new(64);
    if (!s)
        return nullptr;
    uint32_t n = 0;
    s->data[n++] = '#';
    s->data[n++] = '$';
    for (uint16_t u = 0xC0; u <= 0xFF; u++)
        if (u != 0xD7 && u != 0xF7)   /* the multiplication and division signs */
            s->data[n++] = u;
    return s;
}

/* The text answer of a connection value into *owned (null: absent).
 * 0, or -1 when memory runs out. */
int conn_text(const my_connection *c, conn_value which, my_string **owned)
{
    const my_string *src = nullptr;
    const char *literal = nullptr;
    switch (which) {
    case CV_DATA_SOURCE:
        src = c->DSN;
        break;
    case CV_SERVER_NAME:
        src = c->server_version;
        literal = "MySQL";
        break;
    case CV_DBMS_VER:
        src = c->server_version;
        break;
    case CV_DATABASE: {
        /* a catalog function on another thread may be switching it */
        std::lock_guard<qv_mutex> g(const_cast<my_connection *>(c)->wire_lock);
        *owned = c->current_database ? ms_copy(c->current_database) : nullptr;
        return c->current_database && !*owned ? -1 : 0;
    }
    case CV_USER:
        src = c->UID;
        break;
    case CV_QUOTE_CHAR:
        literal = c->AnsiMode ? "\"" : "`";
        break;
    case CV_SPECIAL_CHARS:
        *owned = special_characters();
        return *owned ? 0 : -1;
    default:
        break;
    }
    *owned = src ? ms_copy(src) : literal ? ms_from_latin1(literal) : nullptr;
    return (src || literal) && !*owned ? -1 : 0;
}

/* Copies a text answer by the one copy-out rule. An absent value is
 * answered as an empty string, so the application never reads a buffer the
 * driver left untouched. */
SQLRETURN answer_text(my_connection *c, const my_string *s, void *value, SQLSMALLINT buffer_length,
                      SQLSMALLINT *string_length, int wide)
{
    int mode = wide && !wide_is_utf8(c) ? COPY_WIDE_BYTES : COPY_NARROW;
    int64_t full = 0;
    int cut = copy_out_string(s, c, mode, value, buffer_length, &full);
    if (string_length)
        *string_length = (SQLSMALLINT)full;
    if (value && cut) {
        post_error(c, ST_01004, 0, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN get_info(my_connection *c, SQLUSMALLINT info_type, void *value, SQLSMALLINT buffer_length,
                   SQLSMALLINT *string_length, int wide)
{
    const info_row *row = find_info(info_type);
    if (!row) {
        QV_TRACE(c, LOG_ERROR, "SQLGetInfo: unexpected info_type %d", (int)info_type);
        post_error(c, ST_HYC00, 0, nullptr);
        return SQL_ERROR;
    }
    switch (row->kind) {
    case INFO_U16:
    case INFO_CONN_U16: {
        uint16_t v = row->kind == INFO_U16 ? (uint16_t)row->value
                                           : conn_number(c, (conn_value)row->value, wide);
        if (value)
            *(SQLUSMALLINT *)value = v;
        if (string_length)
            *string_length = sizeof(SQLUSMALLINT);
        return SQL_SUCCESS;
    }
    case INFO_U32:
        if (value)
            *(SQLUINTEGER *)value = row->value;
        if (string_length)
            *string_length = sizeof(SQLUINTEGER);
        return SQL_SUCCESS;
    case INFO_TEXT: {
        my_string *s = ms_from_latin1(row->text);
        if (!s) {
            post_error(c, ST_HY001, 0, nullptr);
            return SQL_ERROR;
        }
        SQLRETURN rc = answer_text(c, s, value, buffer_length, string_length, wide);
        ms_free(s);
        return rc;
    }
    case INFO_CONN_TEXT: {
        my_string *s = nullptr;
        if (conn_text(c, (conn_value)row->value, &s) != 0) {
            post_error(c, ST_HY001, 0, nullptr);
            return SQL_ERROR;
        }
        SQLRETURN rc = answer_text(c, s, value, buffer_length, string_length, wide);
        ms_free(s);
        return rc;
    }
    }
    return SQL_ERROR;
}

} // namespace

SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT info_type, SQLPOINTER value,
                             SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
try {
    QV_CONN_ENTRY(hdbc, conn, "SQLGetInfo",
                  "SQLGetInfo: connection_handle=%p, info_type=%d, info_value=%p, "
                  "buffer_length=%d, string_length=%p",
                  hdbc, (int)info_type, value, (int)buffer_length, string_length);
    return QV_LEAVE(get_info(conn, info_type, value, buffer_length, string_length, 0));
}
QV_CATCH(hdbc)

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT info_type, SQLPOINTER value,
                              SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
try {
    QV_CONN_ENTRY(hdbc, conn, "SQLGetInfoW",
                  "SQLGetInfoW: connection_handle=%p, info_type=%d, info_value=%p, "
                  "buffer_length=%d, string_length=%p",
                  hdbc, (int)info_type, value, (int)buffer_length, string_length);
    return QV_LEAVE(get_info(conn, info_type, value, buffer_length, string_length, 1));
}
QV_CATCH(hdbc)
