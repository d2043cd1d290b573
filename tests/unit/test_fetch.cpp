// Fetching and binding (rowsets, row-wise and column-wise arrays, bind
// offsets, status arrays, SQLFetchScroll and SQLExtendedFetch), column
// metadata and the statement entry points that need no server. Results are
// queued on the statement as the command layer leaves them.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"
#include "results/my_fetch.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using unit_support::all_diags;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

using unit_support::text_of;

std::string state(const void *h, int n = 1)
{
    diag_record *d = diag_get(h, n);
    return d ? text_of(d->sqlstate) : "";
}

std::string message(const void *h, int n = 1)
{
    diag_record *d = diag_get(h, n);
    return d ? text_of(d->message) : "";
}

fake::column_info col(const std::string &name, uint8_t type, uint32_t length = 11,
                      uint16_t flags = 0, uint8_t decimals = 0)
{
    return fake::column(name, type, 33, flags, decimals, length);
}

using row = std::vector<std::optional<std::string>>;

struct fetch_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = nullptr;
    my_statement *stmt = nullptr;

    void SetUp() override { open(3); }
    void TearDown() override { env_release(env); }

    void open(int behaviour)
    {
        conn = conn_create(env, behaviour);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS;
        conn->charset = 33;
        stmt = stmt_create(conn);
    }

    void queue(const bytes &p) { ASSERT_EQ(queue_append(stmt, p.data(), p.size(), 1), 0); }

    // A result waiting on the statement, as an execution leaves it: the
    // columns described, the rows and their end in the queue.
    void result(const std::vector<fake::column_info> &cols, const std::vector<row> &rows,
                const std::vector<bytes> &raw_rows = {})
    {
        for (const auto &c : cols)
            queue(fake::column_def(c));
        queue(fake::eof_packet(0, 2));
        for (const row &r : rows)
            queue(fake::text_row(r));
        for (const bytes &r : raw_rows)
            queue(r);
        queue(fake::eof_packet(0, 2));
        ASSERT_EQ(decode_field_defs(stmt, (int64_t)cols.size(), DEF_COLUMNS, 0), 0);
    }

    // n rows of (id, name): 1 "n1", 2 "n2", ...
    void numbered(int n)
    {
        std::vector<row> rows;
        for (int i = 1; i <= n; i++)
            rows.push_back({std::to_string(i), "n" + std::to_string(i)});
        result({col("id", MYSQL_TYPE_LONG), col("name", MYSQL_TYPE_VAR_STRING, 40)}, rows);
    }

    void set_attr(SQLINTEGER attr, SQLULEN value)
    {
        ASSERT_EQ(SQLSetStmtAttr(stmt, attr, (SQLPOINTER)value, 0), SQL_SUCCESS) << attr;
    }
};

} // namespace

// ------------------------------------------------------------- rowsets

TEST_F(fetch_fixture, ColumnWiseRowsetWithStatusesAndCounts)
{
    numbered(5);
    SQLINTEGER ids[3] = {};
    SQLLEN id_ind[3] = {};
    char names[3][8] = {};
    SQLLEN name_ind[3] = {};
    SQLUSMALLINT status[3];
    SQLULEN fetched = 99;
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 3);
    set_attr(SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)status);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, names, sizeof names[0], name_ind), SQL_SUCCESS);

    struct {
        SQLRETURN rc;
        SQLULEN fetched;
        std::vector<SQLUSMALLINT> status;
    } steps[] = {
        {SQL_SUCCESS, 3, {SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}},
        {SQL_SUCCESS, 2, {SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW}},
        {SQL_NO_DATA, 0, {SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW}},
        {SQL_NO_DATA, 0, {SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW}},
    };
    int next_id = 1;
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        SCOPED_TRACE("fetch " + std::to_string(i + 1));
        EXPECT_EQ(SQLFetch(stmt), steps[i].rc);
        EXPECT_EQ(fetched, steps[i].fetched);
        EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 3), steps[i].status);
        for (SQLULEN r = 0; r < steps[i].fetched; r++, next_id++) {
            EXPECT_EQ(ids[r], next_id);
            EXPECT_EQ(id_ind[r], 4);
            EXPECT_EQ(std::string(names[r]), "n" + std::to_string(next_id));
            EXPECT_EQ(name_ind[r], (SQLLEN)std::string(names[r]).size());
        }
    }
    EXPECT_EQ(diag_count(stmt), 0);
    EXPECT_EQ(stmt->data_waiting, 0);
}

