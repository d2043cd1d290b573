// The connect entry points with DSNs from a private odbc.ini, prompting
// through a scripted setup library, and SQLDisconnect's reset.
//
// Every DSN names 127.0.0.1 port 1 where a server is needed: nothing listens
// there, so whichever logon is linked in fails at once, and the tests look at
// the settings the connect left behind and at the prompting around it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <iterator>
#include <string>
#include <vector>

#include "connect/my_connect.h"
#include "frame/my_handle.h"
#include "setup_stub/fake_setup.h"
#include "unit/ini_sandbox.h"
#include "support/unit_support.h"

namespace {

std::string text_of(const my_string *s) { return unit_support::latin1_of(s); }

std::vector<uint16_t> units_of(const my_string *s)
{
    return s ? std::vector<uint16_t>(s->data, s->data + s->length) : std::vector<uint16_t>{};
}

std::vector<SQLWCHAR> wide(const char *s)
{
    std::vector<SQLWCHAR> w(s, s + strlen(s));
    w.push_back(0);
    return w;
}

struct diag {
    std::string state, message;
    int native;
};

struct connect_fixture : ::testing::Test {
    SQLHENV henv = SQL_NULL_HENV;
    SQLHDBC hdbc = SQL_NULL_HDBC;
    my_connection *c = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv), SQL_SUCCESS);
        SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc), SQL_SUCCESS);
        c = as_conn(hdbc);
    }
    void TearDown() override
    {
        c->hdr.log_flags = 0;
        SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
        SQLFreeHandle(SQL_HANDLE_ENV, henv);
    }
    SQLRETURN connect(const char *dsn, const char *uid, int uid_len, const char *pwd = nullptr)
    {
        return SQLConnect(hdbc, (SQLCHAR *)dsn, SQL_NTS, (SQLCHAR *)uid, (SQLSMALLINT)uid_len,
                          (SQLCHAR *)pwd, SQL_NTS);
    }
    SQLRETURN driver_connect(const char *in, SQLUSMALLINT completion = SQL_DRIVER_NOPROMPT,
                             void *window = nullptr)
    {
        return SQLDriverConnect(hdbc, (SQLHWND)window, (SQLCHAR *)in, SQL_NTS, nullptr, 0,
                                nullptr, completion);
    }
    diag first_diag()
    {
        diag_record *r = diag_get(c, 1);
        if (!r)
            return {"", "", 0};
        return {text_of(r->sqlstate), text_of(r->message), r->native};
    }
};

const char *const NO_SERVER_TEXT =
    "[Quorvane][MySQL Driver][MySQL]General error: server name not specified";

} // namespace

using DsnConnect = connect_fixture;

// Logging's "error"/"onerror" are words in some readers and not in others;
// Encrypt's "optional" means optional TLS in every reader.
TEST_F(DsnConnect, ValueWordsDependOnTheReader)
{
    std::string log = ini_sandbox_dir() + "/trace.log";
    ini_set_dsn("qv_words", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Encrypt", "optional"},
                             {"Logging", "error"}, {"LogFile", log.c_str()}});
    ini_set_dsn("qv_words2", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Logging", "onerror"},
                              {"LogFile", log.c_str()}});
    struct tc {
        bool sqlconnect;
        const char *dsn;
        int encrypt;
        uint32_t mask;
    } cases[] = {
        {true, "qv_words", 2, 95},
        {false, "qv_words", 2, 95},
        {true, "qv_words2", 0, 95},
        {false, "qv_words2", 0, 0},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(testing::Message() << t.dsn << (t.sqlconnect ? " SQLConnect" : " SQLDriverConnect"));
        c->hdr.log_flags = 0;
        c->LogFile[0] = 0;
        std::string in = std::string("DSN=") + t.dsn;
        SQLRETURN rc = t.sqlconnect ? connect(t.dsn, nullptr, 0) : driver_connect(in.c_str());
        EXPECT_EQ(rc, SQL_ERROR);   // nothing listens on port 1
        EXPECT_EQ(c->Encrypt, t.encrypt);
        EXPECT_EQ(c->hdr.log_flags, t.mask);
        EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");
        EXPECT_EQ(c->PORT, 1);
        c->hdr.log_flags = 0;
    }
}

