// Text in every column character set, through the driver manager against a
// real server: read narrow (SQL_C_CHAR, UTF-8) and wide (SQL_C_WCHAR,
// UTF-16) from text rows (SQLExecDirect) and binary rows (SQLPrepare and
// SQLExecute), with SQLGetData and bound columns; written as narrow and wide
// statement text and as narrow and wide parameters, and read back.
//
// CTest runs this program once against the fixture's utf8mb4 server and once
// against the second server whose default character set is latin1: a
// connection that names no character set must behave the same on both.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

// ------------------------------------------------------------ the values

struct value {
    const char *name;
    std::string utf8;
    std::u16string utf16;
};

const value GRUSSE = {"Grüße", u8"Grüße", u"Grüße"};
const value MIR = {"мир", u8"мир", u"мир"};
const value KANJI = {"漢字", u8"漢字", u"漢字"};
const value MOON = {"🌜", u8"🌜", u"🌜"};

struct column {
    const char *name;
    const char *definition;
    bool binary;                     // bytes, not text: read and bound as SQL_C_BINARY
    std::vector<const value *> fits; // the values the column can hold
};

const std::vector<column> &columns()
{
    static const std::vector<column> all = {
        {"c_latin1", "VARCHAR(20) CHARACTER SET latin1", false, {&GRUSSE}},
        {"c_utf8mb3", "VARCHAR(20) CHARACTER SET utf8mb3", false, {&GRUSSE, &MIR, &KANJI}},
        {"c_utf8mb4", "VARCHAR(20) CHARACTER SET utf8mb4", false, {&GRUSSE, &MIR, &KANJI, &MOON}},
        {"c_utf16", "VARCHAR(20) CHARACTER SET utf16", false, {&GRUSSE, &MIR, &KANJI, &MOON}},
        {"c_ucs2", "VARCHAR(20) CHARACTER SET ucs2", false, {&GRUSSE, &MIR, &KANJI}},
        {"c_cp1251", "VARCHAR(20) CHARACTER SET cp1251", false, {&MIR}},
        {"c_binary", "VARBINARY(40)", true, {&GRUSSE, &MIR, &KANJI, &MOON}},
    };
    return all;
}

// One column and one value, with the row id it uses in a table.
struct cell {
    const column *col;
    const value *val;
    int id;
};

std::vector<cell> cells()
{
    std::vector<cell> out;
    int id = 1;
    for (const column &c : columns())
        for (const value *v : c.fits)
            out.push_back({&c, v, id++});
    return out;
}

std::string describe(const cell &c) { return std::string(c.col->name) + " <- " + c.val->name; }

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string bytes_of(const std::u16string &s)
{
    return std::string(reinterpret_cast<const char *>(s.data()), 2 * s.size());
}

std::u16string u16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string table_definition(const std::string &table)
{
    std::string sql = "CREATE OR REPLACE TABLE " + table + " (id INT PRIMARY KEY";
    for (const column &c : columns())
        sql += std::string(", ") + c.name + " " + c.definition;
    return sql + ")";
}

// ------------------------------------------------------------ the fixture

class Charset : public ::testing::Test {
protected:
    qv::connection cn;
    qv::handle st;

    void SetUp() override { connect(""); }

    void connect(const std::string &extra)
    {
        st.reset();
        if (cn.connected)
            cn.disconnect();
        SQLRETURN rc = cn.connect(qv::conn_str(extra));
        QV_ASSERT_SUCCEEDED(rc, cn.dbc);
        st = qv::alloc_stmt(cn.dbc);
        ASSERT_TRUE(st);
    }

    void close() { SQLFreeStmt(st, SQL_CLOSE); }

    void exec(const std::string &sql)
    {
        close();
        SQLRETURN rc = SQLExecDirect(st, (SQLCHAR *)sql.c_str(), SQL_NTS);
        QV_ASSERT_SUCCEEDED(rc, st) << sql;
    }

    // Runs a one-value query and fetches its row.
    void query(const std::string &sql, bool prepared)
    {
        close();
        SQLRETURN rc = prepared ? SQLPrepare(st, (SQLCHAR *)sql.c_str(), SQL_NTS)
                                : SQLExecDirect(st, (SQLCHAR *)sql.c_str(), SQL_NTS);
        QV_ASSERT_SUCCEEDED(rc, st) << sql;
        if (prepared) {
            rc = SQLExecute(st);
            QV_ASSERT_SUCCEEDED(rc, st) << sql;
        }
    }

