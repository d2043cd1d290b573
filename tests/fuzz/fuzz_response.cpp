// Fuzz target: the decoders of the server's responses. The input's first
// byte picks what is decoded, the rest is the server's side:
//   mode & 7 = 0..2  one OK, ERR or EOF packet (the rest is its payload)
//            = 3     a field-list response: the rest is length-prefixed
//                    definitions (u16 each) decoded one after the other
//            = 4     the response to a query (SQLExecDirect) off the wire,
//                    with every result, row and column read as text
//            = 5     prepare and execute (SQLPrepare, SQLExecute): the
//                    prepare OK, parameter and column definitions, then
//                    binary rows
//            = 6     COM_FIELD_LIST off the wire
//            = 7     as 4, rows read from the wire as they are fetched
// Bits: 8 CLIENT_DEPRECATE_EOF; 16 compressed frames; 32 a Latin-1
// connection; 64 prepared statements as text (Text_Prepare); 128 a MariaDB
// 10.11 server, and for 4 and 7 one query (SELECT a, b FROM t), which goes
// as prepare, execute and close: the prepare's answer, then the execute's
// binary rows (or, after a refused prepare, the execute's error and the
// text's response).
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

// An incoming packet of exactly the payload's size, so an over-read shows.
my_packet *incoming(void *owner, const std::vector<uint8_t> &payload)
{
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    if (!p)
        abort();
    p->data = (unsigned char *)malloc(4 + payload.size());
    if (!p->data)
        abort();
    size_t n = payload.size();
    p->data[0] = (unsigned char)n;
    p->data[1] = (unsigned char)(n >> 8);
    p->data[2] = (unsigned char)(n >> 16);
    p->data[3] = 1;
    if (n)
        memcpy(p->data + 4, payload.data(), n);
    p->limit = p->length = (int32_t)(4 + n);
    p->pos = 4;
    p->seq = 1;
    p->owner = owner;
    return p;
}

// Everything a result offers, read as an application would: the counts,
// each column's description, every row's columns as text.
void read_results(SQLHSTMT h)
{
    for (int result = 0; result < 8; result++) {
        SQLSMALLINT cols = 0;
        SQLNumResultCols(h, &cols);
        SQLLEN count = 0;
        SQLRowCount(h, &count);
        for (SQLUSMALLINT c = 1; c <= cols && c <= 32; c++) {
            SQLCHAR name[64];
            SQLSMALLINT name_len, type, digits, nullable;
            SQLULEN size;
            SQLDescribeCol(h, c, name, sizeof name, &name_len, &type, &size, &digits, &nullable);
        }
        for (int row = 0; cols > 0 && row < 16; row++) {
            SQLRETURN rc = SQLFetch(h);
            if (!SQL_SUCCEEDED(rc))
                break;
            for (SQLUSMALLINT c = 1; c <= cols && c <= 32; c++) {
                char buf[64];
                SQLLEN ind;
                SQLGetData(h, c, SQL_C_CHAR, buf, sizeof buf, &ind);
            }
        }
        SQLRETURN rc = SQLMoreResults(h);
        if (!SQL_SUCCEEDED(rc))
            return;
    }
}

void direct(my_statement *s, unsigned mode, qvfuzz::reader &in)
{
    if ((mode & 7) == 3) {
        for (int index = 0; !in.empty() && index < 64; index++) {
            my_packet *p = incoming(s, in.piece());
            int rc = decode_field_list(s, p, index);
            packet_free(p);
            if (rc != 0)
                break;
        }
        return;
    }
    my_packet *p = incoming(s, in.rest());
    switch (mode & 7) {
    case 0: decode_ok_packet(s, p, 0); break;
    case 1: decode_error_packet(s, p); break;
    default: decode_eof_packet(s, p, 0); break;
    }
    packet_free(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned mode = data[0];
    qvfuzz::reader in(data + 1, size - 1);
    bool wire = (mode & 7) >= 4;
    qvfuzz::link l(wire ? data + 1 : nullptr, size - 1, true);
    my_connection *c = l.c;
    if (mode & 8)
        c->server_caps = c->client_caps = c->client_caps | CLIENT_DEPRECATE_EOF;
    c->compress_active = (mode & 16) != 0;
    if (mode & 32)
        c->charset = 8;
    c->Text_Prepare = (mode & 64) != 0;
    c->NoCache = (mode & 7) == 7;
    if (mode & 128) {
        c->version_major = 10;
        c->version_minor = 11;
        c->server_mariadb = 1;
    }

    SQLHSTMT h = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, c, &h) != SQL_SUCCESS)
        abort();
    my_statement *s = (my_statement *)h;
    switch (mode & 7) {
    case 4:
    case 7:
        if (SQL_SUCCEEDED(SQLExecDirect(h, (SQLCHAR *)(mode & 128 ? "SELECT a, b FROM t"
                                                                  : "SELECT a, b FROM t; SELECT 1"),
                                        SQL_NTS)))
            read_results(h);
        break;
    case 5: {
        SQLINTEGER param = 5;
        SQLLEN param_ind = 0;
        SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &param, 0,
                         &param_ind);
        if (SQL_SUCCEEDED(SQLPrepare(h, (SQLCHAR *)"SELECT a, b FROM t WHERE c > ?", SQL_NTS))) {
            SQLSMALLINT params = 0;
            SQLNumParams(h, &params);
            if (SQL_SUCCEEDED(SQLExecute(h)))
                read_results(h);
        }
        SQLFreeStmt(h, SQL_RESET_PARAMS);
        break;
    }
    case 6: {
        my_string *table = ms_from_latin1("t");
        if (table_field_list(s, table) == 0)
            read_results(h);
        ms_free(table);
        break;
    }
    default:
        direct(s, mode, in);
        break;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    return 0;
}
