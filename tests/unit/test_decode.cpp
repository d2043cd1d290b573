// Response decoders fed with hand-built packets: OK (with the information
// text rules), ERR, EOF, column and parameter definitions in both forms,
// prepare OK and field lists, and hostile packets cut short or carrying
// impossible lengths. Packets are allocated to their exact size so that the
// sanitizer build catches any read past the end.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"
#include "support/unit_support.h"

namespace {

const char *const NONE = "<none>";
const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";
const std::string LINK = PREFIX + "Communication link failure";

std::string str(const my_string *s) { return s ? unit_support::ascii_of(s) : NONE; }
std::string diag_state(const void *h, int n = 1) { return unit_support::diag_state(h, n, NONE); }
std::string diag_text(const void *h, int n = 1) { return unit_support::diag_text(h, n, NONE); }

// Payload builder.
using bytes = unit_support::payload;

// An incoming packet holding the first n payload bytes, in a buffer of
// exactly that size.
my_packet *incoming(void *owner, const bytes &payload, size_t n = SIZE_MAX)
{
    if (n > payload.size())
        n = payload.size();
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    p->data = (unsigned char *)malloc(4 + n);
    p->data[0] = (unsigned char)n;
    p->data[1] = (unsigned char)(n >> 8);
    p->data[2] = (unsigned char)(n >> 16);
    p->data[3] = 1;
    if (n)
        memcpy(p->data + 4, payload.b.data(), n);
    p->limit = p->length = (int32_t)(4 + n);
    p->pos = 4;
    p->seq = 1;
    p->owner = owner;
    return p;
}

// Queues the packet's payload on the statement, as the command layer would
// have pulled it, and frees the packet.
void enqueue(my_statement *s, my_packet *p)
{
    ASSERT_EQ(queue_append(s, p->data + 4, (size_t)(p->limit - 4), p->seq), 0);
    packet_free(p);
}

int queued(const my_statement *s) { return (int)s->queue.count; }

bytes ok_packet(uint64_t affected, uint64_t insert_id, unsigned status, unsigned warnings,
                const std::string &info)
{
    bytes b;
    b.u8(0).lenenc(affected).lenenc(insert_id).u16(status).u16(warnings);
    if (!info.empty())
        b.lenstr(info);
    return b;
}

bytes eof_packet(unsigned warnings, unsigned status)
{
    return bytes().u8(0xFE).u16(warnings).u16(status);
}

bytes def41(const std::string &table, const std::string &name, int charset, uint32_t length,
            int type, int flags, int decimals)
{
    bytes b;
    b.lenstr("def").lenstr("shop").lenstr(table).lenstr(table + "_org").lenstr(name)
        .lenstr(name + "_org");
    b.lenenc(12).u16(charset).u32(length).u8(type).u16(flags).u8(decimals).u16(0);
    return b;
}

bytes def320(const std::string &table, const std::string &name, uint32_t length, int type,
             int flags, int decimals, int long_flag)
{
    bytes b;
    b.lenstr(table).lenstr(name).lenenc(3).u24(length).lenenc(1).u8(type);
    if (long_flag)
        b.lenenc(3).u16(flags);
    else
        b.lenenc(2).u8(flags);
    b.u8(decimals);
    return b;
}

struct decode_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void SetUp() override
    {
        env->odbc_version = SQL_OV_ODBC3;
        conn->server_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS | CLIENT_LONG_FLAG;
        conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS | CLIENT_LONG_FLAG;
        conn->charset = 33;
    }
    void TearDown() override { env_release(env); }

    // Feeds one packet to a decoder and frees it.
    template <class F> int feed(void *owner, const bytes &b, F decoder, size_t n = SIZE_MAX)
    {
        my_packet *p = incoming(owner, b, n);
        int rc = decoder(p);
        packet_free(p);
        return rc;
    }
    int ok(void *h, const bytes &b, size_t n = SIZE_MAX)
    {
        return feed(h, b, [h](my_packet *p) { return decode_ok_packet(h, p, 0); }, n);
    }
    int eof(void *h, const bytes &b, size_t n = SIZE_MAX)
    {
        return feed(h, b, [h](my_packet *p) { return decode_eof_packet(h, p, 0); }, n);
    }
    void expect_link_failure(const void *h, const std::string &detail)
    {
        EXPECT_EQ(diag_state(h), "08S01");
        EXPECT_EQ(diag_text(h), LINK + ": " + detail);
    }
    void expect_abandoned(my_descriptor *d)
    {
        EXPECT_EQ(d->field_count, 0);
        EXPECT_EQ(d->described_valid, 0);
        EXPECT_EQ(stmt->described, 0);
    }
};

} // namespace

// ------------------------------------------------------------------- OK

using DecodeOk = decode_fixture;

