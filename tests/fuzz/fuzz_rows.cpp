// Fuzz target: text and binary rows decoded into a statement's columns and
// every column converted to every C type through SQLGetData, whole and in
// pieces, and through a bound column.
//
// Input:
//   mode       1 binary rows (a prepared statement's); 2 a Latin-1
//              connection; 4 wide text as UTF-8 (ConvWToUtf); 8 NullDatetimes;
//              16 TimeAsTime; 32 CLIENT_DEPRECATE_EOF; 64 ODBC 2 behaviour
//   count      1 + count % 8 columns, then per column 6 bytes: type, flags
//              (u16), character set (an index into CHARSETS), decimals,
//              length (an index into LENGTHS)
//   piece      1 + piece % 24: the buffer size of the piecewise reads
//   bind       the bound column (bind % count) and its C type
//   rows       the rest: row payloads as the server sends them, each with
//              its length in front (u16), at most 6
// The rows end with an EOF packet (with CLIENT_DEPRECATE_EOF, its OK form).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "frame/my_handle.h"
#include "fuzz/fuzz_support.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"

namespace {

const uint16_t CHARSETS[] = {33, 63, 8, 45, 224, 83, 28, 13, 1, 255};
const uint32_t LENGTHS[] = {0, 1, 4, 10, 19, 20, 26, 255, 65535, 16777215, 0xFFFFFFFFu};

// Every C type the driver converts to, and a few it refuses.
const SQLSMALLINT C_TYPES[] = {
    SQL_C_CHAR,     SQL_C_WCHAR,    SQL_C_SLONG,          SQL_C_LONG,      SQL_C_ULONG,
    SQL_C_DOUBLE,   SQL_C_SBIGINT,  SQL_C_UBIGINT,        SQL_C_TIMESTAMP, SQL_C_TYPE_TIMESTAMP,
    SQL_C_NUMERIC,  SQL_C_SSHORT,   SQL_C_SHORT,          SQL_C_USHORT,    SQL_C_UTINYINT,
    SQL_C_TINYINT,  SQL_C_STINYINT, SQL_C_BIT,            SQL_C_FLOAT,     SQL_C_TYPE_DATE,
    SQL_C_DATE,     SQL_C_TYPE_TIME, SQL_C_TIME,          SQL_C_BINARY,    SQL_C_GUID,
    SQL_C_DEFAULT,  SQL_ARD_TYPE,   SQL_C_INTERVAL_DAY,   SQL_C_INTERVAL_HOUR_TO_SECOND,
};
const size_t C_TYPE_COUNT = sizeof C_TYPES / sizeof C_TYPES[0];

void put_lenstr(std::vector<uint8_t> &b, const char *s)
{
    size_t n = strlen(s);
    b.push_back((uint8_t)n);
    b.insert(b.end(), s, s + n);
}

// A 4.1 column definition.
std::vector<uint8_t> column_def(int index, qvfuzz::reader &in)
{
    uint8_t type = in.u8();
    uint16_t flags = in.u16();
    uint16_t charset = CHARSETS[in.u8() % (sizeof CHARSETS / sizeof CHARSETS[0])];
    uint8_t decimals = in.u8();
    uint32_t length = LENGTHS[in.u8() % (sizeof LENGTHS / sizeof LENGTHS[0])];
    char name[8] = {'c', (char)('0' + index), 0};
    std::vector<uint8_t> b;
    put_lenstr(b, "def");
    put_lenstr(b, "fz");
    put_lenstr(b, "t");
    put_lenstr(b, "t");
    put_lenstr(b, name);
    put_lenstr(b, name);
    b.push_back(12);
    b.push_back((uint8_t)charset);
    b.push_back((uint8_t)(charset >> 8));
    for (int i = 0; i < 4; i++)
        b.push_back((uint8_t)(length >> (8 * i)));
    b.push_back(type);
    b.push_back((uint8_t)flags);
    b.push_back((uint8_t)(flags >> 8));
    b.push_back(decimals);
    b.push_back(0);
    b.push_back(0);
    return b;
}

void queue(my_statement *s, const std::vector<uint8_t> &payload, unsigned seq)
{
    if (queue_append(s, payload.data(), payload.size(), seq) != 0)
        abort();
}

// One value read again from its start (as a new row would hold it).
void rewind_value(my_statement *s, int column)
{
    data_storage &ds = s->ird->records[column - 1].storage;
    ds.data_done = 0;
    ds.value_offset = 0;
    ds.wide_offset = 0;
}

void convert_row(SQLHSTMT h, my_statement *s, int columns, SQLLEN piece)
{
    for (int col = 1; col <= columns && col <= s->ird->field_count; col++) {
        for (size_t t = 0; t < C_TYPE_COUNT; t++) {
            // aligned for every C type's structure
            union {
                char text[300];
                SQL_NUMERIC_STRUCT numeric;
                SQL_TIMESTAMP_STRUCT timestamp;
                SQLGUID guid;
                double d;
                int64_t i;
            } out;
            SQLLEN ind = 0;
            rewind_value(s, col);
            SQLGetData(h, (SQLUSMALLINT)col, C_TYPES[t], &out, sizeof out, &ind);
            rewind_value(s, col);
            SQLGetData(h, (SQLUSMALLINT)col, C_TYPES[t], nullptr, 0, &ind);
        }
        for (SQLSMALLINT type : {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY}) {
            rewind_value(s, col);
            char small[32];
            SQLLEN ind = 0;
            for (int i = 0; i < 400; i++) {
                SQLRETURN rc = SQLGetData(h, (SQLUSMALLINT)col, type, small, piece, &ind);
                if (rc != SQL_SUCCESS_WITH_INFO)
                    break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    qvfuzz::reader in(data, size);
    unsigned mode = in.u8();
    int columns = 1 + in.u8() % 8;

    qvfuzz::link l(nullptr, 0, true);
    my_connection *c = l.c;
    if (mode & 2)
        c->charset = 8;
    c->ConvWToUtf = (mode & 4) != 0;
    c->NullDatetimes = (mode & 8) != 0;
    c->TimeAsTime = (mode & 16) != 0;
    bool deprecate_eof = (mode & 32) != 0;
    if (deprecate_eof)
        c->server_caps = c->client_caps = c->client_caps | CLIENT_DEPRECATE_EOF;
    if (mode & 64)
        c->odbc_behaviour = 2;

    SQLHSTMT h = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, c, &h) != SQL_SUCCESS)
        abort();
    my_statement *s = (my_statement *)h;

    unsigned seq = 2;
    for (int i = 0; i < columns; i++)
        queue(s, column_def(i, in), seq++);
    const std::vector<uint8_t> eof = {0xFE, 0, 0, 2, 0};
    const std::vector<uint8_t> ok_end = {0xFE, 0, 0, 2, 0, 0, 0};
    if (!deprecate_eof)
        queue(s, eof, seq++);
    SQLLEN piece = 1 + in.u8() % 24;
    uint8_t bind = in.u8();
    SQLSMALLINT bind_type = C_TYPES[in.u8() % C_TYPE_COUNT];
    for (int r = 0; r < 6 && !in.empty(); r++)
        queue(s, in.piece(), seq++);
    queue(s, deprecate_eof ? ok_end : eof, seq++);

    if (decode_field_defs(s, columns, DEF_COLUMNS, 0) == 0) {
        if (mode & 1)
            s->prepared = 1;   // the rows are a prepared statement's: binary
        union {
            char text[64];
            SQL_TIMESTAMP_STRUCT timestamp;
            SQL_NUMERIC_STRUCT numeric;
            double d;
        } bound;
        SQLLEN bound_ind = 0;
        SQLBindCol(h, (SQLUSMALLINT)(1 + bind % columns), bind_type, &bound, sizeof bound,
                   &bound_ind);
        for (int r = 0; r < 8; r++) {
            SQLRETURN rc = SQLFetch(h);
            if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
                break;
            convert_row(h, s, columns, piece);
        }
        SQLFreeStmt(h, SQL_UNBIND);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    return 0;
}
