// Diagnostics that name rows: the order of records by rank, row and column,
// the row a diag_row_scope gives to what is posted inside it, and a long
// list posted and read back record after record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/my_handle.h"

namespace {

struct diag_rows : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void TearDown() override { env_release(env); }

    // "STATE@row:column" for each record, in record order, read the way the
    // driver manager reads them.
    std::vector<std::string> records()
    {
        std::vector<std::string> out;
        for (int i = 1;; i++) {
            SQLCHAR st[6];
            if (SQLGetDiagRec(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)i, st, nullptr, nullptr, 0,
                              nullptr) == SQL_NO_DATA)
                break;
            SQLLEN row = 0;
            SQLINTEGER col = 0;
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)i, SQL_DIAG_ROW_NUMBER, &row, 0,
                            nullptr);
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)i, SQL_DIAG_COLUMN_NUMBER, &col,
                            0, nullptr);
            out.push_back(std::string((const char *)st) + "@" + std::to_string(row) + ":" +
                          std::to_string(col));
        }
        return out;
    }
};

struct posting {
    int row;       // SQLSTATE table row
    int64_t set;   // parameter set named by a diag_row_scope; 0: none
    int column;    // -1: post_error, else post_error_col
};

} // namespace

TEST_F(diag_rows, RecordsGoByRankThenRowThenColumn)
{
    struct {
        const char *name;
        std::vector<posting> posts;
        std::vector<std::string> want;
    } cases[] = {
        {"rows in posting order stay in order",
         {{ST_23000, 2, -1}, {ST_23000, 5, -1}, {ST_23000, 6, -1}},
         {"23000@2:-1", "23000@5:-1", "23000@6:-1"}},
        {"rows before states: a later row's higher state goes behind",
         {{ST_23000, 2, -1}, {ST_HY000, 4, -1}, {ST_22001, 5, -1}},
         {"23000@2:-1", "HY000@4:-1", "22001@5:-1"}},
        {"a row posted late goes to its place",
         {{ST_23000, 5, -1}, {ST_23000, 2, -1}, {ST_23000, 9, -1}, {ST_23000, 3, -1}},
         {"23000@2:-1", "23000@3:-1", "23000@5:-1", "23000@9:-1"}},
        {"errors of every row before any warning",
         {{ST_01004, 1, -1}, {ST_23000, 2, -1}, {ST_01004, 3, -1}, {ST_23000, 4, -1}},
         {"23000@2:-1", "23000@4:-1", "01004@1:-1", "01004@3:-1"}},
        {"a record about no row goes by its state alone",
         {{ST_23000, 3, -1}, {ST_HY000, 0, -1}, {ST_22001, 0, -1}, {ST_01S02, 0, -1},
          {ST_01004, 2, -1}},
         {"HY000@0:-1", "23000@3:-1", "22001@0:-1", "01S02@0:-1", "01004@2:-1"}},
        {"columns of one row in order",
         {{ST_22001, 1, 3}, {ST_22003, 1, 1}, {ST_01004, 1, 2}, {ST_01S07, 1, 1}},
         {"22003@1:1", "22001@1:3", "01S07@1:1", "01004@1:2"}},
        {"without rows: descending states, equal ones in posting order",
         {{ST_HY000, 0, -1}, {ST_01004, 0, -1}, {ST_08S01, 0, -1}, {ST_01004, 0, -1}},
         {"HY000@0:-1", "08S01@0:-1", "01004@0:-1", "01004@0:-1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(stmt);
        for (const posting &p : c.posts) {
            diag_row_scope named(p.set);
            if (p.column < 0)
                post_error(stmt, p.row, 0, nullptr);
            else
                post_error_col(stmt, p.row, 0, p.column, nullptr);
        }
        EXPECT_EQ(records(), c.want);
        EXPECT_EQ(diag_count(stmt), (int)c.want.size());
    }
}

TEST_F(diag_rows, ScopeNamesServerMessagesAndEndsWithItsBlock)
{
    my_string *text = ms_from_latin1("Duplicate entry '3' for key 'PRIMARY'");
    {
        diag_row_scope named(3);
        post_server_message(stmt, 1062, ms_from_latin1("23000"), text, 0, 0);
        // a poster that names its own row keeps it
        post_server_message(stmt, 1062, ms_from_latin1("23000"), text, 7, 0);
        {
            diag_row_scope inner(0);
            post_error(stmt, ST_01004, 0, nullptr);
        }
        post_error(stmt, ST_01S07, 0, nullptr);
    }
    post_error(stmt, ST_01S02, 0, nullptr);
    ms_free(text);
    EXPECT_EQ(records(), (std::vector<std::string>{"23000@3:0", "23000@7:0", "01S07@3:-1",
                                                   "01S02@0:-1", "01004@0:-1"}));
}

// A large array's worth of records: every tenth row fails and every row
// warns. Each record lands in its place and reads back in order; posting
// and reading are linear (quadratic work would take minutes here).
TEST_F(diag_rows, HundredThousandRowsPostAndReadInOrder)
{
    const int rows = 100000;
    for (int r = 1; r <= rows; r++) {
        diag_row_scope named(r);
        post_error(stmt, ST_01004, 0, nullptr);
        if (r % 10 == 0)
            post_error(stmt, ST_23000, 0, nullptr);
    }
    const int errors = rows / 10;
    ASSERT_EQ(diag_count(stmt), rows + errors);
    SQLCHAR st[6];
    SQLLEN row = 0;
    for (int i = 1; i <= rows + errors; i++) {
        // the API's record numbers end at 32767; the list goes on
        if (i <= 32767) {
            ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)i, st, nullptr, nullptr,
                                    0, nullptr),
                      SQL_SUCCESS);
        }
        const diag_record *r = diag_get_locked(stmt, i);
        ASSERT_NE(r, nullptr);
        int64_t want = i <= errors ? (int64_t)i * 10 : (int64_t)(i - errors);
        ASSERT_EQ(r->row_number, want) << "record " << i;
        if (i <= 32767) {
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)i, SQL_DIAG_ROW_NUMBER, &row, 0,
                            nullptr);
            ASSERT_EQ(row, want);
        }
    }
    EXPECT_EQ(diag_get_locked(stmt, rows + errors + 1), nullptr);
    clear_diagnostics(stmt);
    EXPECT_EQ(diag_count(stmt), 0);
    EXPECT_EQ(diag_get_locked(stmt, 1), nullptr);
}