TEST_F(DecodeOk, InformationTextRules)
{
    struct info_case {
        const char *info;
        uint64_t packet_count;
        int64_t want;
    } cases[] = {
        {"", 7, 7},
        {"Rows matched: 3  Changed: 1  Warnings: 0", 1, 3},
        {"Rows matched:3 Changed:1 Warnings:0", 1, 3},          // a blank also matches none
        {"Rows matched: 3\tChanged: 1\n Warnings: 0", 1, 3},
        {"Rows matched: 3  Changed: 1", 1, 1},                   // two numbers are not enough
        {"Rows matched: x", 1, 1},
        {"Rows matched:", 1, 1},                                 // 13 characters
        {"Rows matched: 99999999999999999999  Changed: 1  Warnings: 0", 1, 1},
        {"Rows matched: 3000000000  Changed: 3000000000  Warnings: 0", 0, 3000000000LL},
        {"Records: 5  Deleted: 0  Skipped: 0  Warnings: 0", 2, 5},
        {"Records: 5  Deleted: 0  Skipped: 0  Warnings : 0", 2, 5},
        {"Records: 3  Duplicates: 1  Warnings: 0", 4, 4},        // INSERT ... VALUES (...),(...)
        {"Records:", 4, 4},                                      // 8 characters
        {"records: 5  Deleted: 0  Skipped: 0  Warnings: 0", 2, 2},
        {"(Rows matched: 3  Changed: 1  Warnings: 0)", 1, 1},
    };
    for (const info_case &c : cases) {
        SCOPED_TRACE(c.info);
        stmt->status = command_status{};
        ASSERT_EQ(ok(stmt, ok_packet(c.packet_count, 0, 0x22, 0, c.info)), 0);
        EXPECT_EQ(stmt->status.affected_rows, c.want);
        EXPECT_EQ(stmt->status.server_status, 0x22u);
    }
    EXPECT_EQ(diag_count(stmt), 0);
}

TEST_F(DecodeOk, LayoutFollowsTheClientFlags)
{
    // 4.1: status then warnings (sign-extended from 16 bits).
    ASSERT_EQ(ok(stmt, ok_packet(300, 70000, 0x0A, 0xFFFF, "")), 0);
    EXPECT_EQ(stmt->status.affected_rows, 300);
    EXPECT_EQ(stmt->status.server_status, 0x0Au);
    EXPECT_EQ(stmt->status.warnings, -1);

    // Transactions only: status, no warnings.
    conn->client_caps = CLIENT_TRANSACTIONS;
    ASSERT_EQ(ok(stmt, bytes().u8(0).lenenc(4).lenenc(0).u16(0x02)), 0);
    EXPECT_EQ(stmt->status.affected_rows, 4);
    EXPECT_EQ(stmt->status.server_status, 0x02u);
    EXPECT_EQ(stmt->status.warnings, 0);

    // Neither: both 0, and the information text follows the counts.
    conn->client_caps = 0;
    ASSERT_EQ(ok(stmt, bytes().u8(0).lenenc(2).lenenc(0).lenstr(
                             "Rows matched: 6  Changed: 2  Warnings: 0")),
              0);
    EXPECT_EQ(stmt->status.affected_rows, 6);
    EXPECT_EQ(stmt->status.server_status, 0u);

    // A connection-level command stores on the connection.
    conn->client_caps = CLIENT_PROTOCOL_41;
    ASSERT_EQ(ok(conn, ok_packet(9, 0, 0x4002, 1, "")), 0);
    EXPECT_EQ(conn->status.affected_rows, 9);
    EXPECT_EQ(conn->status.server_status, 0x4002u);
    EXPECT_EQ(conn->status.warnings, 1);
}

TEST_F(DecodeOk, OtherPacketsAreRefused)
{
    for (unsigned lead : {0xFEu, 0xFFu, 0x01u}) {
        clear_diagnostics(stmt);
        stmt->status.affected_rows = 42;
        char hex[8];
        snprintf(hex, sizeof hex, "%x", lead);
        EXPECT_EQ(ok(stmt, bytes().u8(lead).u16(0).u16(0)), -6);
        expect_link_failure(stmt, std::string("unexpected packet type ") + hex);
        EXPECT_EQ(stmt->status.affected_rows, 42);
    }
    clear_diagnostics(stmt);
    EXPECT_EQ(ok(stmt, bytes()), -6);   // empty payload
    EXPECT_EQ(diag_state(stmt), "08S01");
}

TEST_F(DecodeOk, EveryTruncationIsCaught)
{
    // 00, affected, insert id, status, warnings: 7 bytes; the information
    // text may be absent altogether, but not cut.
    bytes full = ok_packet(3, 1, 2, 0, "Rows matched: 3  Changed: 1  Warnings: 0");
    for (size_t n = 0; n < full.size(); n++) {
        SCOPED_TRACE(n);
        clear_diagnostics(stmt);
        stmt->status.affected_rows = -5;
        int rc = ok(stmt, full, n);
        if (n == 7) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(stmt->status.affected_rows, 3);
        } else if (n == 0) {
            EXPECT_EQ(rc, -6);
            expect_link_failure(stmt, "unexpected packet type 0");
        } else {
            EXPECT_EQ(rc, -6);
            expect_link_failure(stmt, "malformed OK packet");
            EXPECT_EQ(stmt->status.affected_rows, -5);   // nothing stored from a bad packet
        }
    }
}