    // The bytes of column 1 of the next row in the C type given, by
    // SQLGetData or by a bound column; the terminator is not included.
    std::string read(SQLSMALLINT c_type, bool bound)
    {
        char buf[256];
        memset(buf, 0x7E, sizeof buf);
        SQLLEN ind = 0;
        SQLRETURN rc;
        if (bound) {
            rc = SQLBindCol(st, 1, c_type, buf, sizeof buf, &ind);
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(st));
            rc = SQLFetch(st);
            SQLFreeStmt(st, SQL_UNBIND);
        } else {
            rc = SQLFetch(st);
            if (SQL_SUCCEEDED(rc))
                rc = SQLGetData(st, 1, c_type, buf, sizeof buf, &ind);
        }
        if (rc != SQL_SUCCESS) {
            ADD_FAILURE() << qv::return_name(rc) << " " << qv::describe(qv::diagnostics(st));
            return "(failed)";
        }
        if (ind < 0 || ind > (SQLLEN)sizeof buf)
            return "(indicator " + std::to_string(ind) + ")";
        return std::string(buf, (size_t)ind);
    }

    // What the server holds in a cell, as the hexadecimal of its UTF-8 form
    // (bytes as they are for the binary column): ASCII whatever the session's
    // character set, so it does not depend on the decoding under test.
    std::string stored_hex(const std::string &table, const cell &c)
    {
        std::string expr = c.col->binary
                               ? std::string("HEX(") + c.col->name + ")"
                               : std::string("HEX(CONVERT(") + c.col->name + " USING utf8mb4))";
        auto row = row_of("SELECT " + expr + " FROM " + table + " WHERE id = " + std::to_string(c.id));
        return row.empty() ? "(no row)" : row[0];
    }

    std::vector<std::string> row_of(const std::string &sql)
    {
        query(sql, false);
        std::vector<std::string> out;
        SQLSMALLINT n = 0;
        SQLNumResultCols(st, &n);
        if (!SQL_SUCCEEDED(SQLFetch(st)))
            return out;
        for (SQLSMALLINT i = 1; i <= n; i++) {
            char buf[128];
            SQLLEN ind = 0;
            if (!SQL_SUCCEEDED(SQLGetData(st, (SQLUSMALLINT)i, SQL_C_CHAR, buf, sizeof buf, &ind)))
                out.push_back("(failed)");
            else
                out.push_back(ind == SQL_NULL_DATA ? "NULL" : std::string(buf, (size_t)ind));
        }
        return out;
    }
};

// ------------------------------------------------------------ the session

// A connection that names no character set speaks utf8mb4, whatever the
// server's default; what the application names is what it gets.
TEST_F(Charset, SessionCharacterSetFollowsTheSettings)
{
    const std::string server_default =
        qv::server_rows("SELECT @@global.character_set_server")[0][0];
    const std::string vars =
        "SELECT @@character_set_client, @@character_set_connection, @@character_set_results";
    struct {
        const char *extra;
        std::vector<std::string> want;
    } cases[] = {
        {"", {"utf8mb4", "utf8mb4", "utf8mb4"}},
        {"ReqCharSet=8;", {"latin1", "latin1", "latin1"}},
        {"ReqCharSet=33;", {"utf8mb3", "utf8mb3", "utf8mb3"}},
        {"character_set_results=latin1;", {server_default, server_default, "latin1"}},
        {"character_set_client=utf8mb4;", {"utf8mb4", server_default, server_default}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string("settings: ") + k.extra);
        connect(k.extra);
        EXPECT_EQ(row_of(vars), k.want);
    }
}