TEST_F(fetch_fixture, RowWiseBindingWithOffset)
{
    numbered(3);
    // rows of 64 bytes: the value at +0, its indicator at +8; the offset
    // moves everything 16 bytes on
    alignas(8) unsigned char buf[16 + 3 * 64] = {};
    SQLLEN offset = 16;
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 3);
    set_attr(SQL_ATTR_ROW_BIND_TYPE, 64);
    set_attr(SQL_ATTR_ROW_BIND_OFFSET_PTR, (SQLULEN)&offset);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, buf, 0, (SQLLEN *)(buf + 8)), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    for (int r = 0; r < 3; r++) {
        SQLINTEGER v;
        SQLLEN ind;
        memcpy(&v, buf + r * 64 + 16, sizeof v);
        memcpy(&ind, buf + r * 64 + 16 + 8, sizeof ind);
        EXPECT_EQ(v, r + 1);
        EXPECT_EQ(ind, 4);
    }
    SQLINTEGER untouched;
    memcpy(&untouched, buf, sizeof untouched);
    EXPECT_EQ(untouched, 0);
}

TEST_F(fetch_fixture, ElementSizesAndSharedLengthVariable)
{
    my_descriptor *ard = stmt->ard;
    struct {
        int type;
        int64_t size;
    } sizes[] = {{SQL_C_NUMERIC, 19}, {SQL_C_SLONG, 4},  {SQL_C_FLOAT, 4},
                 {SQL_C_SSHORT, 2},   {SQL_C_DOUBLE, 8}, {SQL_C_UBIGINT, 8},
                 {SQL_C_TYPE_DATE, 6}, {SQL_C_TIME, 6}, {SQL_C_TYPE_TIMESTAMP, 16},
                 {SQL_C_BIT, 1},      {SQL_C_STINYINT, 1}, {SQL_C_CHAR, 33},
                 {SQL_C_WCHAR, 33},   {SQL_C_BINARY, 33}};
    field rec;
    field_init(&rec);
    for (auto &c : sizes) {
        rec.concise_type = c.type;
        EXPECT_EQ(bound_element_size(ard, &rec, 33), c.size) << c.type;
    }
    ard->bind_type = 48;   // row-wise: the buffer length, whatever the type
    rec.concise_type = SQL_C_SLONG;
    EXPECT_EQ(bound_element_size(ard, &rec, 33), 33);

    ard->bind_type = 0;
    SQLLEN lengths[4];
    SQLINTEGER values[4];
    rec.data_ptr = values;
    rec.indicator_ptr = rec.octet_length_ptr = lengths;
    stmt->row_offset = 2;
    void *data;
    SQLLEN *oct, *ind;
    get_pointers_from_cols(stmt, &rec, ard, &data, &oct, &ind, 4);
    EXPECT_EQ(data, (void *)&values[2]);   // 4 bytes apart
    EXPECT_EQ(ind, &lengths[2]);            // 8 bytes apart
    EXPECT_EQ(oct, nullptr);                // one variable is written once
}