TEST_F(DecodeOk, ImpossibleLengthsAreCaught)
{
    struct { const char *what; bytes b; } cases[] = {
        {"NULL marker as row count", bytes().u8(0).u8(0xFB).u8(0).u16(0).u16(0)},
        {"0xFF as row count", bytes().u8(0).u8(0xFF).u8(0).u16(0).u16(0)},
        {"8-byte row count cut", bytes().u8(0).u8(0xFE).u32(1)},
        {"info longer than the packet", bytes().u8(0).u8(0).u8(0).u16(0).u16(0).u8(0xFC).u16(0xFFFF).raw("ab")},
        {"info of 2^64-1 bytes", bytes().u8(0).u8(0).u8(0).u16(0).u16(0).u8(0xFE).le(~0ull, 8)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clear_diagnostics(stmt);
        EXPECT_EQ(ok(stmt, c.b), -6);
        expect_link_failure(stmt, "malformed OK packet");
    }
}

// ------------------------------------------------------------------ ERR

using DecodeErr = decode_fixture;

TEST_F(DecodeErr, SqlstateOnlyFromProtocol41Servers)
{
    struct err_case {
        const char *what;
        uint32_t server_caps;
        bytes b;
        int native;
        const char *state, *text;
    } cases[] = {
        {"4.1", CLIENT_PROTOCOL_41,
         bytes().u8(0xFF).u16(1045).raw("#28000Access denied for user 'bob'@'h'"), 1045, "28000",
         "Access denied for user 'bob'@'h'"},
        {"pre-4.1 server", 0, bytes().u8(0xFF).u16(1046).raw("No database selected"), 1046,
         "HY000", "No database selected"},
        {"4.1 server, error before the handshake", CLIENT_PROTOCOL_41,
         bytes().u8(0xFF).u16(1040).raw("Too many connections"), 1040, "HY000",
         "Too many connections"},
        {"message ends at a 0 byte", CLIENT_PROTOCOL_41,
         bytes().u8(0xFF).u16(1064).raw("#42000bad").u8(0).raw("junk"), 1064, "42000", "bad"},
        {"marker without a whole state", CLIENT_PROTOCOL_41,
         bytes().u8(0xFF).u16(2000).raw("#420"), 2000, "HY000", "#420"},
        {"error number cut", CLIENT_PROTOCOL_41, bytes().u8(0xFF).u8(7), 0, "HY000", ""},
        {"nothing but the lead", CLIENT_PROTOCOL_41, bytes().u8(0xFF), 0, "HY000", ""},
    };
    for (const err_case &c : cases) {
        SCOPED_TRACE(c.what);
        clear_diagnostics(stmt);
        conn->server_caps = c.server_caps;
        EXPECT_EQ(feed(stmt, c.b, [this](my_packet *p) { return decode_error_packet(stmt, p); }),
                  0);
        ASSERT_EQ(diag_count(stmt), 1);
        diag_record *r = diag_get(stmt, 1);
        EXPECT_EQ(r->native, c.native);
        EXPECT_EQ(str(r->sqlstate), c.state);
        EXPECT_EQ(str(r->message), PREFIX + c.text);
    }
}

TEST_F(DecodeErr, MessageInTheConnectionEncoding)
{
    bytes b = bytes().u8(0xFF).u16(1146).raw("#42S02Table 'caf\xC3\xA9' doesn't exist");
    conn->charset = 33;
    feed(stmt, b, [this](my_packet *p) { return decode_error_packet(stmt, p); });
    diag_record *r = diag_get(stmt, 1);
    ASSERT_NE(r, nullptr);
    // "Table 'café'": é is one unit from UTF-8 ...
    EXPECT_EQ(r->message->data[PREFIX.size() + 10], 0xE9);
    EXPECT_EQ(r->message->data[PREFIX.size() + 11], '\'');
    clear_diagnostics(stmt);
    conn->charset = 8;   // ... and two from latin1
    feed(stmt, b, [this](my_packet *p) { return decode_error_packet(stmt, p); });
    r = diag_get(stmt, 1);
    EXPECT_EQ(r->message->data[PREFIX.size() + 10], 0xC3);
    EXPECT_EQ(r->message->data[PREFIX.size() + 11], 0xA9);
}

// ------------------------------------------------------------------ EOF

using DecodeEof = decode_fixture;

TEST_F(DecodeEof, LayoutFollowsTheClientFlags)
{
    struct eof_case {
        const char *what;
        uint32_t caps;
        bytes b;
        int rc;
        uint32_t status;
        int32_t warnings;
    } cases[] = {
        {"4.1", CLIENT_PROTOCOL_41, eof_packet(2, 0x22), 0, 0x22, 2},
        {"4.1, warnings sign-extended", CLIENT_PROTOCOL_41, eof_packet(0xFFFE, 0x08), 0, 0x08, -2},
        {"pre-4.1", 0, eof_packet(2, 0x22), 0, 0, 0},
        {"bare lead", CLIENT_PROTOCOL_41, bytes().u8(0xFE), 0, 0, 0},
        {"deprecate-EOF, classic EOF", CLIENT_PROTOCOL_41 | CLIENT_DEPRECATE_EOF,
         eof_packet(1, 0x0A), 0, 0x0A, 1},
        {"deprecate-EOF, OK-shaped end of rows", CLIENT_PROTOCOL_41 | CLIENT_DEPRECATE_EOF,
         bytes().u8(0xFE).lenenc(0).lenenc(0).u16(0x22).u16(3), 0, 0x22, 3},
        {"deprecate-EOF, OK-shaped with info", CLIENT_PROTOCOL_41 | CLIENT_DEPRECATE_EOF,
         bytes().u8(0xFE).lenenc(0).lenenc(0).u16(0x0A).u16(0).lenstr("x"), 0, 0x0A, 0},
        {"cut warnings", CLIENT_PROTOCOL_41, bytes().u8(0xFE).u8(2), -6, 7, 7},
        {"cut status", CLIENT_PROTOCOL_41, bytes().u8(0xFE).u16(2).u8(0x22), -6, 7, 7},
        {"OK-shaped, cut", CLIENT_PROTOCOL_41 | CLIENT_DEPRECATE_EOF,
         bytes().u8(0xFE).lenenc(0).lenenc(0).u16(0x22).u8(0), -6, 7, 7},
        {"not an EOF", CLIENT_PROTOCOL_41, bytes().u8(0x00).u16(0).u16(0), -6, 7, 7},
        {"empty", CLIENT_PROTOCOL_41, bytes(), -6, 7, 7},
    };
    for (const eof_case &c : cases) {
        SCOPED_TRACE(c.what);
        clear_diagnostics(stmt);
        conn->client_caps = c.caps;
        stmt->status.server_status = 7;
        stmt->status.warnings = 7;
        EXPECT_EQ(eof(stmt, c.b), c.rc);
        EXPECT_EQ(stmt->status.server_status, c.status);
        EXPECT_EQ(stmt->status.warnings, c.warnings);
        if (c.rc)
            expect_link_failure(stmt, "malformed EOF packet");
        else
            EXPECT_EQ(diag_count(stmt), 0);
    }
}

// ---------------------------------------------------------- definitions

using DecodeDefs = decode_fixture;

TEST_F(DecodeDefs, ColumnsFromTheQueue41)
{
    enqueue(stmt, incoming(stmt, def41("o", "id", 63, 11, MYSQL_TYPE_LONG,
                                       NOT_NULL_FLAG | UNSIGNED_FLAG | AUTO_INCREMENT_FLAG, 0)));
    enqueue(stmt, incoming(stmt, def41("o", "note", 33, 60, MYSQL_TYPE_VAR_STRING, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(1, SERVER_STATUS_AUTOCOMMIT)));
    enqueue(stmt, incoming(stmt, bytes().lenstr("1").lenstr("x")));   // the first row

    ASSERT_EQ(decode_field_defs(stmt, 2, DEF_COLUMNS, 0), 0);
    EXPECT_EQ(diag_count(stmt), 0);
    my_descriptor *ird = stmt->implicit_ird;
    EXPECT_EQ(stmt->ird, ird);
    EXPECT_EQ(ird->field_count, 2);
    EXPECT_EQ(ird->described_count, 2);
    EXPECT_EQ(ird->described_valid, 1);
    EXPECT_EQ(stmt->described, 1);
    EXPECT_EQ(desc_column_count(ird), 2);

    const field &id = ird->records[0];
    EXPECT_EQ(str(id.catalog_name), "def");
    EXPECT_EQ(str(id.schema_name), "shop");
    EXPECT_EQ(str(id.table_name), "o");
    EXPECT_EQ(str(id.base_table_name), "o_org");
    EXPECT_EQ(str(id.name), "id");
    EXPECT_EQ(str(id.base_column_name), "id_org");
    EXPECT_EQ(id.concise_type, SQL_INTEGER);
    EXPECT_EQ(id.is_unsigned, SQL_TRUE);
    EXPECT_EQ(id.auto_unique_value, SQL_TRUE);
    EXPECT_EQ(id.nullable, SQL_NO_NULLS);
    const field &note = ird->records[1];
    EXPECT_EQ(str(note.name), "note");
    EXPECT_EQ(note.concise_type, SQL_VARCHAR);
    EXPECT_EQ(note.charset_number, 33);
    EXPECT_EQ(note.length, 60);

    // The EOF's status, the row left in the queue, and no busy mark: the
    // rows are in memory, nobody has to wait for them.
    EXPECT_EQ(stmt->status.server_status, (uint32_t)SERVER_STATUS_AUTOCOMMIT);
    EXPECT_EQ(stmt->status.warnings, 1);
    EXPECT_EQ(stmt->cursor_exists, 0);
    EXPECT_EQ(conn->busy, 0);
    EXPECT_EQ(conn->busy_owner, nullptr);
    EXPECT_EQ(stmt->data_waiting, 1);
    EXPECT_EQ(queued(stmt), 1);
}

TEST_F(DecodeDefs, CursorReportedByTheEof)
{
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, SERVER_STATUS_CURSOR_EXISTS)));
    ASSERT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), 0);
    EXPECT_EQ(stmt->cursor_exists, 1);
}

