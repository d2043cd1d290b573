// Static scrollable cursors through the driver manager: every move of
// SQLFetchScroll and SQLExtendedFetch over a real result, checked against the
// rows read forward and a model of ODBC's positioning rules; what NoCache
// turns the cursor into; the cursor information the driver reports; and
// unixODBC's cursor library reading the same rows as a direct read.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

const int ROWS = 1000;

struct session {
    qv::connection c;
    qv::handle stmt;

    explicit session(const std::string &extra = "", SQLINTEGER odbc_version = SQL_OV_ODBC3,
                     SQLULEN odbc_cursors = SQL_CUR_USE_DRIVER)
        : c(odbc_version)
    {
        SQLSetConnectAttr(c.dbc, SQL_ATTR_ODBC_CURSORS, (SQLPOINTER)odbc_cursors, SQL_IS_UINTEGER);
        SQLRETURN rc = c.connect(qv::conn_str(extra));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        stmt = qv::alloc_stmt(c.dbc);
    }
    ~session() { stmt.reset(); }

    SQLRETURN exec(const std::string &sql) { return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS); }
    SQLRETURN set(SQLINTEGER attr, SQLULEN v) { return SQLSetStmtAttr(stmt, attr, (SQLPOINTER)v, 0); }
    SQLULEN get(SQLINTEGER attr)
    {
        SQLULEN v = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetStmtAttr(stmt, attr, &v, 0, nullptr)));
        return v;
    }
};

#define EXEC_OK(sess, sql) QV_ASSERT_SUCCEEDED((sess).exec(sql), (sess).stmt)

struct row {
    int id;
    std::string label;
};

// The rows of the scroll table, read forward one at a time.
std::vector<row> forward_rows(session &s, const std::string &sql)
{
    std::vector<row> out;
    if (!SQL_SUCCEEDED(s.exec(sql)))
        return out;
    while (SQL_SUCCEEDED(SQLFetch(s.stmt))) {
        SQLINTEGER id = 0;
        char label[32] = "";
        SQLLEN ind = 0;
        SQLGetData(s.stmt, 1, SQL_C_SLONG, &id, 0, &ind);
        SQLGetData(s.stmt, 2, SQL_C_CHAR, label, sizeof label, &ind);
        out.push_back({(int)id, label});
    }
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    return out;
}

void scroll_table(session &s)
{
    EXEC_OK(s, "DROP TABLE IF EXISTS qv_scroll");
    EXEC_OK(s, "CREATE TABLE qv_scroll (id INT PRIMARY KEY, label VARCHAR(20))");
    // ids run backwards, so a row's number is not its id
    EXEC_OK(s, "INSERT INTO qv_scroll SELECT 5000 - seq, CONCAT('r', seq, '-', LEFT(MD5(seq), 12)) FROM seq_1_to_" +
                   std::to_string(ROWS));
}

// ODBC's positioning rules for a block cursor, written out from the
// SQLFetchScroll tables: the first row of the new rowset (0 before the start,
// rows + 1 after the end), and whether 01S06 comes with it.
struct model {
    long rows;
    long start = 0;       // 0 before start, rows + 1 after end
    long last_size = 0;

    long move(SQLSMALLINT orientation, long offset, long size, bool *warn)
    {
        *warn = false;
        long t = 0;
        bool before = start == 0, after = start > rows;
        switch (orientation) {
        case SQL_FETCH_NEXT:
            t = before ? 1 : after ? rows + 1 : start + last_size;
            break;
        case SQL_FETCH_PRIOR:
            if (before || start == 1)
                t = 0;
            else if (after)
                t = rows < size ? 1 : rows - size + 1;
            else if (start <= size)
                t = 1, *warn = true;
            else
                t = start - size;
            break;
        case SQL_FETCH_RELATIVE:
            if ((before && offset > 0) || (after && offset < 0)) {
                t = absolute(offset, size);
            } else if (before) {
                t = 0;
            } else if (after) {
                t = rows + 1;
            } else if (start == 1 && offset < 0) {
                t = 0;
            } else if (start + offset < 1) {
                if (-offset > size)
                    t = 0;
                else
                    t = 1, *warn = true;
            } else {
                t = start + offset;
            }
            break;
        case SQL_FETCH_ABSOLUTE:
            t = absolute(offset, size);
            break;
        case SQL_FETCH_FIRST:
            t = 1;
            break;
        case SQL_FETCH_LAST:
            t = rows <= size ? 1 : rows - size + 1;
            break;
        }
        if (t > rows)
            t = rows + 1;
        start = t;
        last_size = size;
        return t;
    }
    long absolute(long offset, long size) const
    {
        if (offset < 0)
            return -offset <= rows ? rows + offset + 1 : -offset > size ? 0 : 1;
        return offset;
    }
};