TEST_F(DsnConnect, UserArgumentsComeBeforeTheDsn)
{
    ini_set_dsn("qv_user", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"User", "dsnuser"},
                            {"Password", "dsnpass"}});
    struct tc {
        const char *uid;
        int uid_len;
        const char *pwd;
        const char *want_uid, *want_pwd;
    } cases[] = {
        {nullptr, 0, nullptr, "dsnuser", "dsnpass"},   // null: the DSN's
        {"", 0, "", "dsnuser", "dsnpass"},             // empty: not given either
        {"app", SQL_NTS, "secret", "app", "secret"},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.want_uid);
        EXPECT_EQ(connect("qv_user", t.uid, t.uid_len, t.pwd), SQL_ERROR);
        EXPECT_EQ(text_of(c->UID), t.want_uid);
        EXPECT_EQ(text_of(c->PWD), t.want_pwd);
    }
}

// A DSN written with UID, PWD and DB, as guides write it, is read under both
// readers; User, Password and Database win when both spellings are there.
TEST_F(DsnConnect, DsnKeysUnderTheirOtherSpellings)
{
    ini_set_dsn("qv_alias", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"UID", "alias_user"},
                             {"PWD", "alias_pw"}, {"DB", "alias_db"}});
    ini_set_dsn("qv_both", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"UID", "alias_user"},
                            {"User", "own_user"}, {"PWD", "alias_pw"}, {"Password", "own_pw"},
                            {"DB", "alias_db"}, {"Database", "own_db"}});
    struct tc {
        bool sqlconnect;
        const char *in;
        const char *uid, *pwd, *db;
    } cases[] = {
        {true, "qv_alias", "alias_user", "alias_pw", "alias_db"},
        {false, "DSN=qv_alias", "alias_user", "alias_pw", "alias_db"},
        {true, "qv_both", "own_user", "own_pw", "own_db"},
        {false, "DSN=qv_both", "own_user", "own_pw", "own_db"},
        {false, "DSN=qv_alias;USER=cs_user;DB=cs_db", "cs_user", "alias_pw", "cs_db"},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.in);
        SQLRETURN rc = t.sqlconnect ? connect(t.in, "", 0, "") : driver_connect(t.in);
        EXPECT_EQ(rc, SQL_ERROR);   // nothing listens on port 1
        EXPECT_EQ(text_of(c->UID), t.uid);
        EXPECT_EQ(text_of(c->PWD), t.pwd);
        EXPECT_EQ(text_of(c->DATABASE), t.db);
    }
}

TEST_F(DsnConnect, MissingDsnMeansNoServer)
{
    ini_remove_dsn("qv_nowhere");
    struct tc {
        const char *entry;
        int native;
    } cases[] = {{"SQLConnect", 0}, {"SQLDriverConnect", 68}, {"SQLDriverConnectW", 61}};
    for (const tc &t : cases) {
        SCOPED_TRACE(t.entry);
        SQLRETURN rc;
        if (!strcmp(t.entry, "SQLConnect")) {
            rc = connect("qv_nowhere", nullptr, 0);
        } else if (!strcmp(t.entry, "SQLDriverConnect")) {
            rc = driver_connect("DSN=qv_nowhere");
        } else {
            std::vector<SQLWCHAR> in = wide("DSN=qv_nowhere");
            rc = SQLDriverConnectW(hdbc, nullptr, in.data(), SQL_NTS, nullptr, 0, nullptr,
                                   SQL_DRIVER_NOPROMPT);
        }
        EXPECT_EQ(rc, SQL_ERROR);
        ASSERT_EQ(diag_count(c), 1);
        diag d = first_diag();
        EXPECT_EQ(d.state, "HY000");
        EXPECT_EQ(d.native, t.native);
        EXPECT_EQ(d.message, NO_SERVER_TEXT);
    }
}

TEST_F(DsnConnect, ConnectionStringOverDsnOverDefault)
{
    std::string log = ini_sandbox_dir() + "/prec.log";
    ini_set_dsn("qv_prec", {{"Server", "127.0.0.1"}, {"Port", "7"}, {"User", "du"},
                            {"Database", "ddb"}, {"PacketSize", "8192"}, {"ipv6", "yes"},
                            {"LogFile", log.c_str()}, {"SOKEEPALIVE", "2"}});
    EXPECT_EQ(driver_connect("DSN=qv_prec;PORT=1;UID=cs;IPV6=no"), SQL_ERROR);
    EXPECT_EQ(c->PORT, 1);
    EXPECT_EQ(text_of(c->UID), "cs");
    EXPECT_EQ(text_of(c->DATABASE), "ddb");
    EXPECT_EQ(c->IPV6, 0);
    EXPECT_EQ(c->PacketSize, 8192);   // "not given" and 0 alike take the DSN's
    EXPECT_EQ(c->SOKEEPALIVE, 2);
    EXPECT_EQ(std::string(c->LogFile), log);
    EXPECT_EQ(text_of(c->PWD), "<null>");

    EXPECT_EQ(driver_connect("DSN=qv_prec;PORT=1;LOGFILE=/dev/null"), SQL_ERROR);
    EXPECT_EQ(std::string(c->LogFile), "/dev/null");
}