// Named character sets keep their meaning: a latin1 session and latin1
// results still read every character they can carry, wide, and narrow in
// the application's narrow encoding; narrow UTF-8 parameters arrive as
// their characters.
TEST_F(Charset, ApplicationCharacterSetIsKept)
{
    exec(table_definition("qv_cs_named"));
    exec("INSERT INTO qv_cs_named (id, c_utf8mb4, c_latin1) VALUES (1, 'x', 'y')");
    ASSERT_EQ(qv::server_sql("UPDATE qv_cs_named SET c_utf8mb4 = CONVERT(X'" + hex(GRUSSE.utf8) +
                             "' USING utf8mb4), c_latin1 = c_utf8mb4 WHERE id = 1")
                  .status,
              0);
    for (const char *extra : {"ReqCharSet=8;ConvToUtf=yes;", "character_set_results=latin1;ConvToUtf=yes;"}) {
        SCOPED_TRACE(extra);
        connect(extra);
        for (const char *col : {"c_utf8mb4", "c_latin1"}) {
            for (bool prepared : {false, true}) {
                SCOPED_TRACE(std::string(col) + (prepared ? ", binary rows" : ", text rows"));
                const std::string sql = std::string("SELECT ") + col + " FROM qv_cs_named";
                query(sql, prepared);
                EXPECT_EQ(hex(read(SQL_C_WCHAR, false)), hex(bytes_of(GRUSSE.utf16)));
                // narrow text is UTF-8 (ConvToUtf) whatever the results' set
                query(sql, prepared);
                EXPECT_EQ(hex(read(SQL_C_CHAR, true)), hex(GRUSSE.utf8));
            }
        }
        // and a narrow UTF-8 parameter reaches a latin1 session as its characters
        for (bool prepared : {false, true}) {
            SCOPED_TRACE(prepared ? "parameter, binary protocol" : "parameter, text protocol");
            exec("UPDATE qv_cs_named SET c_utf8mb4 = NULL, c_latin1 = NULL");
            std::string data = GRUSSE.utf8;
            SQLLEN len = (SQLLEN)data.size();
            close();
            SQLFreeStmt(st, SQL_RESET_PARAMS);
            SQLRETURN rc = SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                                            (SQLPOINTER)data.data(), len, &len);
            QV_ASSERT_SUCCEEDED(rc, st);
            const char *sql = "UPDATE qv_cs_named SET c_utf8mb4 = ?, c_latin1 = c_utf8mb4";
            rc = prepared ? SQLPrepare(st, (SQLCHAR *)sql, SQL_NTS)
                          : SQLExecDirect(st, (SQLCHAR *)sql, SQL_NTS);
            if (SQL_SUCCEEDED(rc) && prepared)
                rc = SQLExecute(st);
            QV_EXPECT_SUCCEEDED(rc, st);
            SQLFreeStmt(st, SQL_RESET_PARAMS);
            EXPECT_EQ(row_of("SELECT HEX(CONVERT(c_utf8mb4 USING utf8mb4)), "
                             "HEX(CONVERT(c_latin1 USING utf8mb4)) FROM qv_cs_named"),
                      (std::vector<std::string>{hex(GRUSSE.utf8), hex(GRUSSE.utf8)}));
        }
    }
}

// ------------------------------------------------------------ reading

// Values stored by the server's own client; every way of reading them gives
// the same characters.
TEST_F(Charset, ColumnsReadNarrowAndWideInTextAndBinaryRows)
{
    exec(table_definition("qv_cs_read"));
    std::string seed;
    for (const cell &c : cells()) {
        std::string literal = c.col->binary ? "X'" + hex(c.val->utf8) + "'"
                                            : "CONVERT(X'" + hex(c.val->utf8) + "' USING utf8mb4)";
        seed += "INSERT INTO qv_cs_read (id, " + std::string(c.col->name) + ") VALUES (" +
                std::to_string(c.id) + ", " + literal + ");\n";
    }
    qv::sql_result r = qv::server_sql(seed);
    ASSERT_EQ(r.status, 0) << r.output;

    for (const cell &c : cells()) {
        const std::string sql = "SELECT " + std::string(c.col->name) +
                                " FROM qv_cs_read WHERE id = " + std::to_string(c.id);
        for (bool prepared : {false, true})
            for (bool bound : {false, true}) {
                SCOPED_TRACE(describe(c) + (prepared ? ", binary rows" : ", text rows") +
                             (bound ? ", bound" : ", SQLGetData"));
                if (c.col->binary) {
                    query(sql, prepared);
                    EXPECT_EQ(hex(read(SQL_C_BINARY, bound)), hex(c.val->utf8));
                    continue;
                }
                query(sql, prepared);
                EXPECT_EQ(hex(read(SQL_C_CHAR, bound)), hex(c.val->utf8));
                query(sql, prepared);
                EXPECT_EQ(hex(read(SQL_C_WCHAR, bound)), hex(bytes_of(c.val->utf16)));
            }
    }
}

// ------------------------------------------------------------ writing

