// Parameter arrays whose rows fail: the status of each set, the records that
// name the failed sets by SQL_DIAG_ROW_NUMBER, the rows processed and the
// call's return code, in every way a statement can be executed.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

enum mode { DIRECT, TEXT_PREPARE, SERVER_PREPARE };

struct session {
    qv::connection conn;
    qv::handle stmt;
    mode m;

    explicit session(mode how) : m(how)
    {
        SQLRETURN rc = conn.connect(qv::conn_str(how == TEXT_PREPARE ? "Text_Prepare=1;" : ""));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(conn.dbc));
        stmt = qv::alloc_stmt(conn.dbc);
    }
    ~session() { stmt.reset(); }
    void ok(const std::string &sql)
    {
        SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << qv::describe(qv::diagnostics(stmt));
        SQLFreeStmt(stmt, SQL_CLOSE);
    }
    SQLRETURN run(const std::string &sql)
    {
        if (m == DIRECT)
            return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        SQLRETURN rc = SQLPrepare(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        return SQL_SUCCEEDED(rc) ? SQLExecute(stmt) : rc;
    }
};

// One record as the application sees it.
struct record {
    std::string state;
    SQLINTEGER native;
    SQLLEN row;
};

std::vector<record> records(const qv::handle &stmt)
{
    std::vector<record> out;
    for (SQLSMALLINT i = 1;; i++) {
        SQLCHAR st[6] = {};
        SQLINTEGER native = 0;
        if (SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, st, &native, nullptr, 0, nullptr) !=
            SQL_SUCCESS)
            break;
        SQLLEN row = -99;
        EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, i, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr),
                  SQL_SUCCESS);
        out.push_back({(const char *)st, native, row});
    }
    return out;
}

struct array_modes : ::testing::TestWithParam<mode> {};

} // namespace

// Six sets of (id, text) go into a table with a primary key and a
// VARCHAR(5) column under strict mode: a set fails when its id is already
// there (23000, 1062) or its text is too long (22001, 1406).
TEST_P(array_modes, FailedSetsAreReportedByRow)
{
    struct {
        const char *name;
        std::vector<int> taken;   // ids already in the table (0-based sets)
        std::vector<int> long_text;
        bool status, processed;
        SQLRETURN want;
    } cases[] = {
        {"none fail", {}, {}, true, true, SQL_SUCCESS},
        {"two of six fail", {1, 4}, {}, true, true, SQL_SUCCESS_WITH_INFO},
        {"two fail, no status array", {1, 4}, {}, false, false, SQL_SUCCESS_WITH_INFO},
        {"different errors keep row order", {1, 4}, {2}, true, false, SQL_SUCCESS_WITH_INFO},
        {"all fail", {0, 1, 2, 3, 4, 5}, {}, true, true, SQL_ERROR},
        {"all fail, no status array", {0, 1, 2, 3}, {4, 5}, false, true, SQL_ERROR},
    };
    const int n = 6;
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
    s.ok("DROP TABLE IF EXISTS pa_rows");
    s.ok("CREATE TABLE pa_rows (id INT PRIMARY KEY, t VARCHAR(5))");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        s.ok("DELETE FROM pa_rows");
        std::vector<bool> fails(n, false);
        for (int i : c.taken) {
            s.ok("INSERT INTO pa_rows VALUES (" + std::to_string(100 + i) + ", 'old')");
            fails[i] = true;
        }
        std::vector<int32_t> ids(n);
        std::vector<char> texts((size_t)n * 16);
        std::vector<SQLLEN> id_ind(n, 0), text_ind(n, SQL_NTS);
        for (int i = 0; i < n; i++) {
            ids[i] = 100 + i;
            snprintf(&texts[(size_t)i * 16], 16, "s%d", i);
        }
        for (int i : c.long_text) {
            snprintf(&texts[(size_t)i * 16], 16, "far too long");
            fails[i] = true;
        }
        std::vector<SQLUSMALLINT> status(n, 99);
        SQLULEN processed = 99;
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(intptr_t)n, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, c.status ? status.data() : nullptr, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, c.processed ? &processed : nullptr,
                       0);
        ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                                   ids.data(), 0, id_ind.data()),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0,
                                   texts.data(), 16, text_ind.data()),
                  SQL_SUCCESS);

        EXPECT_EQ(s.run("INSERT INTO pa_rows VALUES (?, ?)"), c.want)
            << qv::describe(qv::diagnostics(s.stmt));

        std::vector<record> got = records(s.stmt);
        size_t k = 0;
        for (int i = 0; i < n; i++) {
            if (c.status) {
                EXPECT_EQ(status[i], fails[i] ? SQL_PARAM_ERROR : SQL_PARAM_SUCCESS) << "set " << i;
            }
            if (!fails[i])
                continue;
            // one record per failed set, in the order of the sets
            ASSERT_LT(k, got.size()) << "no record for set " << i;
            EXPECT_EQ(got[k].row, i + 1);
            bool too_long = std::find(c.long_text.begin(), c.long_text.end(), i) !=
                            c.long_text.end();
            EXPECT_EQ(got[k].state, too_long ? "22001" : "23000") << "set " << i;
            EXPECT_EQ(got[k].native, too_long ? 1406 : 1062) << "set " << i;
            k++;
        }
        EXPECT_EQ(k, got.size()) << "records beyond the failed sets";
        if (c.processed) {
            EXPECT_EQ(processed, (SQLULEN)n);
        }
        // the sets that worked are in the table, the failed ones changed nothing
        int fresh = 0;
        for (bool f : fails)
            fresh += f ? 0 : 1;
        std::vector<std::vector<std::string>> rows =
            qv::server_rows("SELECT COUNT(*), SUM(t = 'old') FROM pa_rows");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], std::to_string(fresh + (int)c.taken.size()));
        if (!c.taken.empty()) {
            EXPECT_EQ(rows[0][1], std::to_string(c.taken.size()));
        }

        SQLFreeStmt(s.stmt, SQL_CLOSE);
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    }
}