// The security keys from a DSN, under both readers; LocalInfile is on when
// nothing says otherwise, the connection string overrides the DSN.
TEST_F(DsnConnect, SecurityKeysFromTheDsn)
{
    ini_set_dsn("qv_guard", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"LocalInfile", "0"},
                             {"EnableCleartextPlugin", "yes"},
                             {"HostNameInCertificate", "db.example.com"}});
    ini_set_dsn("qv_plain", {{"Server", "127.0.0.1"}, {"Port", "1"}});
    struct tc {
        bool sqlconnect;
        const char *in;
        int local_infile, cleartext;
        const char *host_name;
    } cases[] = {
        {true, "qv_guard", 0, 1, "db.example.com"},
        {false, "DSN=qv_guard", 0, 1, "db.example.com"},
        {false, "DSN=qv_guard;LocalInfile=1;EnableCleartextPlugin=0", 1, 0, "db.example.com"},
        {true, "qv_plain", 1, 0, "<null>"},
        {false, "DSN=qv_plain", 1, 0, "<null>"},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.in);
        SQLRETURN rc = t.sqlconnect ? connect(t.in, nullptr, 0) : driver_connect(t.in);
        EXPECT_EQ(rc, SQL_ERROR);   // nothing listens on port 1
        EXPECT_EQ(c->LocalInfile, t.local_infile);
        EXPECT_EQ(c->EnableCleartextPlugin, t.cleartext);
        EXPECT_EQ(text_of(c->HostNameInCertificate), t.host_name);
    }
}

// The setup dialog's test logon: the record's fields hold, and what the
// record has no field for (a key added to the table after it) comes from the
// DSN the record names.
TEST_F(DsnConnect, TestLogonTakesWhatTheRecordCannotCarryFromTheDsn)
{
    ini_set_dsn("qv_guard", {{"Server", "stored.example.com"}, {"Port", "1"},
                             {"LocalInfile", "0"}, {"EnableCleartextPlugin", "yes"},
                             {"HostNameInCertificate", "db.example.com"}, {"GSSFLAG", "6"}});
    my_prompt rec{};
    strcpy(rec.DSN, "qv_guard");
    strcpy(rec.SERVER, "127.0.0.1");
    ASSERT_EQ(setup_apply(c, &rec), 0);
    ASSERT_EQ(complete_unprompted_from_dsn(c), 0);
    EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");   // the record's own fields win
    EXPECT_EQ(c->PORT, 0);
    EXPECT_EQ(c->LocalInfile, 0);
    EXPECT_EQ(c->EnableCleartextPlugin, 1);
    EXPECT_EQ(text_of(c->HostNameInCertificate), "db.example.com");
    EXPECT_EQ(c->GSSFLAG, 6);

    strcpy(rec.DSN, "qv_no_such_dsn");   // nothing stored: the defaults stay
    ASSERT_EQ(setup_apply(c, &rec), 0);
    c->LocalInfile = 1;
    ASSERT_EQ(complete_unprompted_from_dsn(c), 0);
    EXPECT_EQ(c->LocalInfile, 1);
}