TEST_F(fetch_fixture, BadRowInRowsetStopsItWithInfo)
{
    bytes truncated{0x05, 'a', 'b'};
    result({col("name", MYSQL_TYPE_VAR_STRING, 40)}, {{std::string("ok")}}, {truncated});
    char names[3][8];
    SQLLEN ind[3];
    SQLUSMALLINT status[3];
    SQLULEN fetched = 0;
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 3);
    set_attr(SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)status);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, names, sizeof names[0], ind), SQL_SUCCESS);
    // the rowset delivered a row, but the error must not pass for success
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 3),
              (std::vector<SQLUSMALLINT>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_ERROR}));
    EXPECT_EQ(state(stmt), "08S01");
    EXPECT_STREQ(names[0], "ok");
}

// One bad value does not hide the rest of the row: every column is read,
// every bound column filled, each bad column has its own diagnostic with its
// column (and row) number, and the row's status is the worst outcome.
TEST_F(fetch_fixture, BadValuesLeaveTheRestOfTheRow)
{
    struct diag {
        std::string state;
        SQLLEN row;
        SQLINTEGER column;
        bool operator==(const diag &o) const
        {
            return state == o.state && row == o.row && column == o.column;
        }
    };
    auto diags = [&] {
        std::vector<diag> v;
        for (SQLSMALLINT n = 1; n <= diag_count(stmt); n++) {
            diag d;
            d.state = state(stmt, n);
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, n, SQL_DIAG_ROW_NUMBER, &d.row, 0, nullptr);
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, n, SQL_DIAG_COLUMN_NUMBER, &d.column, 0,
                            nullptr);
            v.push_back(d);
        }
        std::sort(v.begin(), v.end(),
                  [](const diag &a, const diag &b) { return a.column < b.column; });
        return v;
    };
    result({col("a", MYSQL_TYPE_LONG), col("b", MYSQL_TYPE_DATETIME, 19),
            col("c", MYSQL_TYPE_LONG), col("d", MYSQL_TYPE_VAR_STRING, 40)},
           {{std::string("4x"), std::string("not a date"), std::string("7"), std::string("ok")},
            {std::string("1"), std::string("2014-05-06 07:08:09"), std::string("2"),
             std::string("fine")},
            {std::string("3"), std::string("tomorrow"), std::string("9"), std::string("z")}});
    SQLINTEGER a[2], c[2];
    char b[2][24], d[2][8];
    SQLLEN ai[2], bi[2], ci[2], di[2];
    SQLUSMALLINT status[2];
    SQLULEN fetched = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, a, 0, ai), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, b, sizeof b[0], bi), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 3, SQL_C_SLONG, c, 0, ci), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 4, SQL_C_CHAR, d, sizeof d[0], di), SQL_SUCCESS);
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 2);
    set_attr(SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)status);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched);

    // row 1: the number cannot reach its SLONG buffer (an error); the date is
    // delivered as the text the server sent (a warning); c and d are filled.
    // Row 2 is fetched in the same rowset.
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 2),
              (std::vector<SQLUSMALLINT>{SQL_ROW_ERROR, SQL_ROW_SUCCESS}));
    EXPECT_EQ(diags(), (std::vector<diag>{{"22018", 1, 1}, {"22018", 1, 2}}));
    EXPECT_STREQ(b[0], "not a date");
    EXPECT_EQ(c[0], 7);
    EXPECT_STREQ(d[0], "ok");
    EXPECT_EQ(a[1], 1);
    EXPECT_STREQ(b[1], "2014-05-06 07:08:09");
    EXPECT_EQ(c[1], 2);
    EXPECT_STREQ(d[1], "fine");

    // one row at a time: a bad value in a column not bound is a warning
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 1);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS_WITH_INFO);
    EXPECT_EQ(diags(), (std::vector<diag>{{"22018", 1, 2}}));
    EXPECT_EQ(a[0], 3);
    EXPECT_EQ(c[0], 9);
    EXPECT_STREQ(d[0], "z");
    // asked for as a timestamp, the refused value is an error of its own
    SQL_TIMESTAMP_STRUCT ts;
    SQLLEN ind;
    EXPECT_EQ(SQLGetData(stmt, 2, SQL_C_TIMESTAMP, &ts, sizeof ts, &ind), SQL_ERROR);
    EXPECT_EQ(state(stmt), "22018");
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