TEST_F(DecodeDefs, NoEofWhenDeprecated)
{
    conn->client_caps |= CLIENT_DEPRECATE_EOF;
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, bytes().lenstr("1")));   // a row, not an EOF
    ASSERT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), 0);
    EXPECT_EQ(queued(stmt), 1);
    EXPECT_EQ(stmt->data_waiting, 1);
}

TEST_F(DecodeDefs, Form320)
{
    for (int long_flag : {1, 0}) {
        SCOPED_TRACE(long_flag);
        conn->client_caps = long_flag ? CLIENT_LONG_FLAG : 0;
        conn->charset = 8;
        int flags = long_flag ? (NOT_NULL_FLAG | AUTO_INCREMENT_FLAG) : NOT_NULL_FLAG;
        enqueue(stmt, incoming(stmt, def320("tab", "n", 11, MYSQL_TYPE_LONG, flags, 0, long_flag)));
        enqueue(stmt, incoming(stmt, def320("tab", "s", 20, MYSQL_TYPE_VAR_STRING, 0, 0, long_flag)));
        enqueue(stmt, incoming(stmt, bytes().u8(0xFE)));
        ASSERT_EQ(decode_field_defs(stmt, 2, DEF_COLUMNS, 0), 0);
        const field &n = stmt->ird->records[0];
        EXPECT_EQ(n.catalog_name, nullptr);
        EXPECT_EQ(n.schema_name, nullptr);
        EXPECT_EQ(n.base_table_name, nullptr);
        EXPECT_EQ(n.base_column_name, nullptr);
        EXPECT_EQ(str(n.table_name), "tab");
        EXPECT_EQ(str(n.name), "n");
        EXPECT_EQ(n.concise_type, SQL_INTEGER);
        EXPECT_EQ(n.nullable, SQL_NO_NULLS);
        EXPECT_EQ(n.auto_unique_value, long_flag ? SQL_TRUE : SQL_FALSE);
        EXPECT_EQ(n.charset_number, 8);   // the connection's
        EXPECT_EQ(stmt->ird->records[1].concise_type, SQL_VARCHAR);
        EXPECT_EQ(stmt->ird->records[1].display_size, 20);
        EXPECT_EQ(queued(stmt), 0);
    }
}