struct move_case {
    SQLSMALLINT orientation;
    long offset;
};

// A walk that visits every rule: both ends, partial rowsets, clipping at the
// first row, offsets that overshoot, relative moves from outside the result.
const move_case MOVES[] = {
    {SQL_FETCH_NEXT, 0},      {SQL_FETCH_NEXT, 0},       {SQL_FETCH_PRIOR, 0},
    {SQL_FETCH_PRIOR, 0},     {SQL_FETCH_PRIOR, 0},      {SQL_FETCH_NEXT, 0},
    {SQL_FETCH_RELATIVE, 5},  {SQL_FETCH_RELATIVE, -3},  {SQL_FETCH_RELATIVE, -4},
    {SQL_FETCH_RELATIVE, 10}, {SQL_FETCH_RELATIVE, -12}, {SQL_FETCH_ABSOLUTE, 500},
    {SQL_FETCH_RELATIVE, 0},  {SQL_FETCH_PRIOR, 0},      {SQL_FETCH_ABSOLUTE, 4},
    {SQL_FETCH_PRIOR, 0},     {SQL_FETCH_ABSOLUTE, -1},  {SQL_FETCH_ABSOLUTE, -1000},
    {SQL_FETCH_ABSOLUTE, -1001}, {SQL_FETCH_ABSOLUTE, -1005}, {SQL_FETCH_ABSOLUTE, -2000},
    {SQL_FETCH_ABSOLUTE, 0},  {SQL_FETCH_ABSOLUTE, 1000}, {SQL_FETCH_ABSOLUTE, 1001},
    {SQL_FETCH_PRIOR, 0},     {SQL_FETCH_NEXT, 0},       {SQL_FETCH_NEXT, 0},
    {SQL_FETCH_NEXT, 0},      {SQL_FETCH_RELATIVE, 4},   {SQL_FETCH_RELATIVE, -2},
    {SQL_FETCH_LAST, 0},      {SQL_FETCH_NEXT, 0},       {SQL_FETCH_RELATIVE, -9},
    {SQL_FETCH_FIRST, 0},     {SQL_FETCH_RELATIVE, -1},  {SQL_FETCH_RELATIVE, -1},
    {SQL_FETCH_RELATIVE, 3},  {SQL_FETCH_ABSOLUTE, 996}, {SQL_FETCH_NEXT, 0},
    {SQL_FETCH_ABSOLUTE, 998}, {SQL_FETCH_RELATIVE, 2000000000}, {SQL_FETCH_RELATIVE, -2000000000},
    {SQL_FETCH_ABSOLUTE, 2},  {SQL_FETCH_RELATIVE, -2000000000}, {SQL_FETCH_LAST, 0},
};

const char *const SCROLL_SQL = "SELECT id, label FROM qv_scroll ORDER BY label";