// The same in binary rows: a date/time value of a length the protocol does
// not have is refused and skipped, and the columns after it are read.
TEST_F(fetch_fixture, BadBinaryValueLeavesTheRestOfTheRow)
{
    auto binary_row = [](uint8_t date_len, int32_t n) {
        bytes r{0x00, 0x00};   // header, null bitmap of two columns
        r.push_back(date_len);
        for (uint8_t i = 0; i < date_len; i++)
            r.push_back(i == 0 ? 0xDE : 1);   // 2014-01-01 when 4 bytes long
        if (date_len == 4)
            r[4] = 0x07;
        fake::put_u32(r, (uint32_t)n);
        return r;
    };
    stmt->prepared = 1;
    result({col("when", MYSQL_TYPE_DATETIME, 19), col("n", MYSQL_TYPE_LONG)}, {},
           {binary_row(5, 42), binary_row(4, 43)});
    SQL_TIMESTAMP_STRUCT when = {};
    SQLINTEGER n = 0;
    SQLLEN wi = 0, ni = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_TYPE_TIMESTAMP, &when, sizeof when, &wi), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_SLONG, &n, 0, &ni), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    ASSERT_EQ(diag_count(stmt), 1);
    EXPECT_EQ(state(stmt), "22018");
    SQLINTEGER column = 0;
    SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr);
    EXPECT_EQ(column, 1);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, &when, sizeof when, &wi), SQL_ERROR);
    EXPECT_EQ(state(stmt), "22018");
    // the next row is whole again
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(when.year, 2014);
    EXPECT_EQ(n, 43);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(fetch_fixture, TruncatedCharacterColumnWarns)
{
    result({col("name", MYSQL_TYPE_VAR_STRING, 40)}, {{std::string("abcdef")}});
    char buf[4];
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(stmt), "01004");
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(ind, 6);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(diag_count(stmt), 0);   // the end of the data posts nothing
}

TEST_F(fetch_fixture, FetchScrollAndOffsets)
{
    numbered(4);
    SQLINTEGER id = 0;
    SQLLEN ind;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 2), SQL_ERROR);
    EXPECT_EQ(state(stmt), "HY107");
    EXPECT_EQ(message(stmt), PREFIX + "Row value out of range");
    for (SQLLEN offset : {1, 0, -5}) {
        EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, offset), SQL_SUCCESS) << offset;
    }
    EXPECT_EQ(id, 3);
    for (SQLSMALLINT orientation : {SQL_FETCH_PRIOR, SQL_FETCH_FIRST, SQL_FETCH_LAST,
                                    SQL_FETCH_ABSOLUTE, SQL_FETCH_RELATIVE, SQL_FETCH_BOOKMARK}) {
        EXPECT_EQ(SQLFetchScroll(stmt, orientation, 1), SQL_ERROR) << orientation;
        EXPECT_EQ(state(stmt), "HY106");
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(id, 4);
}

TEST_F(fetch_fixture, ExtendedFetchUsesItsArgumentsForOneCall)
{
    numbered(3);
    SQLINTEGER ids[2] = {};
    SQLLEN ind[2];
    SQLUSMALLINT attr_status[2];
    SQLULEN attr_fetched = 0;
    set_attr(SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)attr_status);
    set_attr(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&attr_fetched);
    set_attr(SQL_ROWSET_SIZE, 2);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, ind), SQL_SUCCESS);

    SQLULEN rows = 0;
    SQLUSMALLINT status[2] = {9, 9};
    EXPECT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_ABSOLUTE, 1, &rows, status), SQL_ERROR);
    EXPECT_EQ(state(stmt), "HY106");
    auto unchanged = [&] {
        EXPECT_EQ(stmt->ird->array_status_ptr, (void *)attr_status);
        EXPECT_EQ(stmt->ird->rows_processed_ptr, (void *)&attr_fetched);
        EXPECT_EQ(stmt->ard->array_size, 1u);
    };
    unchanged();
    EXPECT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
    unchanged();
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
    EXPECT_EQ(attr_fetched, 0u);
    EXPECT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 1u);
    EXPECT_EQ(status[1], SQL_ROW_NOROW);
}