// One set is not an array: its error names no row.
TEST_P(array_modes, SingleSetErrorNamesNoRow)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS pa_one");
    s.ok("CREATE TABLE pa_one (id INT PRIMARY KEY)");
    s.ok("INSERT INTO pa_one VALUES (7)");
    int32_t id = 7;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id, 0,
                               &ind),
              SQL_SUCCESS);
    EXPECT_EQ(s.run("INSERT INTO pa_one VALUES (?)"), SQL_ERROR);
    std::vector<record> got = records(s.stmt);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].state, "23000");
    EXPECT_EQ(got[0].row, 0);
}

// An array that has to stop (a SELECT per set is refused after the first
// set) leaves no stale entry behind: the sets never run say so.
TEST_P(array_modes, StoppedArrayMarksTheRestUnused)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    int32_t v[3] = {1, 2, 3};
    SQLLEN ind[3] = {0, 0, 0};
    std::vector<SQLUSMALLINT> status(3, 99);
    SQLULEN processed = 99;
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)3, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, v, 0,
                               ind),
              SQL_SUCCESS);
    EXPECT_EQ(s.run("SELECT ?"), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY000") << qv::describe(qv::diagnostics(s.stmt));
    EXPECT_EQ(status, (std::vector<SQLUSMALLINT>{SQL_PARAM_ERROR, SQL_PARAM_UNUSED,
                                                 SQL_PARAM_UNUSED}));
    EXPECT_EQ(processed, 1u);
}

INSTANTIATE_TEST_SUITE_P(ParamArrays, array_modes, ::testing::Values(DIRECT, TEXT_PREPARE, SERVER_PREPARE),
                         [](const ::testing::TestParamInfo<mode> &i) {
                             return i.param == DIRECT         ? std::string("Direct")
                                    : i.param == TEXT_PREPARE ? std::string("TextPrepare")
                                                              : std::string("ServerPrepare");
                         });