// odbc.ini holds narrow text; the DSN's own ConvToUtf says it is UTF-8.
// DSN text is UTF-8 when ConvToUtf says so or when its bytes are
// well-formed UTF-8; Latin-1 bytes stay Latin-1.
TEST_F(DsnConnect, DsnTextFollowsItsConvToUtfOrItsBytes)
{
    ini_set_dsn("qv_utf8", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Password", "p\xC3\xA4ss"},
                            {"ConvToUtf", "yes"}});
    ini_set_dsn("qv_plain", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Password", "p\xC3\xA4ss"}});
    ini_set_dsn("qv_latin", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Password", "p\xE4ss"}});
    for (const char *dsn : {"qv_utf8", "qv_plain", "qv_latin"}) {
        SCOPED_TRACE(dsn);
        EXPECT_EQ(connect(dsn, nullptr, 0), SQL_ERROR);
        EXPECT_EQ(units_of(c->PWD), (std::vector<uint16_t>{'p', 0xE4, 's', 's'}));
        EXPECT_EQ(driver_connect((std::string("DSN=") + dsn).c_str()), SQL_ERROR);
        EXPECT_EQ(units_of(c->PWD), (std::vector<uint16_t>{'p', 0xE4, 's', 's'}));
    }
}

// A key list longer than the installer's buffer, and a value longer than 511
// bytes, are read whole rather than silently cut.
TEST_F(DsnConnect, LargeSectionsAndValuesAreReadWhole)
{
    std::string section = "[qv_large]\n";
    for (int i = 0; i < 700; i++)
        section += "Filler_key_number_" + std::to_string(i) + "=x\n";
    std::string mode(700, 'M');
    section += "SQLMode=" + mode + "\nServer=127.0.0.1\nPort=1\n";
    ini_remove_dsn("qv_large");
    ini_append_raw(section);
    for (bool sqlconnect : {true, false}) {
        SQLRETURN rc = sqlconnect ? connect("qv_large", nullptr, 0) : driver_connect("DSN=qv_large");
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");
        EXPECT_EQ(text_of(c->SQLMode), mode);
    }
    ini_remove_dsn("qv_large");
}

// Settings of an earlier attempt on the handle never leak into the next.
TEST_F(DsnConnect, SqlConnectStartsFromNothing)
{
    ini_set_dsn("qv_a", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"PrivateKeyFile", "/k.pem"},
                         {"Compress", "yes"}});
    ini_set_dsn("qv_b", {{"Socket", "/tmp/qv.sock"}});
    EXPECT_EQ(connect("qv_a", nullptr, 0), SQL_ERROR);
    EXPECT_EQ(text_of(c->PrivateKeyFile), "/k.pem");
    EXPECT_EQ(connect("qv_b", nullptr, 0), SQL_ERROR);
    EXPECT_EQ(text_of(c->PrivateKeyFile), "<null>");
    EXPECT_EQ(text_of(c->SERVER), "<null>");
    EXPECT_EQ(text_of(c->SOCKET), "/tmp/qv.sock");
    EXPECT_EQ(c->Compress, 0);
    EXPECT_EQ(c->PORT, 0);
}

TEST_F(DsnConnect, WideArgumentsAndDsn)
{
    ini_set_dsn("qv_wide", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"User", "dsnuser"}});
    std::vector<SQLWCHAR> dsn = wide("qv_wide"), pwd = wide("pw");
    EXPECT_EQ(SQLConnectW(hdbc, dsn.data(), SQL_NTS, nullptr, 0, pwd.data(), 2), SQL_ERROR);
    EXPECT_EQ(text_of(c->DSN), "qv_wide");
    EXPECT_EQ(text_of(c->UID), "dsnuser");
    EXPECT_EQ(text_of(c->PWD), "pw");
    EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");
}

TEST_F(DsnConnect, DisconnectResetsTheHandle)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &stmt), SQL_SUCCESS);
    SQLHDESC desc = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, hdbc, &desc), SQL_SUCCESS);
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1;UID=u;PacketSize=4096;Compress=yes;"
                             "IPV6=yes;LogonTimeout=100"),
              SQL_ERROR);
    c->login_timeout = 5;
    EXPECT_EQ(c->auto_ipd, 0);

    EXPECT_EQ(SQLDisconnect(hdbc), SQL_SUCCESS);
    EXPECT_EQ(diag_count(c), 0);
    EXPECT_EQ(c->statements, nullptr);   // statements and descriptors went with it
    for (const setting_row &r : setting_table)
        if (r.form == FORM_TEXT) {
            EXPECT_EQ(c->*(r.text), nullptr) << r.keyword;
        }
    EXPECT_EQ(c->PacketSize, 0);
    EXPECT_EQ(c->Compress, 0);
    EXPECT_EQ(c->LogonTimeout, 0);
    EXPECT_EQ(c->IPV6, 1);   // set again by the next connect, kept until then
    EXPECT_EQ(c->login_timeout, 0);
    EXPECT_EQ(c->auto_ipd, 1);
    EXPECT_EQ(c->sock, -1);
    EXPECT_EQ(c->connected, 0);
    EXPECT_EQ(c->statement_counter, 0);

    // and the handle connects again
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1"), SQL_ERROR);
    EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");
}

// SQLDriverConnect's reset keeps what the application set on the handle
// before connecting (the driver manager replays such attributes then).
TEST_F(DsnConnect, LoginTimeoutAttributeSurvivesTheReset)
{
    c->login_timeout = 3;
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1;LogonTimeout=100"), SQL_ERROR);
    EXPECT_EQ(c->login_timeout, 3);
    EXPECT_EQ(c->effective_logon_timeout, 3000);
    c->login_timeout = 0;
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1;LogonTimeout=100"), SQL_ERROR);
    EXPECT_EQ(c->effective_logon_timeout, 100);
}

