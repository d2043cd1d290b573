// Diagnostics: ordering, message texts, server messages, copying, and the
// retrieval functions in narrow, UTF-16 and UTF-8 forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/my_handle.h"

namespace {

struct diag : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void TearDown() override { env_release(env); }

    std::vector<std::string> states(void *h)
    {
        std::vector<std::string> out;
        for (int i = 1;; i++) {
            SQLCHAR st[6];
            if (SQLGetDiagRec(SQL_HANDLE_STMT, h, (SQLSMALLINT)i, st, nullptr, nullptr, 0,
                              nullptr) == SQL_NO_DATA)
                break;
            out.push_back((const char *)st);
        }
        return out;
    }
};

std::u16string wide(const SQLWCHAR *w)
{
    std::u16string s;
    while (*w)
        s += (char16_t)*w++;
    return s;
}

} // namespace

TEST_F(diag, OrderingIsDescendingByState)
{
    post_error(stmt, ST_HY000, 0, nullptr);
    post_error(stmt, ST_01004, 0, "first");
    post_error(stmt, ST_08S01, 0, nullptr);
    post_error(stmt, ST_01004, 0, "second");
    EXPECT_EQ(states(stmt), (std::vector<std::string>{"HY000", "08S01", "01004", "01004"}));
    // equal states keep their posting order
    EXPECT_NE(ms_find(diag_get(stmt, 3)->message, 'f'), -1);
    EXPECT_NE(ms_find(diag_get(stmt, 4)->message, 'c'), -1);
}

TEST_F(diag, MessageTexts)
{
    struct {
        int row;
        const char *fmt;
        const char *want;
    } cases[] = {
        {ST_HY000, nullptr, "[Quorvane][MySQL Driver][MySQL]General error"},
        {ST_HY000, "server name not specified",
         "[Quorvane][MySQL Driver][MySQL]General error: server name not specified"},
        {ST_42000, nullptr, "[Quorvane][MySQL Driver][MySQL]"},
        {ST_01S02, "Option value changed", "[Quorvane][MySQL Driver][MySQL]Option value changed"},
    };
    for (auto &c : cases) {
        clear_diagnostics(stmt);
        post_error(stmt, c.row, 0, c.fmt);
        char *m = ms_to_latin1(diag_get(stmt, 1)->message);
        EXPECT_STREQ(m, c.want);
        free(m);
        EXPECT_EQ(diag_get(stmt, 1)->column_number, -1);
    }
    clear_diagnostics(stmt);
    post_error_col(stmt, ST_22003, 0, 4, "column %d", 4);
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 4);
    // a formatted message never overruns the 1024-byte buffer
    std::string huge(5000, 'x');
    post_error(stmt, ST_HY000, 0, "%s", huge.c_str());
    EXPECT_LT(diag_get(stmt, 1)->message->length, 1024u);
}

TEST_F(diag, ServerMessageAndCopy)
{
    my_string *text = ms_from_latin1("Access denied for user 'x'@'localhost'");
    post_server_message(conn, 1045, ms_from_latin1("28000"), text, 0, 0);
    ms_free(text);
    SQLCHAR st[6];
    SQLINTEGER native = 0;
    SQLCHAR msg[256];
    SQLSMALLINT len;
    ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, conn, 1, st, &native, msg, sizeof msg, &len),
              SQL_SUCCESS);
    EXPECT_STREQ((char *)st, "28000");
    EXPECT_EQ(native, 1045);
    EXPECT_STREQ((char *)msg,
                 "[Quorvane][MySQL Driver][MySQL]Access denied for user 'x'@'localhost'");
    EXPECT_EQ(len, (SQLSMALLINT)strlen((char *)msg));

    copy_diag_record(stmt, diag_get(conn, 1));
    post_error(stmt, ST_HY000, 0, nullptr);
    EXPECT_EQ(states(stmt), (std::vector<std::string>{"HY000", "28000"}));
    EXPECT_EQ(diag_get(stmt, 2)->native, 1045);
}

TEST_F(diag, RecordRetrievalEdges)
{
    post_error(stmt, ST_HY000, 0, "%s", std::string(14, 'y').c_str());   // 60 characters
    SQLCHAR st[6], msg[10];
    SQLSMALLINT len = 0;
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 0, st, nullptr, msg, sizeof msg, &len),
              SQL_NO_DATA);
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 2, st, nullptr, msg, sizeof msg, &len),
              SQL_NO_DATA);
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, st, nullptr, msg, sizeof msg, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 60);
    EXPECT_EQ(strlen((char *)msg), 9u);
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, nullptr, nullptr, nullptr, 0, &len),
              SQL_SUCCESS);
    EXPECT_EQ(len, 60);
    // nothing was posted for the truncation
    EXPECT_EQ(diag_count(stmt), 1);

    SQLWCHAR wst[6], wmsg[10];
    EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, wst, nullptr, wmsg, 10, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(wide(wst), u"HY000");
    EXPECT_EQ(wide(wmsg), u"[Quorvane");
    EXPECT_EQ(wide(wmsg).size(), 9u);
    EXPECT_EQ(len, 60);
}