// Runs the walk with rowsets of `size` rows bound column-wise, through
// SQLFetchScroll or SQLExtendedFetch, checking each rowset against the rows
// read forward.
void walk(session &s, const std::vector<row> &forward, long size, bool extended, bool prepared)
{
    ASSERT_EQ(forward.size(), (size_t)ROWS);
    ASSERT_EQ(s.set(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS);
    if (prepared) {
        QV_ASSERT_SUCCEEDED(SQLPrepare(s.stmt, (SQLCHAR *)SCROLL_SQL, SQL_NTS), s.stmt);
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    } else {
        ASSERT_EQ(s.exec(SCROLL_SQL), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    }
    EXPECT_EQ(s.get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_STATIC);
    SQLLEN count = -1;
    SQLRowCount(s.stmt, &count);
    EXPECT_EQ(count, ROWS);

    std::vector<SQLINTEGER> ids(size + 1, -1);
    std::vector<SQLLEN> id_ind(size + 1, 0), label_ind(size + 1, 0);
    std::vector<char> labels((size + 1) * 32, 0);
    std::vector<SQLUSMALLINT> status(size + 1, 99);
    SQLULEN fetched = 77;
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, ids.data(), 0, id_ind.data());
    SQLBindCol(s.stmt, 2, SQL_C_CHAR, labels.data(), 32, label_ind.data());
    if (extended) {
        s.set(SQL_ROWSET_SIZE, size);
        s.set(SQL_ATTR_ROW_ARRAY_SIZE, 3);   // not the one SQLExtendedFetch uses
    } else {
        s.set(SQL_ATTR_ROW_ARRAY_SIZE, size);
        s.set(SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)status.data());
        s.set(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched);
    }

    model m{ROWS};
    int step = 0;
    for (const move_case &mv : MOVES) {
        SCOPED_TRACE(testing::Message() << "step " << step++ << " orientation " << mv.orientation
                                        << " offset " << mv.offset << " from " << m.start);
        bool warn;
        long start = m.move(mv.orientation, mv.offset, size, &warn);
        std::fill(ids.begin(), ids.end(), -1);
        std::fill(status.begin(), status.end(), 99);
        SQLRETURN rc = extended
                           ? SQLExtendedFetch(s.stmt, mv.orientation, mv.offset, &fetched, status.data())
                           : SQLFetchScroll(s.stmt, mv.orientation, mv.offset);
        long expect_rows = start < 1 || start > ROWS ? 0 : std::min(size, ROWS - start + 1);
        if (expect_rows == 0) {
            EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(s.stmt));
        } else if (warn) {
            EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
            EXPECT_EQ(qv::first_state(s.stmt), "01S06");
        } else {
            EXPECT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
        }
        EXPECT_EQ(fetched, (SQLULEN)expect_rows);
        for (long r = 0; r < size; r++) {
            if (r < expect_rows) {
                const row &want = forward[start - 1 + r];
                EXPECT_EQ(status[r], SQL_ROW_SUCCESS) << r;
                EXPECT_EQ(ids[r], want.id) << r;
                EXPECT_EQ(std::string(&labels[r * 32]), want.label) << r;
            } else {
                EXPECT_EQ(status[r], SQL_ROW_NOROW) << r;
                EXPECT_EQ(ids[r], -1) << r;
            }
        }
        EXPECT_EQ(status[size], 99) << "written past the rowset";
        if (expect_rows) {
            EXPECT_EQ(s.get(SQL_ATTR_ROW_NUMBER), (SQLULEN)start);
        }
        SQLLEN n = -1;
        SQLRowCount(s.stmt, &n);
        EXPECT_EQ(n, ROWS);
        if (expect_rows && size == 1) {
            // SQLGetData reads the row the cursor is on
            char label[32] = "";
            SQLLEN ind = 0;
            EXPECT_EQ(SQLGetData(s.stmt, 2, SQL_C_CHAR, label, sizeof label, &ind), SQL_SUCCESS);
            EXPECT_EQ(std::string(label), forward[start - 1].label);
        }
    }
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    SQLFreeStmt(s.stmt, SQL_UNBIND);
}

class Scroll : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session s;
        scroll_table(s);
    }
};

} // namespace

// Every move, with rowsets of 1 and 7 rows, through both fetch calls, over a
// result run directly and one prepared on the server (binary rows).
TEST_F(Scroll, MovesMatchTheRowsReadForward)
{
    session s;
    std::vector<row> forward = forward_rows(s, SCROLL_SQL);
    ASSERT_EQ(forward.size(), (size_t)ROWS);
    for (long size : {1L, 7L})
        for (bool extended : {false, true})
            for (bool prepared : {false, true}) {
                SCOPED_TRACE(testing::Message() << "rowset " << size << (extended ? " SQLExtendedFetch" : " SQLFetchScroll")
                                                << (prepared ? " prepared" : " direct"));
                session t;
                walk(t, forward, size, extended, prepared);
            }
}