// ------------------------------------------------------------- binding

TEST_F(fetch_fixture, BindColGrowsShrinksAndChecksTypes)
{
    SQLINTEGER a, b;
    SQLLEN ind;
    ASSERT_EQ(SQLBindCol(stmt, 5, SQL_C_SLONG, &a, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->field_count, 5);
    EXPECT_EQ(stmt->ird->field_count, 5);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_SLONG, &b, 0, nullptr), SQL_SUCCESS);
    // a middle column only loses its pointers
    EXPECT_EQ(SQLBindCol(stmt, 2, SQL_C_SLONG, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->field_count, 5);
    EXPECT_EQ(stmt->ard->records[1].data_ptr, nullptr);
    // the last bound column takes the list with it
    EXPECT_EQ(SQLBindCol(stmt, 5, SQL_C_SLONG, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->field_count, 0);
    EXPECT_EQ(stmt->ard->records, nullptr);
    EXPECT_EQ(SQLBindCol(stmt, 9, SQL_C_SLONG, nullptr, 0, nullptr), SQL_SUCCESS);

    EXPECT_EQ(SQLBindCol(stmt, 0, SQL_C_SLONG, &a, 0, &ind), SQL_ERROR);
    EXPECT_EQ(state(stmt), "07006");
    SQLCHAR bookmark[8];
    EXPECT_EQ(SQLBindCol(stmt, 0, SQL_C_VARBOOKMARK, bookmark, sizeof bookmark, &ind),
              SQL_SUCCESS);
    EXPECT_EQ(SQLBindCol(stmt, 1, SQL_C_DEFAULT, &a, 0, &ind), SQL_ERROR);
    EXPECT_EQ(message(stmt), PREFIX + "General error: No prepared sql");

    ASSERT_EQ(SQLFreeStmt(stmt, SQL_UNBIND), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->field_count, 0);
    EXPECT_EQ(stmt->ard->bookmark_record.data_ptr, nullptr);
}

// How each bound column is filled is chosen once, not per row; every
// change of the binding between fetches must still take effect at the next
// row: a rebind, a descriptor field, an unbind, another ARD and back.
TEST_F(fetch_fixture, BindingChangesBetweenFetchesTakeEffect)
{
    numbered(7);
    SQLINTEGER id = -1;
    char text[16] = {};
    double real = -1;
    char name[8] = {};
    SQLLEN id_ind = 0, name_ind = 0;
    SQLHDESC ard = nullptr;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    SQLHDESC mine = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, conn, &mine), SQL_SUCCESS);
    SQLINTEGER mine_id = -1;
    SQLLEN mine_ind = 0;

    struct step {
        const char *what;
        std::function<void()> change;
        std::function<void(int row)> check;
    };
    const step steps[] = {
        {"bound as SQL_C_SLONG",
         [&] {
             ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &id, 0, &id_ind), SQL_SUCCESS);
             ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &name_ind), SQL_SUCCESS);
         },
         [&](int row) {
             EXPECT_EQ(id, row);
             EXPECT_EQ(id_ind, 4);
         }},
        {"rebound as SQL_C_CHAR",
         [&] { ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, text, sizeof text, &id_ind), SQL_SUCCESS); },
         [&](int row) {
             EXPECT_EQ(std::string(text), std::to_string(row));
             EXPECT_EQ(id_ind, 1);
             EXPECT_EQ(id, row - 1);   // the old buffer is no longer written
         }},
        {"descriptor fields: SQL_C_DOUBLE into another buffer",
         [&] {
             // a new type unbinds the record: its pointers are set again
             ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_C_DOUBLE, 0),
                       SQL_SUCCESS);
             ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_INDICATOR_PTR, &id_ind, 0), SQL_SUCCESS);
             ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, &real, 0), SQL_SUCCESS);
         },
         [&](int row) {
             EXPECT_EQ(real, (double)row);
             EXPECT_EQ(id_ind, 8);
         }},
        {"a shorter buffer length cuts the text",
         [&] {
             ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_OCTET_LENGTH, (SQLPOINTER)2, 0),
                       SQL_SUCCESS);
             ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_INDICATOR_PTR, &name_ind, 0), SQL_SUCCESS);
             ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_DATA_PTR, name, 0), SQL_SUCCESS);
         },
         [&](int row) {
             EXPECT_EQ(std::string(name), "n");
             EXPECT_EQ(name_ind, 2);
             EXPECT_EQ(real, (double)row);
             EXPECT_EQ(state(stmt), "01004");
         }},
        {"column 1 unbound",
         [&] {
             ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_DOUBLE, nullptr, 0, nullptr), SQL_SUCCESS);
             ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &name_ind), SQL_SUCCESS);
         },
         [&](int row) {
             EXPECT_EQ(real, (double)(row - 1));
             EXPECT_EQ(std::string(name), "n" + std::to_string(row));
         }},
        {"an application descriptor of its own",
         [&] {
             ASSERT_EQ(SQLSetDescRec(mine, 1, SQL_C_SLONG, 0, sizeof mine_id, 0, 0, &mine_id,
                                     &mine_ind, &mine_ind),
                       SQL_SUCCESS);
             ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, mine, 0), SQL_SUCCESS);
         },
         [&](int row) {
             EXPECT_EQ(mine_id, row);
             EXPECT_EQ(mine_ind, 4);
             EXPECT_EQ(std::string(name), "n" + std::to_string(row - 1));
         }},
        {"back to the statement's own",
         [&] { ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, SQL_NULL_HDESC, 0), SQL_SUCCESS); },
         [&](int row) {
             EXPECT_EQ(mine_id, row - 1);
             EXPECT_EQ(std::string(name), "n" + std::to_string(row));
         }},
    };
    int row = 0;
    for (const step &st : steps) {
        SCOPED_TRACE(st.what);
        st.change();
        row++;
        SQLRETURN rc = SQLFetch(stmt);
        EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc << all_diags(stmt);
        st.check(row);
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    SQLFreeHandle(SQL_HANDLE_DESC, mine);
}