TEST_F(DsnConnect, PendingAsyncOperationRefusesTheCall)
{
    c->async_count = 1;
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1"), SQL_ERROR);
    EXPECT_EQ(first_diag().state, "HY010");
    EXPECT_EQ(c->SERVER, nullptr);
    c->async_count = 0;
    EXPECT_EQ(SQLConnect(nullptr, nullptr, 0, nullptr, 0, nullptr, 0), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLDriverConnect(henv, nullptr, nullptr, 0, nullptr, 0, nullptr, 0),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLDisconnect(nullptr), SQL_INVALID_HANDLE);
}

// ------------------------------------------------------------- prompting

namespace {

enum answer { ANSWER_SERVER, ANSWER_NO_SERVER, CANCEL };

struct prompt_fixture : connect_fixture {
    void *lib = nullptr;
    fake_setup_state *fake = nullptr;
    int window_dummy = 0;

    void SetUp() override
    {
        connect_fixture::SetUp();
        lib = dlopen(QV_FAKE_SETUP_DIR "/libqvmysqlS.so", RTLD_NOW);
        ASSERT_NE(lib, nullptr) << dlerror();
        fake = ((fake_setup_fn)dlsym(lib, "fake_setup"))();
        memset(fake, 0, sizeof *fake);
        ini_set_setup(QV_FAKE_SETUP_DIR "/libqvmysqlS.so");
    }
    void TearDown() override
    {
        ini_set_setup("");
        if (lib)
            dlclose(lib);
        connect_fixture::TearDown();
    }
    void script(std::initializer_list<answer> answers)
    {
        int i = 0;
        for (answer a : answers) {
            fake->results[i] = a == CANCEL ? SQL_NO_DATA : 0;
            my_prompt &p = fake->answers[i];
            if (a == ANSWER_SERVER) {
                strcpy(p.SERVER, "127.0.0.1");
                p.PORT = 1;
            }
            strcpy(p.UID, "prompted");
            i++;
        }
        for (; i < FAKE_MAX_CALLS; i++)
            fake->results[i] = SQL_NO_DATA;
    }
};

} // namespace

using Prompt = prompt_fixture;

TEST_F(Prompt, ConnectLoop)
{
    struct tc {
        const char *name, *in;
        SQLUSMALLINT completion;
        bool window;
        std::initializer_list<answer> answers;
        SQLRETURN rc;
        const char *calls;
        const char *state;   // first diagnostic, "" for none, "*" for any
        int native;
    } cases[] = {
        {"complete asks for a missing server", "UID=u", SQL_DRIVER_COMPLETE, true,
         {ANSWER_SERVER}, SQL_ERROR, "info", "*", 0},
        {"prompt asks first, even with a server", "SERVER=a;PORT=1", SQL_DRIVER_PROMPT, true,
         {ANSWER_SERVER}, SQL_ERROR, "info", "*", 0},
        {"a failed connect is shown, then asked about", "SERVER=127.0.0.1;PORT=1",
         SQL_DRIVER_COMPLETE, true, {CANCEL}, SQL_NO_DATA, "error,info", "", 0},
        {"without a window nothing is shown after a failure", "SERVER=127.0.0.1;PORT=1",
         SQL_DRIVER_COMPLETE, false, {}, SQL_ERROR, "", "*", 0},
        {"without a window one prompt is all", "UID=u", SQL_DRIVER_COMPLETE, false,
         {ANSWER_NO_SERVER, ANSWER_NO_SERVER}, SQL_ERROR, "info", "HY000", 68},
        {"with a window it asks until it has a server", "UID=u", SQL_DRIVER_COMPLETE_REQUIRED,
         true, {ANSWER_NO_SERVER, CANCEL}, SQL_NO_DATA, "info,info", "", 0},
        {"noprompt never asks", "UID=u", SQL_DRIVER_NOPROMPT, true, {ANSWER_SERVER}, SQL_ERROR,
         "", "HY000", 68},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.name);
        memset(fake, 0, sizeof *fake);
        script(t.answers);
        EXPECT_EQ(driver_connect(t.in, t.completion, t.window ? &window_dummy : nullptr), t.rc);
        EXPECT_STREQ(fake->log, t.calls);
        if (!strcmp(t.state, "")) {
            EXPECT_EQ(diag_count(c), 0);
        } else {
            ASSERT_GE(diag_count(c), 1);
            if (strcmp(t.state, "*")) {
                EXPECT_EQ(first_diag().state, t.state);
                EXPECT_EQ(first_diag().native, t.native);
            }
        }
        if (fake->info_calls > 0) {
            EXPECT_EQ(fake->windows[0], t.window ? &window_dummy : nullptr);
        }
    }
}

