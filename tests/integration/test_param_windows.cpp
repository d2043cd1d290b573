// Parameter arrays of a statement prepared on the server go out in windows of
// many rows, one write each, and their answers are read afterwards: every set
// must still get its own status, records and count, in every connection mode
// (compressed, streamed, encrypted), across window edges, around ignored
// sets, sets that cannot be converted and sets that give their data at
// execution.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

struct session {
    qv::connection conn;
    qv::handle stmt;

    // mode: connection-string keywords, or "TLS" for an encrypted link
    explicit session(const std::string &mode)
    {
        std::string extra = mode == "TLS"
                                ? "Encrypt=yes;CertificateFile=" + qv::server().ssl_ca + ";"
                                : mode;
        SQLRETURN rc = conn.connect(qv::conn_str(extra));
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
    std::string diags() { return qv::describe(qv::diagnostics(stmt)); }
};

struct record {
    std::string state;
    SQLLEN row;
};

std::vector<record> records(const qv::handle &stmt)
{
    std::vector<record> out;
    for (SQLSMALLINT i = 1;; i++) {
        SQLCHAR st[6] = {};
        if (SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, st, nullptr, nullptr, 0, nullptr) !=
            SQL_SUCCESS)
            break;
        SQLLEN row = -99;
        SQLGetDiagField(SQL_HANDLE_STMT, stmt, i, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr);
        out.push_back({(const char *)st, row});
    }
    return out;
}

// What becomes of one set.
enum fate { GOES, TAKEN, TOO_LONG, NOT_A_NUMBER, IGNORED };

struct window_modes : ::testing::TestWithParam<const char *> {};

} // namespace

// 2,500 sets of (id, number as text, text) into a table with a primary key
// and a VARCHAR(5) under strict mode, in rows wide enough that the array
// spans many windows. Failures of every kind are spread densely enough that
// every window edge has failed sets on both sides, and a run of ten taken
// ids crosses edges too.
TEST_P(window_modes, ManyWindowsKeepEverySetsOutcome)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
    s.ok("DROP TABLE IF EXISTS pw_rows");
    s.ok("CREATE TABLE pw_rows (id INT PRIMARY KEY, n INT, t VARCHAR(5), pad VARCHAR(200))");
    const int n = 2500;
    std::vector<fate> fates(n, GOES);
    std::string taken;
    for (int i = 0; i < n; i++) {
        if (i % 83 == 11)
            fates[i] = IGNORED;
        else if (i % 101 == 50)
            fates[i] = NOT_A_NUMBER;
        else if (i % 89 == 7)
            fates[i] = TOO_LONG;
        else if (i % 7 == 5 || (i >= 1000 && i < 1010))
            fates[i] = TAKEN;
        if (fates[i] == TAKEN)
            taken += (taken.empty() ? "" : ",") + ("(" + std::to_string(i) + ", 0, 'old', '')");
    }
    s.ok("INSERT INTO pw_rows VALUES " + taken);

    std::vector<int32_t> ids(n);
    std::vector<char> nums((size_t)n * 8), texts((size_t)n * 16), pads((size_t)n * 201);
    std::vector<SQLLEN> id_ind(n, 0), num_ind(n, SQL_NTS), text_ind(n, SQL_NTS),
        pad_ind(n, SQL_NTS);
    std::vector<SQLUSMALLINT> ops(n, SQL_PARAM_PROCEED), status(n, 99);
    for (int i = 0; i < n; i++) {
        ids[i] = i;
        snprintf(&nums[(size_t)i * 8], 8, fates[i] == NOT_A_NUMBER ? "x%d" : "%d", i % 1000);
        snprintf(&texts[(size_t)i * 16], 16, fates[i] == TOO_LONG ? "far too long" : "s%d",
                 i % 1000);
        snprintf(&pads[(size_t)i * 201], 201, "%0200d", i);
        if (fates[i] == IGNORED)
            ops[i] = SQL_PARAM_IGNORE;
    }
    SQLULEN processed = 0;
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(intptr_t)n, 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_OPERATION_PTR, ops.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                               ids.data(), 0, id_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 10, 0,
                               nums.data(), 8, num_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0,
                               texts.data(), 16, text_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 4, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 200, 0,
                               pads.data(), 201, pad_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)"INSERT INTO pw_rows VALUES (?, ?, ?, ?)", SQL_NTS),
              SQL_SUCCESS) << s.diags();

    EXPECT_EQ(SQLExecute(s.stmt), SQL_SUCCESS_WITH_INFO) << s.diags();
    EXPECT_EQ(processed, (SQLULEN)n);
    std::vector<record> got = records(s.stmt);
    size_t k = 0;
    int fresh = 0;
    long long id_sum = 0;
    for (int i = 0; i < n; i++) {
        SQLUSMALLINT want = fates[i] == GOES ? SQL_PARAM_SUCCESS
                            : fates[i] == IGNORED ? SQL_PARAM_UNUSED : SQL_PARAM_ERROR;
        EXPECT_EQ(status[i], want) << "set " << i;
        if (fates[i] == GOES) {
            fresh++;
            id_sum += i;
        }
        if (fates[i] == GOES || fates[i] == IGNORED)
            continue;
        // one record per failed set, in the order of the sets
        ASSERT_LT(k, got.size()) << "no record for set " << i;
        EXPECT_EQ(got[k].row, i + 1);
        const char *state = fates[i] == TAKEN ? "23000" : fates[i] == TOO_LONG ? "22001" : "22018";
        EXPECT_EQ(got[k].state, state) << "set " << i;
        k++;
    }
    EXPECT_EQ(k, got.size()) << "records beyond the failed sets";
    SQLLEN count = -1;
    EXPECT_EQ(SQLRowCount(s.stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, fresh);
    // exactly the sets that went are in the table, with their own values
    std::vector<std::vector<std::string>> rows = qv::server_rows(
        "SELECT COUNT(*), SUM(id), SUM(n = id % 1000), SUM(t = CONCAT('s', id % 1000)), "
        "SUM(CAST(pad AS UNSIGNED) = id) FROM pw_rows WHERE t <> 'old'");
    ASSERT_EQ(rows.size(), 1u);
    std::string f = std::to_string(fresh);
    EXPECT_EQ(rows[0], (std::vector<std::string>{f, std::to_string(id_sum), f, f, f}));
}