// SQL_C_DEFAULT binds integer columns by their sign: the extremes of
// signed and unsigned columns fetch whole.
TEST_F(fetch_fixture, BoundDefaultTypeFollowsTheSign)
{
    env->odbc_version = SQL_OV_ODBC3;   // BIGINT binds as text under ODBC 2
    result({col("t", MYSQL_TYPE_TINY, 4), col("s", MYSQL_TYPE_SHORT, 5, UNSIGNED_FLAG),
            col("i", MYSQL_TYPE_LONG, 10, UNSIGNED_FLAG),
            col("b", MYSQL_TYPE_LONGLONG, 20, UNSIGNED_FLAG),
            col("n", MYSQL_TYPE_LONG, 11)},
           {{"-128", "65535", "4294967295", "18446744073709551615", "-2147483648"}});
    int8_t t = 0;
    uint16_t sh = 0;
    uint32_t i = 0;
    uint64_t b = 0;
    int32_t n = 0;
    SQLLEN ind[5];
    void *targets[] = {&t, &sh, &i, &b, &n};
    for (SQLUSMALLINT c = 1; c <= 5; c++)
        ASSERT_EQ(SQLBindCol(stmt, c, SQL_C_DEFAULT, targets[c - 1], 0, &ind[c - 1]), SQL_SUCCESS)
            << c;
    EXPECT_EQ(stmt->ard->records[0].concise_type, SQL_C_STINYINT);
    EXPECT_EQ(stmt->ard->records[1].concise_type, SQL_C_USHORT);
    EXPECT_EQ(stmt->ard->records[2].concise_type, SQL_C_ULONG);
    EXPECT_EQ(stmt->ard->records[3].concise_type, SQL_C_UBIGINT);
    EXPECT_EQ(stmt->ard->records[4].concise_type, SQL_C_SLONG);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << state(stmt);
    EXPECT_EQ(t, -128);
    EXPECT_EQ(sh, 65535);
    EXPECT_EQ(i, 4294967295u);
    EXPECT_EQ(b, UINT64_MAX);
    EXPECT_EQ(n, INT32_MIN);
}