TEST_F(Prompt, AnswersReplaceTheSettings)
{
    script({ANSWER_SERVER});
    EXPECT_EQ(driver_connect("UID=u;SERVER=old;GSSFLAG=4", SQL_DRIVER_PROMPT, &window_dummy),
              SQL_ERROR);
    EXPECT_EQ(text_of(c->SERVER), "127.0.0.1");
    EXPECT_EQ(text_of(c->UID), "prompted");
    EXPECT_EQ(c->PORT, 1);
    EXPECT_EQ(c->GSSFLAG, 4);   // not in the record: kept
}

// Every field of the prompt record lands on the setting it always did (the
// list the driver applied the record by, kept here as the expected value).
TEST_F(DsnConnect, PromptRecordFieldsLandOnTheirSettings)
{
    static const struct {
        size_t offset;
        setting_id id;
    } texts[] = {
        {offsetof(my_prompt, DSN), SET_DSN}, {offsetof(my_prompt, UID), SET_UID},
        {offsetof(my_prompt, PWD), SET_PWD}, {offsetof(my_prompt, SERVER), SET_SERVER},
        {offsetof(my_prompt, SOCKET), SET_SOCKET}, {offsetof(my_prompt, SQLMode), SET_SQLMode},
        {offsetof(my_prompt, DATABASE), SET_DATABASE}, {offsetof(my_prompt, Entropy), SET_Entropy},
        {offsetof(my_prompt, character_set_client), SET_character_set_client},
        {offsetof(my_prompt, character_set_results), SET_character_set_results},
        {offsetof(my_prompt, collation_connection), SET_collation_connection},
        {offsetof(my_prompt, PrivateKeyFile), SET_PrivateKeyFile},
        {offsetof(my_prompt, CertificateFile), SET_CertificateFile},
        {offsetof(my_prompt, PublicKeyFile), SET_PublicKeyFile},
        {offsetof(my_prompt, WindowsUser), SET_WindowsUser},
        {offsetof(my_prompt, Principal), SET_Principal},
    }, numbers[] = {
        {offsetof(my_prompt, PORT), SET_PORT}, {offsetof(my_prompt, IPV6), SET_IPV6},
        {offsetof(my_prompt, ConvToUtf), SET_ConvToUtf},
        {offsetof(my_prompt, ConvWToUtf), SET_ConvWToUtf},
        {offsetof(my_prompt, LogonTimeout), SET_LogonTimeout},
        {offsetof(my_prompt, ConnectionTimeout), SET_ConnectionTimeout},
        {offsetof(my_prompt, RCVBUFFER), SET_RCVBUFFER}, {offsetof(my_prompt, Encrypt), SET_Encrypt},
        {offsetof(my_prompt, Compress), SET_Compress},
        {offsetof(my_prompt, TrustServerCertificate), SET_TrustServerCertificate},
        {offsetof(my_prompt, Text_Prepare), SET_Text_Prepare},
        {offsetof(my_prompt, NoCache), SET_NoCache}, {offsetof(my_prompt, ReqCharSet), SET_ReqCharSet},
        {offsetof(my_prompt, AnsiMode), SET_AnsiMode}, {offsetof(my_prompt, NTLMv2), SET_NTLMv2},
        {offsetof(my_prompt, Kerberos), SET_Kerberos},
        {offsetof(my_prompt, NullDatetimes), SET_NullDatetimes},
    };
    my_prompt rec{};
    int32_t n = 100;
    for (const auto &t : texts)
        snprintf((char *)&rec + t.offset, PROMPT_TEXT_SIZE, "v%d", (int)t.id);
    for (const auto &f : numbers)
        memcpy((char *)&rec + f.offset, &(n = 100 + f.id), sizeof n);
    ASSERT_EQ(setup_apply(c, &rec), 0);
    for (const auto &t : texts)
        EXPECT_EQ(text_of(c->*(setting_table[t.id].text)), "v" + std::to_string(t.id))
            << setting_table[t.id].keyword;
    for (const auto &f : numbers)
        EXPECT_EQ(c->*(setting_table[f.id].number), 100 + f.id) << setting_table[f.id].keyword;
    // and nothing else: a setting the record has no field for keeps its value
    int with_field = 0;
    for (const setting_row &r : setting_table)
        with_field += r.prompt_at >= 0;
    EXPECT_EQ(with_field, (int)(std::size(texts) + std::size(numbers)));
}