// Sets that give their data at execution in the middle of an array: the
// sets before each one are run and answered when the call returns for its
// data, the rows processed name it, and the sets after it go on in windows.
// A set that fails before it still counts in the final call's result.
TEST_P(window_modes, DataAtExecutionInTheMiddle)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS pw_dae");
    s.ok("CREATE TABLE pw_dae (id INT PRIMARY KEY, t TEXT)");
    s.ok("INSERT INTO pw_dae VALUES (50, 'old')");
    const int n = 300;
    const int dae_rows[] = {100, 250};
    std::vector<int32_t> ids(n);
    std::vector<char> texts((size_t)n * 16);
    std::vector<SQLLEN> id_ind(n, 0), text_ind(n, SQL_NTS);
    std::vector<SQLUSMALLINT> status(n, 99);
    for (int i = 0; i < n; i++) {
        ids[i] = i;
        snprintf(&texts[(size_t)i * 16], 16, "v%d", i);
    }
    for (int r : dae_rows)
        text_ind[r] = SQL_DATA_AT_EXEC;
    SQLULEN processed = 0;
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(intptr_t)n, 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                               ids.data(), 0, id_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 100, 0,
                               texts.data(), 16, text_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)"INSERT INTO pw_dae VALUES (?, ?)", SQL_NTS),
              SQL_SUCCESS) << s.diags();

    ASSERT_EQ(SQLExecute(s.stmt), SQL_NEED_DATA) << s.diags();
    SQLPOINTER token = nullptr;
    SQLRETURN rc = SQLParamData(s.stmt, &token);
    for (int r : dae_rows) {
        ASSERT_EQ(rc, SQL_NEED_DATA) << s.diags();
        EXPECT_EQ(token, (SQLPOINTER)texts.data());
        EXPECT_EQ(processed, (SQLULEN)r + 1);
        // the sets before it are in the table already
        std::vector<std::vector<std::string>> before =
            qv::server_rows("SELECT COUNT(*) FROM pw_dae WHERE t <> 'old'");
        ASSERT_EQ(before.size(), 1u);
        EXPECT_EQ(before[0][0], std::to_string(r - (r > 50 ? 1 : 0)));
        std::string v = "late " + std::to_string(r);
        ASSERT_EQ(SQLPutData(s.stmt, (SQLPOINTER)v.data(), (SQLLEN)v.size()), SQL_SUCCESS)
            << s.diags();
        rc = SQLParamData(s.stmt, &token);
    }
    EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO) << s.diags();
    EXPECT_EQ(processed, (SQLULEN)n);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(status[i], i == 50 ? SQL_PARAM_ERROR : SQL_PARAM_SUCCESS) << "set " << i;
    // (the failed set's record went with the call that ran it, SQLExecute,
    // which returned for the first set's data)
    std::vector<std::vector<std::string>> rows = qv::server_rows(
        "SELECT COUNT(*), SUM(t = CONCAT('v', id)), "
        "GROUP_CONCAT(t ORDER BY id SEPARATOR '|') FROM pw_dae WHERE t LIKE 'late%'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "late 100|late 250");
    rows = qv::server_rows("SELECT COUNT(*), SUM(t = CONCAT('v', id)) FROM pw_dae");
    EXPECT_EQ(rows[0], (std::vector<std::string>{std::to_string(n), std::to_string(n - 3)}));
}

INSTANTIATE_TEST_SUITE_P(ParamWindows, window_modes,
                         ::testing::Values("", "Compress=1;", "NoCache=1;", "TLS"),
                         [](const ::testing::TestParamInfo<const char *> &i) {
                             std::string m = i.param;
                             return m.empty()                      ? std::string("Default")
                                    : m.rfind("Compress", 0) == 0 ? std::string("Compress")
                                    : m.rfind("NoCache", 0) == 0  ? std::string("NoCache")
                                                                   : std::string("Tls");
                         });