TEST_F(DecodeDefs, ParameterOfUnknownTypeGetsALength)
{
    enqueue(stmt, incoming(stmt, def41("", "?", 33, 0, MYSQL_TYPE_VAR_STRING, 0, 0)));
    enqueue(stmt, incoming(stmt, def41("", "?", 33, 30, MYSQL_TYPE_VAR_STRING, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
    ASSERT_EQ(decode_field_defs(stmt, 2, DEF_PARAMS, 0), 0);
    my_descriptor *ipd = stmt->implicit_ipd;
    EXPECT_EQ(stmt->ipd, ipd);
    EXPECT_EQ(stmt->params_described, 1);
    EXPECT_EQ(stmt->described, 0);
    EXPECT_EQ(ipd->described_count, 2);
    EXPECT_EQ(ipd->records[0].length, 255);
    EXPECT_EQ(ipd->records[1].length, 30);

    // Only parameters get the substitute length.
    enqueue(stmt, incoming(stmt, def41("", "c", 33, 0, MYSQL_TYPE_VAR_STRING, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
    ASSERT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), 0);
    EXPECT_EQ(stmt->ird->records[0].length, 0);
}

TEST_F(DecodeDefs, FieldKindFillsTheFifthDescriptor)
{
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
    ASSERT_EQ(decode_field_defs(stmt, 1, DEF_FIELDS, 0), 0);
    EXPECT_EQ(stmt->implicit_fdd->field_count, 1);
    EXPECT_EQ(stmt->implicit_fdd->described_valid, 1);
    EXPECT_EQ(stmt->ird, stmt->implicit_ird);
    EXPECT_EQ(stmt->implicit_ird->field_count, 0);
    EXPECT_EQ(stmt->described, 0);
}

TEST_F(DecodeDefs, MissingEof)
{
    // An OK packet where the EOF belongs: a protocol error.
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, ok_packet(0, 0, 0, 0, "")));
    EXPECT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), -6);
    expect_link_failure(stmt, "unexpected packet type 0");
    expect_abandoned(stmt->implicit_ird);
    EXPECT_EQ(conn->busy, 0);
    EXPECT_EQ(stmt->data_waiting, 0);

    // An ERR packet there: the server's own error.
    clear_diagnostics(stmt);
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, bytes().u8(0xFF).u16(1317).raw("#70100Query execution was interrupted")));
    EXPECT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), -1);
    EXPECT_EQ(diag_state(stmt), "70100");
    EXPECT_EQ(diag_get(stmt, 1)->native, 1317);
    expect_abandoned(stmt->implicit_ird);
    EXPECT_EQ(queued(stmt), 0);
}