// An ODBC 2 application scrolls with SQLExtendedFetch and the ODBC 2 option
// calls; the rowset size changes between calls, and NEXT steps by the last
// rowset's size.
TEST_F(Scroll, ExtendedFetchUnderOdbc2)
{
    session s("", SQL_OV_ODBC2);
    std::vector<row> forward = forward_rows(s, SCROLL_SQL);
    ASSERT_EQ(forward.size(), (size_t)ROWS);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(s.stmt, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(s.stmt, SQL_ROWSET_SIZE, 5)));
    ASSERT_EQ(s.exec(SCROLL_SQL), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    SQLINTEGER ids[8];
    SQLLEN ind[8];
    SQLUSMALLINT status[8];
    SQLULEN rows = 0;
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, ids, 0, ind);
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_ABSOLUTE, 10, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 5u);
    EXPECT_EQ(ids[0], forward[9].id);
    EXPECT_EQ(ids[4], forward[13].id);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(s.stmt, SQL_ROWSET_SIZE, 2)));
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(ids[0], forward[14].id);   // 10 + 5: the last rowset's size
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_PRIOR, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(ids[0], forward[12].id);
    EXPECT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_BOOKMARK, 1, &rows, status), SQL_ERROR);
    std::string state = qv::first_state(s.stmt);
    EXPECT_TRUE(state == "S1106" || state == "HY106") << state;
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_LAST, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(ids[1], forward[ROWS - 1].id);
}

// What the driver does with each cursor request: cached results scroll;
// keyset-driven and dynamic requests become static with 01S02; NoCache leaves
// the rows on the wire, so the cursor becomes forward-only with 01S02; a
// forward-only cursor refuses every other move with HY106.
TEST_F(Scroll, CursorTypeAtExecution)
{
    struct cursor_case {
        const char *settings;
        SQLINTEGER attr;
        SQLULEN value;
        SQLRETURN exec_rc;
        SQLULEN type_after;
    } cases[] = {
        {"", SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SUCCESS, SQL_CURSOR_STATIC},
        {"", SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, SQL_SUCCESS, SQL_CURSOR_STATIC},
        {"", SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_STATIC},
        {"", SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_STATIC},
        {"", SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, SQL_SUCCESS, SQL_CURSOR_FORWARD_ONLY},
        {"NoCache=1;", SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_FORWARD_ONLY},
        {"NoCache=1;", SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, SQL_SUCCESS_WITH_INFO,
         SQL_CURSOR_FORWARD_ONLY},
    };
    for (const cursor_case &t : cases) {
        SCOPED_TRACE(testing::Message() << t.settings << " attr " << t.attr << " = " << t.value);
        session s(t.settings);
        ASSERT_TRUE(SQL_SUCCEEDED(s.set(t.attr, t.value)));
        ASSERT_EQ(s.exec("SELECT seq FROM seq_1_to_20"), t.exec_rc) << qv::describe(qv::diagnostics(s.stmt));
        if (t.exec_rc == SQL_SUCCESS_WITH_INFO) {
            std::vector<qv::diag_record> d = qv::diagnostics(s.stmt);
            ASSERT_FALSE(d.empty());
            EXPECT_EQ(d[0].sqlstate, "01S02");
            EXPECT_NE(d[0].text.find("Cursor type changed"), std::string::npos) << d[0].text;
        }
        EXPECT_EQ(s.get(SQL_ATTR_CURSOR_TYPE), t.type_after);
        SQLINTEGER v = 0;
        SQLLEN ind = 0;
        SQLBindCol(s.stmt, 1, SQL_C_SLONG, &v, 0, &ind);
        if (t.type_after == SQL_CURSOR_STATIC) {
            EXPECT_EQ(s.get(SQL_ATTR_CURSOR_SCROLLABLE), (SQLULEN)SQL_SCROLLABLE);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
            EXPECT_EQ(v, 20);
            EXPECT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_BOOKMARK, 0), SQL_ERROR);
            EXPECT_EQ(qv::first_state(s.stmt), "HY106");
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
            EXPECT_EQ(v, 1);
        } else {
            EXPECT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
            EXPECT_EQ(v, 1);
            EXPECT_EQ(s.get(SQL_ATTR_ROW_NUMBER), 1u);
            for (SQLSMALLINT o : {SQL_FETCH_PRIOR, SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_ABSOLUTE,
                                  SQL_FETCH_RELATIVE}) {
                EXPECT_EQ(SQLFetchScroll(s.stmt, o, 1), SQL_ERROR) << o;
                EXPECT_EQ(qv::first_state(s.stmt), "HY106") << o;
            }
            EXPECT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
            EXPECT_EQ(v, 2);
            EXPECT_EQ(s.get(SQL_ATTR_ROW_NUMBER), 2u);
        }
        // the connection serves the next statement
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        SQLFreeStmt(s.stmt, SQL_UNBIND);
        EXPECT_TRUE(SQL_SUCCEEDED(s.exec("SELECT 1")));
    }
}