// ------------------------------------------------------------- metadata

TEST_F(fetch_fixture, ColumnMetadataOfAResult)
{
    result({col("id", MYSQL_TYPE_LONG, 11, NOT_NULL_FLAG), col("price", MYSQL_TYPE_DOUBLE, 22),
            col("day", MYSQL_TYPE_DATE, 10)},
           {});
    SQLLEN n = 0;
    SQLSMALLINT len = 0;
    EXPECT_EQ(SQLColAttribute(stmt, 1, SQL_DESC_COUNT, nullptr, 0, &len, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(SQLColAttribute(stmt, 2, SQL_DESC_CONCISE_TYPE, nullptr, 0, &len, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_DOUBLE);
    EXPECT_EQ(len, 4);

    char buf[64];
    struct {
        int column, id;
        std::string want;
    } texts[] = {{1, SQL_DESC_NAME, "id"},
                 {1, SQL_DESC_SCHEMA_NAME, ""},
                 {1, SQL_DESC_CATALOG_NAME, ""},
                 {1, SQL_DESC_TABLE_NAME, "t"},
                 {1, SQL_DESC_BASE_COLUMN_NAME, "id"}};
    for (auto &t : texts) {
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(SQLColAttribute(stmt, t.column, t.id, buf, sizeof buf, &len, nullptr),
                  SQL_SUCCESS);
        EXPECT_EQ(std::string(buf), t.want) << t.id;
        EXPECT_EQ(len, (SQLSMALLINT)t.want.size()) << t.id;
    }

    SQLCHAR name[16];
    SQLSMALLINT type = 0, digits = 9, nullable = 9;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeCol(stmt, 1, name, sizeof name, &len, &type, &size, &digits, &nullable),
              SQL_SUCCESS);
    EXPECT_EQ(std::string((char *)name), "id");
    EXPECT_EQ(type, SQL_INTEGER);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(digits, 0);
    EXPECT_EQ(nullable, SQL_NO_NULLS);
    EXPECT_EQ(SQLDescribeCol(stmt, 2, nullptr, 0, nullptr, &type, &size, nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(size, 15u);

    // ODBC 2: the precision of a floating column is its display size
    SQLLEN display = 0, precision = 0;
    SQLColAttribute(stmt, 2, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display);
    EXPECT_EQ(SQLColAttributes(stmt, 2, SQL_COLUMN_PRECISION, nullptr, 0, nullptr, &precision),
              SQL_SUCCESS);
    EXPECT_EQ(precision, display);

    EXPECT_EQ(SQLColAttribute(stmt, 4, SQL_DESC_NAME, buf, sizeof buf, &len, nullptr), SQL_ERROR);
    EXPECT_EQ(state(stmt), "07009");
    EXPECT_EQ(SQLColAttribute(stmt, 1, 9999, buf, sizeof buf, &len, nullptr), SQL_ERROR);
    EXPECT_EQ(state(stmt), "HY091");
}

TEST_F(fetch_fixture, DateColumnTypeUnderOdbc2)
{
    open(2);
    result({col("day", MYSQL_TYPE_DATE, 10), col("at", MYSQL_TYPE_DATETIME, 19)}, {});
    SQLLEN n = 0;
    EXPECT_EQ(SQLColAttributes(stmt, 1, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_DATE);
    EXPECT_EQ(SQLColAttributes(stmt, 2, SQL_COLUMN_TYPE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_TIMESTAMP);
}

TEST_F(fetch_fixture, ColumnNameTruncationAndBookmarkColumn)
{
    result({col("longname", MYSQL_TYPE_LONG)}, {});
    SQLCHAR name[5];
    SQLSMALLINT len = 0, type = 0;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeCol(stmt, 1, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string((char *)name), "long");
    EXPECT_EQ(len, 8);
    EXPECT_EQ(state(stmt), "01004");

    SQLWCHAR wname[5];
    EXPECT_EQ(SQLDescribeColW(stmt, 1, wname, 5, &len, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(wname[3], 'g');
    EXPECT_EQ(wname[4], 0);

    EXPECT_EQ(SQLDescribeCol(stmt, 0, name, sizeof name, &len, &type, &size, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(state(stmt), "07009");
    set_attr(SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
    EXPECT_EQ(SQLDescribeCol(stmt, 0, name, sizeof name, &len, &type, &size, nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(type, SQL_VARBINARY);
    EXPECT_EQ(size, 8u);
}

// ------------------------------------------- statement calls without a server

TEST_F(fetch_fixture, NothingToDescribeOrExecute)
{
    SQLLEN n;
    EXPECT_EQ(SQLColAttribute(stmt, 1, SQL_DESC_NAME, nullptr, 0, nullptr, &n), SQL_ERROR);
    EXPECT_EQ(message(stmt), PREFIX + "General error: no prepared sql");
    EXPECT_EQ(SQLExecute(stmt), SQL_ERROR);
    EXPECT_EQ(message(stmt), PREFIX + "General error: no prepared statement");
    EXPECT_EQ(SQLMoreResults(stmt), SQL_NO_DATA);
    SQLLEN count = 0;
    EXPECT_EQ(SQLRowCount(stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(SQLFreeStmt(stmt, 4), SQL_ERROR);
    EXPECT_EQ(message(stmt), PREFIX + "General error: unexpected option 4 supplied to SQLFreeStmt");
}

TEST_F(fetch_fixture, CursorNames)
{
    char name[32];
    SQLSMALLINT len = 0;
    char want[32];
    snprintf(want, sizeof want, "SQL_CUR%08X", (unsigned)stmt->statement_number);
    EXPECT_EQ(SQLGetCursorName(stmt, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 15);
    EXPECT_EQ(SQLGetCursorName(stmt, (SQLCHAR *)name, sizeof name, &len), SQL_SUCCESS);
    EXPECT_STREQ(name, want);
    EXPECT_EQ(SQLGetCursorName(stmt, (SQLCHAR *)name, 8, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(name, "SQL_CUR");
    EXPECT_EQ(state(stmt), "01004");

    ASSERT_EQ(SQLSetCursorName(stmt, (SQLCHAR *)"orders_cur", SQL_NTS), SQL_SUCCESS);
    SQLWCHAR wide[32];
    EXPECT_EQ(SQLGetCursorNameW(stmt, wide, 32, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(wide[0], 'o');
    EXPECT_EQ(wide[10], 0);
}

TEST_F(fetch_fixture, NativeSqlIsTheTextUnchanged)
{
    const char *in = "SELECT {fn UCASE(name)} FROM t WHERE d > {d '2020-01-01'}";
    char out[128];
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLNativeSql(conn, (SQLCHAR *)in, SQL_NTS, (SQLCHAR *)out, sizeof out, &len),
              SQL_SUCCESS);
    EXPECT_STREQ(out, in);
    EXPECT_EQ(len, (SQLINTEGER)strlen(in));
    EXPECT_EQ(SQLNativeSql(conn, (SQLCHAR *)in, SQL_NTS, (SQLCHAR *)out, 7, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(out, "SELECT");
    EXPECT_EQ(state(conn), "01004");
}