TEST_F(DecodeDefs, UnsupportedTypeStopsTheDecode)
{
    enqueue(stmt, incoming(stmt, def41("t", "e", 33, 4, MYSQL_TYPE_ENUM, 0, 0)));
    enqueue(stmt, incoming(stmt, def41("t", "b", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
    EXPECT_EQ(decode_field_defs(stmt, 2, DEF_COLUMNS, 0), -6);
    expect_link_failure(stmt, "type not supported");
    EXPECT_EQ(queued(stmt), 2);   // nothing read after the failing definition
    expect_abandoned(stmt->implicit_ird);
}

TEST_F(DecodeDefs, ImpossibleCountsAreRefusedBeforeAllocating)
{
    for (int64_t count : {(int64_t)-1, (int64_t)MAX_DESC_RECORDS + 1, (int64_t)1 << 40,
                          INT64_MAX}) {
        SCOPED_TRACE(count);
        clear_diagnostics(stmt);
        EXPECT_EQ(decode_field_defs(stmt, count, DEF_COLUMNS, 0), -6);
        EXPECT_EQ(diag_state(stmt), "08S01");
        EXPECT_EQ(stmt->implicit_ird->field_count, 0);
        EXPECT_EQ(conn->busy, 0);
    }
}

TEST_F(DecodeDefs, QueueRunningDryFallsBackToTheWire)
{
    // No transport here, so the wire read fails: -1, the packet layer's
    // 08S01, nothing half-described left behind.
    enqueue(stmt, incoming(stmt, def41("t", "a", 63, 11, MYSQL_TYPE_LONG, 0, 0)));
    EXPECT_EQ(decode_field_defs(stmt, 2, DEF_COLUMNS, 0), -1);
    EXPECT_EQ(diag_state(stmt), "08S01");
    expect_abandoned(stmt->implicit_ird);
    EXPECT_EQ(conn->busy, 0);
}

TEST_F(DecodeDefs, EveryTruncationIsAProtocolError)
{
    struct form { const char *what; uint32_t caps; bytes b; } forms[] = {
        {"4.1", CLIENT_PROTOCOL_41, def41("orders", "id", 63, 11, MYSQL_TYPE_LONG, 0x203, 0)},
        {"3.20 long flag", CLIENT_LONG_FLAG, def320("orders", "id", 11, MYSQL_TYPE_LONG, 0x203, 0, 1)},
        {"3.20", 0, def320("orders", "id", 11, MYSQL_TYPE_LONG, 3, 0, 0)},
    };
    for (const form &f : forms) {
        conn->client_caps = f.caps;
        for (size_t n = 0; n <= f.b.size(); n++) {
            SCOPED_TRACE(testing::Message() << f.what << " cut at " << n);
            clear_diagnostics(stmt);
            release_data_list(stmt);
            enqueue(stmt, incoming(stmt, f.b, n));
            enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
            int rc = decode_field_defs(stmt, 1, DEF_COLUMNS, 0);
            if (n == f.b.size()) {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(str(stmt->ird->records[0].name), "id");
                continue;
            }
            EXPECT_EQ(rc, -6);
            expect_link_failure(stmt, "malformed column definition packet");
            expect_abandoned(stmt->implicit_ird);
        }
    }
}

TEST_F(DecodeDefs, ImpossibleLengthsAreProtocolErrors)
{
    bytes names = bytes().lenstr("def").lenstr("s").lenstr("t").lenstr("t").lenstr("c").lenstr("c");
    struct { const char *what; bytes b; } cases[] = {
        {"catalog longer than the packet", bytes().u8(0xFC).u16(0xFFFF).raw("def")},
        {"catalog of 2^64-1 bytes", bytes().u8(0xFE).le(~0ull, 8).raw("def")},
        {"0xFF as a length", bytes().u8(0xFF).raw("def")},
        {"fixed part shorter than its fields", bytes(names).lenenc(9).u16(63).u32(11).u8(3).u16(0)},
        {"fixed part longer than the packet", bytes(names).lenenc(13).u16(63).u32(11).u8(3).u16(0).u8(0).u16(0)},
        {"fixed part length NULL", bytes(names).u8(0xFB).u16(63).u32(11).u8(3).u16(0).u8(0).u16(0)},
        {"fixed part length 2^64-1", bytes(names).u8(0xFE).le(~0ull, 8).u16(63).u32(11).u8(3).u16(0).u8(0).u16(0)},
        {"an EOF packet", eof_packet(0, 0)},
        {"an ERR packet", bytes().u8(0xFF).u16(1064).raw("#42000x")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clear_diagnostics(stmt);
        release_data_list(stmt);
        enqueue(stmt, incoming(stmt, c.b));
        enqueue(stmt, incoming(stmt, eof_packet(0, 0)));
        EXPECT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), -6);
        expect_link_failure(stmt, "malformed column definition packet");
    }
}

// ----------------------------------------------------------- prepare OK

using DecodePrep = decode_fixture;

namespace {
bytes prep_ok(uint32_t id, unsigned columns, unsigned params, unsigned warnings)
{
    return bytes().u8(0).u32(id).u16(columns).u16(params).u8(0).u16(warnings);
}
} // namespace

TEST_F(DecodePrep, NoColumnsNoParameters)
{
    // Something described earlier must not survive.
    ASSERT_EQ(desc_set_records(stmt->implicit_ird, 3), 0);
    stmt->ird = stmt->implicit_fdd;
    ASSERT_EQ(feed(stmt, prep_ok(0x0A0B0C0D, 0, 0, 2),
                   [this](my_packet *p) { return decode_prep_stmt(stmt, p); }),
              0);
    EXPECT_EQ(stmt->prepared, 1);
    EXPECT_EQ(stmt->statement_id, 0x0A0B0C0Du);
    EXPECT_EQ(stmt->status.warnings, 2);
    for (my_descriptor *d : {stmt->implicit_ird, stmt->implicit_ipd}) {
        EXPECT_EQ(d->field_count, 0);
        EXPECT_EQ(d->described_count, 0);
        EXPECT_EQ(d->described_valid, 1);
    }
    EXPECT_EQ(stmt->ird, stmt->implicit_ird);
    EXPECT_EQ(stmt->ipd, stmt->implicit_ipd);
    EXPECT_EQ(stmt->described, 1);
    EXPECT_EQ(stmt->params_described, 1);
    EXPECT_EQ(conn->busy, 0);   // prepared metadata opens no result
    EXPECT_EQ(stmt->data_waiting, 0);
}

TEST_F(DecodePrep, ShortPackets)
{
    // 9 bytes are required; the filler and the warning count may be
    // missing as a whole, but a warning count cut in half is an error.
    bytes full = prep_ok(7, 0, 0, 1);
    for (size_t n = 0; n <= full.size(); n++) {
        SCOPED_TRACE(n);
        clear_diagnostics(stmt);
        stmt->prepared = 0;
        int rc = feed(stmt, full, [this](my_packet *p) { return decode_prep_stmt(stmt, p); }, n);
        if (n == 9 || n == 10 || n == 12) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(stmt->prepared, 1);
            EXPECT_EQ(stmt->status.warnings, n == 12 ? 1 : 0);
        } else {
            EXPECT_EQ(rc, -6);
            expect_link_failure(stmt, "malformed prepare OK packet");
            EXPECT_EQ(stmt->prepared, 0);
        }
    }
}

TEST_F(DecodePrep, ImpossibleCountsFailThePrepare)
{
    ASSERT_EQ(feed(stmt, prep_ok(1, 0, 40000, 0),
                   [this](my_packet *p) { return decode_prep_stmt(stmt, p); }),
              -6);
    EXPECT_EQ(diag_state(stmt), "08S01");
    EXPECT_EQ(stmt->prepared, 0);
    EXPECT_EQ(stmt->params_described, 0);

    clear_diagnostics(stmt);
    ASSERT_EQ(feed(stmt, prep_ok(1, 65535, 0, 0),
                   [this](my_packet *p) { return decode_prep_stmt(stmt, p); }),
              -6);
    EXPECT_EQ(stmt->prepared, 0);
    EXPECT_EQ(stmt->described, 0);
}

// ----------------------------------------------------------- field lists

using DecodeFieldList = decode_fixture;

TEST_F(DecodeFieldList, DefinitionsWithDefaults)
{
    bytes a = def41("orders", "id", 63, 11, MYSQL_TYPE_LONG, NOT_NULL_FLAG, 0);
    a.lenstr("0");
    bytes b = def41("orders", "note", 33, 90, MYSQL_TYPE_VAR_STRING, 0, 0);
    b.u8(0xFB);   // NULL default
    collation_entry utf8{33, "utf8"};
    conn->collations = new std::vector<collation_entry>{utf8};
    ASSERT_EQ(feed(stmt, a, [this](my_packet *p) { return decode_field_list(stmt, p, 0); }), 0);
    ASSERT_EQ(feed(stmt, b, [this](my_packet *p) { return decode_field_list(stmt, p, 1); }), 0);
    my_descriptor *ird = stmt->implicit_ird;
    EXPECT_EQ(stmt->ird, ird);
    EXPECT_EQ(ird->field_count, 2);
    EXPECT_EQ(ird->described_count, 2);
    EXPECT_EQ(ird->described_valid, 1);
    EXPECT_EQ(stmt->described, 1);
    EXPECT_EQ(str(ird->records[0].name), "id");
    EXPECT_EQ(ird->records[0].nullable, SQL_NO_NULLS);
    EXPECT_EQ(str(ird->records[1].name), "note");
    EXPECT_EQ(ird->records[1].display_size, 30);

    // Index 0 starts a new list.
    ASSERT_EQ(feed(stmt, a, [this](my_packet *p) { return decode_field_list(stmt, p, 0); }), 0);
    EXPECT_EQ(ird->field_count, 1);
    EXPECT_EQ(conn->busy, 0);
}

TEST_F(DecodeFieldList, Form320AndHostilePackets)
{
    conn->client_caps = CLIENT_LONG_FLAG;
    bytes a = def320("orders", "id", 11, MYSQL_TYPE_LONG, NOT_NULL_FLAG, 0, 1);
    a.lenstr("5");
    ASSERT_EQ(feed(stmt, a, [this](my_packet *p) { return decode_field_list(stmt, p, 0); }), 0);
    EXPECT_EQ(str(stmt->ird->records[0].name), "id");

    conn->client_caps = CLIENT_PROTOCOL_41;
    bytes b = def41("orders", "id", 63, 11, MYSQL_TYPE_LONG, 0, 0);
    size_t fixed_end = b.size();
    b.lenstr("12345");
    for (size_t n = 0; n < b.size(); n++) {
        SCOPED_TRACE(n);
        clear_diagnostics(stmt);
        int rc = feed(stmt, b, [this](my_packet *p) { return decode_field_list(stmt, p, 0); }, n);
        if (n == fixed_end) {
            EXPECT_EQ(rc, 0);   // no default value at all
            continue;
        }
        EXPECT_EQ(rc, -6);
        expect_link_failure(stmt, "malformed column definition packet");
        expect_abandoned(stmt->implicit_ird);
    }
    clear_diagnostics(stmt);
    EXPECT_EQ(feed(stmt, b, [this](my_packet *p) { return decode_field_list(stmt, p, MAX_DESC_RECORDS); }),
              -6);
    EXPECT_EQ(diag_state(stmt), "08S01");
}

// ---------------------------------------------------------------- trace

using DecodeTrace = decode_fixture;

// The trace formatter is varargs: a conversion that does not match its
// argument prints garbage or crashes, so the decoders run once with
// logging on and their lines are compared.
TEST_F(DecodeTrace, LinesCarryTheDecodedValues)
{
    char path[] = "/tmp/qv_decode_trace_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    snprintf(conn->LogFile, sizeof conn->LogFile, "%s", path);
    conn->hdr.log_flags = stmt->hdr.log_flags = LOG_DETAIL;

    ok(stmt, ok_packet(1, 5000000000ULL, 0x22, 0, "Rows matched: 3  Changed: 1  Warnings: 0"));
    ok(stmt, ok_packet(2, 0, 0, 0, "Records: 5  Deleted: 0  Skipped: 0  Warnings: 0"));
    feed(stmt, bytes().u8(0xFF).u16(1045).raw("#28000Access denied"),
         [this](my_packet *p) { return decode_error_packet(stmt, p); });
    enqueue(stmt, incoming(stmt, def41("o", "id", 63, 4294967295u, MYSQL_TYPE_LONG, 3, 0)));
    enqueue(stmt, incoming(stmt, eof_packet(0, 2)));
    decode_field_defs(stmt, 1, DEF_COLUMNS, 0);
    feed(stmt, prep_ok(0x0A0B0C0D, 0, 0, 0),
         [this](my_packet *p) { return decode_prep_stmt(stmt, p); });
    bytes fl = def41("o", "id", 63, 11, MYSQL_TYPE_LONG, 0, 0);
    fl.lenstr("42");
    feed(stmt, fl, [this](my_packet *p) { return decode_field_list(stmt, p, 0); });
    conn->hdr.log_flags = stmt->hdr.log_flags = 0;

    FILE *f = fopen(path, "rb");
    ASSERT_NE(f, nullptr);
    std::string log;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        log.append(buf, n);
    fclose(f);
    unlink(path);

    const char *lines[] = {
        "OK Packet: type=0, affected_rows=1, last_insert_id=5000000000, status_flag=22, "
        "warnings=0, info='Rows matched: 3  Changed: 1  Warnings: 0'",
        "Extracted Rows matched: 3  Changed: 1  Warnings: 0",
        "Extracted Records: 5  Deleted: 0  Skipped: 0  Warnings : 0",
        "Error Packet 1045 '28000' 'Access denied'",
        "Decoding 1 column defs, prepared 0",
        "Column Definition (41) 1 of 1",
        "catalog: 'def'",
        "org_table: 'o_org'",
        "org_name: 'id_org'",
        "character_set: 63",
        "next_length: 12",
        "column_length: 4294967295",
        "type: 3",
        "flags: 0x3",
        "decimals: 0",
        "EOF Packet: status_flag=2, warnings=0",
        "decode_prep_stmt",
        "stmt_id: '0d0c0b0a'",
        "number of columns: 0",
        "Decoding col 1 column defs",
        "Column FL Definition (41) 1",
        "def_length: 2",
        "default: '42'",
    };
    for (const char *line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line;
}