// Each result of a multi-statement text is a cursor of its own, and an empty
// result scrolls to SQL_NO_DATA every way.
TEST_F(Scroll, EachResultScrollsOnItsOwn)
{
    session s;
    ASSERT_EQ(s.set(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS);
    ASSERT_EQ(s.exec("SELECT seq FROM seq_1_to_3; SELECT seq FROM seq_1_to_3 WHERE seq > 5; SELECT seq * 10 FROM seq_1_to_5"),
              SQL_SUCCESS)
        << qv::describe(qv::diagnostics(s.stmt));
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, &v, 0, &ind);
    ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 1), SQL_SUCCESS);
    EXPECT_EQ(v, 1);

    ASSERT_EQ(SQLMoreResults(s.stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    SQLLEN n = -1;
    SQLRowCount(s.stmt, &n);
    EXPECT_EQ(n, 0);
    for (SQLSMALLINT o : {SQL_FETCH_NEXT, SQL_FETCH_LAST, SQL_FETCH_FIRST, SQL_FETCH_PRIOR, SQL_FETCH_ABSOLUTE})
        EXPECT_EQ(SQLFetchScroll(s.stmt, o, -1), SQL_NO_DATA) << o;

    ASSERT_EQ(SQLMoreResults(s.stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, -2), SQL_SUCCESS);
    EXPECT_EQ(v, 40);
    ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_PRIOR, 0), SQL_SUCCESS);
    EXPECT_EQ(v, 30);
    EXPECT_EQ(SQLMoreResults(s.stmt), SQL_NO_DATA);
    EXPECT_TRUE(SQL_SUCCEEDED(s.exec("SELECT 1")));
}

// The cursor information agrees with what is built: forward-only and static
// cursors, read-only, no bookmarks, no positioned operations.
TEST_F(Scroll, CursorInformation)
{
    session s;
    struct info_case {
        SQLUSMALLINT type;
        SQLUINTEGER want;
    } cases[] = {
        {SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC},
        {SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT | SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST | SQL_FD_FETCH_PRIOR |
                                  SQL_FD_FETCH_ABSOLUTE | SQL_FD_FETCH_RELATIVE},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT},
        {SQL_STATIC_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE},
        {SQL_STATIC_CURSOR_ATTRIBUTES2,
         SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_CRC_EXACT},
        {SQL_KEYSET_CURSOR_ATTRIBUTES1, 0},
        {SQL_KEYSET_CURSOR_ATTRIBUTES2, 0},
        {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0},
        {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0},
        {SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY},
        {SQL_CURSOR_SENSITIVITY, SQL_INSENSITIVE},
        {SQL_BOOKMARK_PERSISTENCE, 0},
        {SQL_POS_OPERATIONS, 0},
        {SQL_LOCK_TYPES, 0},
        {SQL_STATIC_SENSITIVITY, 0},
    };
    for (const info_case &t : cases) {
        SQLUINTEGER v = 0xDEAD;
        ASSERT_EQ(SQLGetInfo(s.c.dbc, t.type, &v, sizeof v, nullptr), SQL_SUCCESS) << t.type;
        EXPECT_EQ(v, t.want) << "info type " << t.type;
    }
}