TEST_F(Prompt, CancelChangesNothing)
{
    script({CANCEL});
    EXPECT_EQ(driver_connect("SERVER=a;UID=u", SQL_DRIVER_PROMPT, &window_dummy), SQL_NO_DATA);
    EXPECT_EQ(diag_count(c), 0);
    EXPECT_EQ(text_of(c->SERVER), "a");
    EXPECT_EQ(text_of(c->UID), "u");
}

// One zero-filled record per call, handed to every prompt of that call.
TEST_F(Prompt, OneRecordPerCall)
{
    script({ANSWER_NO_SERVER, CANCEL});
    EXPECT_EQ(driver_connect("UID=u", SQL_DRIVER_COMPLETE, &window_dummy), SQL_NO_DATA);
    ASSERT_EQ(fake->info_calls, 2);
    EXPECT_TRUE(fake->first_record_zero);
    EXPECT_EQ(fake->records[0], fake->records[1]);
}

TEST_F(Prompt, ErrorDisplayShowsEveryMessage)
{
    script({CANCEL});
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1", SQL_DRIVER_COMPLETE, &window_dummy),
              SQL_NO_DATA);
    ASSERT_EQ(fake->error_calls, 1);
    std::string shown = fake->error_text;
    EXPECT_EQ(shown.rfind(QV_MSG_PREFIX, 0), 0u) << shown;
    EXPECT_EQ(shown.back(), '\n');
}

// Where the setup library is looked for: the Setup value's directory, then
// the default search (which finds the scripted library through the test
// program's run path). A library without the export is not used.
TEST_F(Prompt, FindingTheSetupLibrary)
{
    struct tc {
        std::string setup;
        bool reached;
    } cases[] = {
        {QV_FAKE_SETUP_DIR "/libqvmysqlS.so", true},
        {QV_FAKE_SETUP_DIR, true},
        {QV_FAKE_SETUP_DIR "/", true},
        {"", true},
        {"/nonexistent/libqvmysqlS.so", true},
        {QV_FAKE_SETUP_EMPTY_DIR "/libqvmysqlS.so", false},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.setup);
        memset(fake, 0, sizeof *fake);
        script({CANCEL});
        ini_set_setup(t.setup);
        testing::internal::CaptureStderr();
        SQLRETURN rc = driver_connect("UID=u", SQL_DRIVER_COMPLETE, &window_dummy);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, SQL_NO_DATA);
        EXPECT_EQ(diag_count(c), 0);
        EXPECT_EQ(fake->info_calls, t.reached ? 1 : 0);
        if (t.reached) {
            EXPECT_EQ(err, "");
        }
        else
            EXPECT_NE(err.find("Unable to load setup library (libqvmysqlS.so)"),
                      std::string::npos)
                << err;
    }
}

TEST_F(Prompt, ApplyTakesEveryCarriedField)
{
    c->SERVER = ms_from_latin1("old");
    c->PacketSize = 4096;
    c->SOKEEPALIVE = 1;
    c->TimeAsTime = 1;
    c->hdr.log_flags = 0;
    strcpy(c->LogFile, "/dev/null");
    c->GSSLIB = ms_from_latin1("gss");

    my_prompt rec{};
    strcpy(rec.SOCKET, "/tmp/s");          // an empty SERVER clears the old one
    strcpy(rec.DSN, "d");
    strcpy(rec.SQLMode, "ANSI");
    strcpy(rec.Principal, "p@R");
    memset(rec.DATABASE, 'x', sizeof rec.DATABASE);   // unterminated: bounded by its size
    rec.PORT = 3307;
    rec.Encrypt = 2;
    rec.NullDatetimes = 1;
    rec.Kerberos = 1;
    rec.NTLMv2 = 1;
    rec.ConvWToUtf = 1;
    ASSERT_EQ(setup_apply(c, &rec), 0);

    EXPECT_EQ(c->SERVER, nullptr);
    EXPECT_EQ(text_of(c->SOCKET), "/tmp/s");
    EXPECT_EQ(text_of(c->DSN), "d");
    EXPECT_EQ(text_of(c->SQLMode), "ANSI");
    EXPECT_EQ(text_of(c->Principal), "p@R");
    EXPECT_EQ(text_of(c->DATABASE), std::string(PROMPT_TEXT_SIZE, 'x'));
    EXPECT_EQ(c->UID, nullptr);
    EXPECT_EQ(c->PORT, 3307);
    EXPECT_EQ(c->Encrypt, 2);
    EXPECT_EQ(c->NullDatetimes, 1);
    EXPECT_EQ(c->Kerberos, 1);
    EXPECT_EQ(c->NTLMv2, 1);
    EXPECT_EQ(c->ConvWToUtf, 1);
    EXPECT_EQ(c->Compress, 0);
    // not carried by the record: kept
    EXPECT_EQ(c->PacketSize, 4096);
    EXPECT_EQ(c->SOKEEPALIVE, 1);
    EXPECT_EQ(c->TimeAsTime, 1);
    EXPECT_EQ(std::string(c->LogFile), "/dev/null");
    EXPECT_EQ(text_of(c->GSSLIB), "gss");

    // answers come back in the encoding the dialog was given
    c->ConvToUtf = 1;
    my_prompt utf{};
    strcpy(utf.UID, "caf\xC3\xA9");
    ASSERT_EQ(setup_apply(c, &utf), 0);
    EXPECT_EQ(units_of(c->UID), (std::vector<uint16_t>{'c', 'a', 'f', 0xE9}));
}