TEST_F(diag, WideUtf8Mode)
{
    conn->ConvWToUtf = 1;
    conn->ConvToUtf = 1;
    my_string *text = ms_from_utf8("caf\xC3\xA9", SQL_NTS);
    post_server_message(stmt, 1, ms_from_latin1("HY000"), text, 0, 0);
    ms_free(text);
    char buf[100];
    SQLSMALLINT len;
    ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, nullptr, nullptr, (SQLWCHAR *)buf,
                             sizeof buf, &len),
              SQL_SUCCESS);
    EXPECT_STREQ(buf, "[Quorvane][MySQL Driver][MySQL]caf\xC3\xA9");
    EXPECT_EQ(len, (SQLSMALLINT)strlen(buf));
    ASSERT_EQ(SQLGetDiagFieldW(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, buf, sizeof buf,
                               &len),
              SQL_SUCCESS);
    EXPECT_STREQ(buf, "[Quorvane][MySQL Driver][MySQL]caf\xC3\xA9");
}

TEST_F(diag, Fields)
{
    SQLINTEGER n = -1;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_NUMBER, &n, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(n, 0);
    post_error(stmt, ST_08S01, 0, nullptr);
    post_error(stmt, ST_IM008, 0, nullptr);
    post_error(stmt, ST_22003, 0, nullptr);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_NUMBER, &n, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(n, 3);

    struct {
        int rec;
        SQLSMALLINT id;
        const char *want;
    } text_cases[] = {
        {1, SQL_DIAG_SQLSTATE, "IM008"},
        {1, SQL_DIAG_CLASS_ORIGIN, "ODBC 3.0"},
        {1, SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"},
        {2, SQL_DIAG_SQLSTATE, "22003"},
        {2, SQL_DIAG_CLASS_ORIGIN, "ISO 9075"},
        {2, SQL_DIAG_SUBCLASS_ORIGIN, "ISO 9075"},
        {3, SQL_DIAG_CLASS_ORIGIN, "ISO 9075"},
        {3, SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"},
        {3, SQL_DIAG_SERVER_NAME, ""},
        {3, SQL_DIAG_DYNAMIC_FUNCTION, ""},
    };
    for (auto &c : text_cases) {
        char buf[64] = "?";
        SQLSMALLINT len = -1;
        EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)c.rec, c.id, buf, sizeof buf,
                                  &len),
                  SQL_SUCCESS)
            << c.id;
        EXPECT_STREQ(buf, c.want) << c.id;
        EXPECT_EQ(len, (SQLSMALLINT)strlen(c.want));

        SQLWCHAR wbuf[64];
        EXPECT_EQ(SQLGetDiagFieldW(SQL_HANDLE_STMT, stmt, (SQLSMALLINT)c.rec, c.id, wbuf,
                                   sizeof wbuf, &len),
                  SQL_SUCCESS);
        EXPECT_EQ(len, (SQLSMALLINT)(2 * strlen(c.want)));   // bytes in the wide form
    }

    char name[64];
    SQLSMALLINT len;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_CONNECTION_NAME, name,
                              sizeof name, &len),
              SQL_SUCCESS);
    EXPECT_EQ(std::string(name).rfind("NetConn: ", 0), 0u);

    SQLINTEGER col = 0;
    SQLLEN row = -1;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_COLUMN_NUMBER, &col, 0, &len),
              SQL_SUCCESS);
    EXPECT_EQ(col, -1);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_ROW_NUMBER, &row, 0, &len),
              SQL_SUCCESS);
    EXPECT_EQ(row, 0);

    // record fields need a record number of at least 1 and an existing record
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_SQLSTATE, name, 64, &len),
              SQL_ERROR);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 9, SQL_DIAG_SQLSTATE, name, 64, &len),
              SQL_NO_DATA);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_RETURNCODE, name, 64, &len),
              SQL_ERROR);
    // statement-only header fields
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, conn, 0, SQL_DIAG_CURSOR_ROW_COUNT, &row, 0, &len),
              SQL_ERROR);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_CURSOR_ROW_COUNT, &row, 0, &len),
              SQL_SUCCESS);
    // an environment has no connection name
    post_error(env, ST_HY000, 0, nullptr);
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_ENV, env, 1, SQL_DIAG_CONNECTION_NAME, name, 64, &len),
              SQL_ERROR);

    // truncation of a field reports the full length
    char small[4];
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, small, sizeof small,
                              &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(small, "[Qu");
    EXPECT_GT(len, 30);
}