// unixODBC's cursor library: asked for only if needed, the driver's own
// cursors suffice and the library stays out; forced, it reads the same rows
// of every type as a direct read.
TEST_F(Scroll, CursorLibraryReadsWhatTheDriverReads)
{
    auto cursor_library_loaded = [] {
        std::ifstream maps("/proc/self/maps");
        std::stringstream all;
        all << maps.rdbuf();
        return all.str().find("libodbccr") != std::string::npos;
    };
    {
        session s("", SQL_OV_ODBC3, SQL_CUR_USE_IF_NEEDED);
        EXPECT_FALSE(cursor_library_loaded());
    }

    session d;
    EXEC_OK(d, "DROP TABLE IF EXISTS qv_curlib");
    EXEC_OK(d, "CREATE TABLE qv_curlib (i INT, b BIGINT, dec1 DECIMAL(20,6), f DOUBLE, v VARCHAR(40), "
               "t TEXT, m MEDIUMTEXT, bl BLOB, dt DATE, tm TIME, ts DATETIME(6), bt BIT(5), "
               "e ENUM('a','bb'), n INT) CHARACTER SET utf8mb4");
    EXEC_OK(d, "INSERT INTO qv_curlib VALUES "
               "(1, 9007199254740993, 12345678901234.123456, 2.5, 'Grüße мир', REPEAT('t', 300), "
               "REPEAT('m', 1000), x'00ff10', '2024-02-29', '12:34:56', '2024-02-29 01:02:03.456789', "
               "b'10101', 'bb', 0),"
               "(2, -1, -0.000001, -1e300, '', '', '', '', '1000-01-01', '-838:59:59', "
               "'9999-12-31 23:59:59.999999', b'0', 'a', 7),"
               "(3, 0, 0, 0, 0, 'x', 'y', 'z', '2000-01-01', '00:00:00', '2000-01-01 00:00:00', b'1', 'a', 3)");
    // No NULLs: the cursor library copies a bound text column with strcpy
    // whatever its indicator says, and a NULL leaves the buffer unwritten.

    // All columns bound as text, a rowset of 2, through either path.
    const int COLS = 14, WIDTH = 2100, SIZE = 2;
    auto read_all = [&](session &s) {
        std::vector<std::string> out;
        std::vector<char> buf(COLS * SIZE * WIDTH);
        std::vector<SQLLEN> ind(COLS * SIZE);
        SQLULEN fetched = 0;
        s.set(SQL_ATTR_ROW_ARRAY_SIZE, SIZE);
        s.set(SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched);
        if (!SQL_SUCCEEDED(s.exec("SELECT * FROM qv_curlib ORDER BY i"))) {
            ADD_FAILURE() << qv::describe(qv::diagnostics(s.stmt));
            return out;
        }
        for (int c = 0; c < COLS; c++)
            EXPECT_EQ(SQLBindCol(s.stmt, c + 1, SQL_C_CHAR, &buf[c * SIZE * WIDTH], WIDTH, &ind[c * SIZE]),
                      SQL_SUCCESS)
                << qv::describe(qv::diagnostics(s.stmt));
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0))) {
            for (SQLULEN r = 0; r < fetched; r++)
                for (int c = 0; c < COLS; c++) {
                    SQLLEN n = ind[c * SIZE + r];
                    out.push_back(n == SQL_NULL_DATA ? "NULL" : std::string(&buf[(c * SIZE + r) * WIDTH]));
                }
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(s.stmt));
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        SQLFreeStmt(s.stmt, SQL_UNBIND);
        s.set(SQL_ATTR_ROWS_FETCHED_PTR, 0);
        s.set(SQL_ATTR_ROW_ARRAY_SIZE, 1);
        return out;
    };
    std::vector<std::string> direct = read_all(d);
    ASSERT_EQ(direct.size(), (size_t)(3 * COLS));
    EXPECT_EQ(direct[4], "Grüße мир");
    EXPECT_EQ(direct[COLS + COLS - 1], "7");

    session lib("", SQL_OV_ODBC3, SQL_CUR_USE_ODBC);
    EXPECT_TRUE(cursor_library_loaded());
    EXPECT_EQ(read_all(lib), direct);

    // the library scrolls over the driver's rows
    SQLINTEGER i = 0;
    SQLLEN ind = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(lib.exec("SELECT i FROM qv_curlib ORDER BY i")));
    SQLBindCol(lib.stmt, 1, SQL_C_SLONG, &i, 0, &ind);
    ASSERT_EQ(SQLFetchScroll(lib.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << qv::describe(qv::diagnostics(lib.stmt));
    EXPECT_EQ(i, 3);
}