TEST_F(Prompt, ErrorTextIsBounded)
{
    for (int i = 0; i < 40; i++)
        post_error(c, ST_HY000, i, "%s", std::string(60, 'e').c_str());
    char text[1024];
    memset(text, 'Z', sizeof text);
    collect_diag_text(c, text, sizeof text);
    EXPECT_EQ(strlen(text), 1023u);
    std::string first = text_of(diag_get(c, 1)->message) + "\n";
    EXPECT_EQ(std::string(text).substr(0, first.size()), first);
    clear_diagnostics(c);
    collect_diag_text(c, text, sizeof text);
    EXPECT_STREQ(text, "");
}

// The trace log shows where a password went, never the password.
TEST_F(DsnConnect, TraceLogNeverShowsThePassword)
{
    std::string log = ini_sandbox_dir() + "/password.log";
    ini_set_dsn("qv_pw", {{"Server", "127.0.0.1"}, {"Port", "1"}, {"Password", "dsn-s3cret"}});
    c->hdr.log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR;
    snprintf(c->LogFile, sizeof c->LogFile, "%s", log.c_str());
    EXPECT_EQ(driver_connect("SERVER=127.0.0.1;PORT=1;PWD=cs-s3cret;UID=u"), SQL_ERROR);
    EXPECT_EQ(connect("qv_pw", "u", SQL_NTS, "arg-s3cret"), SQL_ERROR);
    EXPECT_EQ(connect("qv_pw", "u", SQL_NTS), SQL_ERROR);
    std::vector<SQLWCHAR> dsn = wide("qv_pw"), pwd = wide("w-s3cret");
    EXPECT_EQ(SQLConnectW(hdbc, dsn.data(), SQL_NTS, nullptr, 0, pwd.data(), SQL_NTS), SQL_ERROR);
    c->hdr.log_flags = 0;

    FILE *f = fopen(log.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    fclose(f);
    if (getenv("QV_SHOW_TRACE"))
        fprintf(stderr, "%s", text.c_str());
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    EXPECT_NE(text.find("PWD=****"), std::string::npos);
    EXPECT_NE(text.find("SQLDriverConnect: Password found in connect string"), std::string::npos);
    EXPECT_NE(text.find("SQLConnect: Password found in ini file"), std::string::npos);
    EXPECT_NE(text.find("[SQLConnectWide.cpp:"), std::string::npos);
}

// On a fresh handle the MySQLUTF preset decides how SQLDriverConnectW reads
// its own argument; the connect then replaces it with the settings' value.
TEST(WideConnect, MySQLUTFPresetReadsTheConnectionString)
{
    ini_set_dsn("ODBC", {{"MySQLUTF", "yes"}});
    SQLHENV henv;
    SQLHDBC hdbc;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc), SQL_SUCCESS);
    ini_remove_dsn("ODBC");
    my_connection *c = as_conn(hdbc);
    EXPECT_EQ(c->ConvWToUtf, 1);

    const char in[] = "SERVER=127.0.0.1;PORT=1;UID=J\xC3\xBCrgen";   // UTF-8 bytes
    EXPECT_EQ(SQLDriverConnectW(hdbc, nullptr, (SQLWCHAR *)in, (SQLSMALLINT)strlen(in), nullptr,
                                0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_EQ(units_of(c->UID), (std::vector<uint16_t>{'J', 0xFC, 'r', 'g', 'e', 'n'}));
    EXPECT_EQ(c->ConvWToUtf, 0);
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    SQLFreeHandle(SQL_HANDLE_ENV, henv);
}