// Values written as literals in narrow (UTF-8) and wide (UTF-16) statement
// text, directly and prepared; the server holds exactly the characters.
TEST_F(Charset, StatementTextNarrowAndWide)
{
    exec(table_definition("qv_cs_sql"));
    for (bool wide : {false, true})
        for (bool prepared : {false, true}) {
            exec("DELETE FROM qv_cs_sql");
            for (const cell &c : cells()) {
                SCOPED_TRACE(describe(c) + (wide ? ", wide" : ", narrow") +
                             (prepared ? ", prepared" : ", direct"));
                const std::string head = "INSERT INTO qv_cs_sql (id, " + std::string(c.col->name) +
                                         ") VALUES (" + std::to_string(c.id) + ", '";
                close();
                SQLRETURN rc;
                if (wide) {
                    std::u16string sql = u16(head) + c.val->utf16 + u"')";
                    rc = prepared ? SQLPrepareW(st, (SQLWCHAR *)sql.c_str(), SQL_NTS)
                                  : SQLExecDirectW(st, (SQLWCHAR *)sql.c_str(), SQL_NTS);
                } else {
                    std::string sql = head + c.val->utf8 + "')";
                    rc = prepared ? SQLPrepare(st, (SQLCHAR *)sql.c_str(), SQL_NTS)
                                  : SQLExecDirect(st, (SQLCHAR *)sql.c_str(), SQL_NTS);
                }
                if (SQL_SUCCEEDED(rc) && prepared)
                    rc = SQLExecute(st);
                QV_EXPECT_SUCCEEDED(rc, st);
                EXPECT_EQ(stored_hex("qv_cs_sql", c), hex(c.val->utf8));
            }
        }
}

// Values sent as SQL_C_CHAR (UTF-8) and SQL_C_WCHAR (UTF-16) parameters,
// in text protocol (SQLExecDirect) and binary protocol (SQLPrepare), then
// found again by a parameter and read back narrow and wide.
TEST_F(Charset, ParametersInAndOut)
{
    exec(table_definition("qv_cs_param"));
    for (SQLSMALLINT c_type : {SQL_C_CHAR, SQL_C_WCHAR})
        for (bool prepared : {false, true}) {
            exec("DELETE FROM qv_cs_param");
            for (const cell &c : cells()) {
                const bool wide = c_type == SQL_C_WCHAR;
                SCOPED_TRACE(describe(c) + (wide ? ", SQL_C_WCHAR" : ", SQL_C_CHAR") +
                             (prepared ? ", prepared" : ", direct"));
                std::string data = c.col->binary || !wide ? c.val->utf8 : bytes_of(c.val->utf16);
                SQLSMALLINT bind_c = c.col->binary ? (SQLSMALLINT)SQL_C_BINARY : c_type;
                SQLSMALLINT sql_type = c.col->binary ? SQL_VARBINARY : wide ? SQL_WVARCHAR : SQL_VARCHAR;
                SQLLEN len = (SQLLEN)data.size();

                auto run = [&](const std::string &sql) -> SQLRETURN {
                    close();
                    SQLFreeStmt(st, SQL_RESET_PARAMS);
                    SQLRETURN rc = SQLBindParameter(st, 1, SQL_PARAM_INPUT, bind_c, sql_type, 20, 0,
                                                    (SQLPOINTER)data.data(), len, &len);
                    if (!SQL_SUCCEEDED(rc))
                        return rc;
                    if (!prepared)
                        return SQLExecDirect(st, (SQLCHAR *)sql.c_str(), SQL_NTS);
                    rc = SQLPrepare(st, (SQLCHAR *)sql.c_str(), SQL_NTS);
                    return SQL_SUCCEEDED(rc) ? SQLExecute(st) : rc;
                };
                SQLRETURN rc = run("INSERT INTO qv_cs_param (id, " + std::string(c.col->name) +
                                   ") VALUES (" + std::to_string(c.id) + ", ?)");
                QV_EXPECT_SUCCEEDED(rc, st);
                EXPECT_EQ(stored_hex("qv_cs_param", c), hex(c.val->utf8));

                // the same value as a parameter finds the row and reads back
                rc = run("SELECT " + std::string(c.col->name) + " FROM qv_cs_param WHERE " +
                         c.col->name + " = ?");
                QV_EXPECT_SUCCEEDED(rc, st);
                if (!SQL_SUCCEEDED(rc))
                    continue;
                EXPECT_EQ(hex(read(bind_c, false)), hex(data));
            }
            SQLFreeStmt(st, SQL_RESET_PARAMS);
        }
}

} // namespace
