// Connection settings without a DSN: the value forms, the connection-string
// parser, the output connection string and its delivery, password masking,
// and the DSN reading orders.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "connect/my_connect.h"
#include "frame/my_handle.h"
#include "unit/ini_sandbox.h"
#include "support/unit_support.h"

namespace {

std::string text_of(const my_string *s) { return unit_support::latin1_of(s); }

std::string setting_value(const my_connection *c, setting_id id)
{
    const setting_row &r = setting_table[id];
    switch (r.form) {
    case FORM_TEXT: return text_of(c->*(r.text));
    case FORM_LOGGING: return std::to_string(c->hdr.log_flags);
    case FORM_LOGFILE: return c->LogFile;
    default: return std::to_string(c->*(r.number));
    }
}

struct settings_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *c = conn_create(env, 3);

    // What SQLDriverConnect does before the connect loop.
    int parse(const std::string &in)
    {
        my_string *s = ms_from_latin1(in.c_str());
        setting_given given;
        int rc = parse_connect_string(c, s, 0, &given, "SQLDriverConnect");
        if (rc == 0)
            rc = complete_from_dsn(c, given, 0, "SQLDriverConnect");
        ms_free(s);
        return rc;
    }
    std::string out_string()
    {
        my_string *o = build_out_string(c);
        std::string r = text_of(o);
        ms_free(o);
        return r;
    }
    void TearDown() override
    {
        c->hdr.log_flags = 0;   // cases that switch logging on write nothing at release
        env_release(env);
    }
};

} // namespace

using Settings = settings_fixture;

TEST(SettingValues, IntegersBooleansAndEncrypt)
{
    struct tc {
        const char *in;
        int32_t integer, dsn_bool, dsn_encrypt, strict, lenient, encrypt;
    } cases[] = {
        {"12abc", 12, 12, 12, 1, 12, 1},
        {"abc", 0, 0, 0, 0, 0, 0},
        {"", 0, 0, 0, 0, 0, 0},
        {" 42", 42, 42, 42, 1, 42, 1},
        {"-7", -7, -7, -7, 1, -7, 1},
        {"99999999999", INT32_MAX, INT32_MAX, INT32_MAX, 1, INT32_MAX, 1},
        {"-99999999999", INT32_MIN, INT32_MIN, INT32_MIN, 1, INT32_MIN, 1},
        {"yes", 0, 1, 1, 1, 1, 1},
        {"TRUE", 0, 1, 1, 1, 1, 1},
        {"No", 0, 0, 0, 0, 0, 0},
        {"optional", 0, 0, 2, 0, 0, 2},
        {"OPTIONAL", 0, 0, 2, 0, 0, 2},
        {"2", 2, 2, 2, 1, 2, 2},
        {"0", 0, 0, 0, 0, 0, 0},
        {"on", 0, 0, 0, 0, 0, 0},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.in);
        EXPECT_EQ(setting_integer(t.in), t.integer);
        EXPECT_EQ(setting_dsn_bool(t.in, 0), t.dsn_bool);
        EXPECT_EQ(setting_dsn_bool(t.in, 1), t.dsn_encrypt);
        EXPECT_EQ(setting_cs_bool(t.in, BOOL_STRICT), t.strict);
        EXPECT_EQ(setting_cs_bool(t.in, BOOL_LENIENT), t.lenient);
        EXPECT_EQ(setting_encrypt(t.in), t.encrypt);
    }
}

TEST_F(Settings, ConnectionStringKeywords)
{
    struct tc {
        const char *in;
        setting_id id;
        const char *want;
    } cases[] = {
        // first text occurrence wins, last number wins
        {"DSN=x;SERVER=a;SERVER=b", SET_SERVER, "a"},
        {"DSN=x;SERVER=a;SERVER=b", SET_DSN, "x"},
        {"Server=a;SeRvEr=b", SET_SERVER, "a"},
        {"PORT=1;PORT=2", SET_PORT, "2"},
        // braces nest, are kept, and protect ';'
        {"PWD={a;b};UID=u", SET_PWD, "{a;b}"},
        {"PWD={a;b};UID=u", SET_UID, "u"},
        {"PWD={a{;}b};UID=u", SET_PWD, "{a{;}b}"},
        {"PWD={x;UID=u", SET_PWD, "{x;UID=u"},   // an open brace runs to the end
        {"PWD=pa}ss;UID=bob", SET_PWD, "pa}ss"}, // a stray '}' is just a character
        {"PWD=pa}ss;UID=bob", SET_UID, "bob"},
        {"SERVER=a=b", SET_SERVER, "a=b"},
        // the spellings people write: USER, PASSWORD and DB, wherever they
        // stand, give way to UID, PWD and DATABASE
        {"USER=a;SERVER=h", SET_UID, "a"},
        {"user=a;UID=b", SET_UID, "b"},
        {"UID=b;USER=a", SET_UID, "b"},
        {"UID=;USER=a", SET_UID, "a"},
        {"USER=;User=a;USER=c", SET_UID, "a"},
        {"PASSWORD={x;y}", SET_PWD, "{x;y}"},
        {"Password=p;PWD=q", SET_PWD, "q"},
        {"DB=d", SET_DATABASE, "d"},
        {"DB=d;DATABASE=e", SET_DATABASE, "e"},
        {"USERNAME=a", SET_UID, "<null>"},
        // empty values are not given; empty segments and unknown keys are ignored
        {"uid=;UID=v", SET_UID, "v"},
        {";;UID=u;;", SET_UID, "u"},
        {"DRIVER={Quorvane MySQL ODBC Driver};FOO=bar;UID=u", SET_UID, "u"},
        {"UID", SET_UID, "<null>"},
        // keys are taken exactly as written
        {" UID=u", SET_UID, "<null>"},
        {"UID =u", SET_UID, "<null>"},
        {"SERVER= h", SET_SERVER, " h"},
        // integers
        {"PORT=12abc", SET_PORT, "12"},
        {"PORT=abc", SET_PORT, "0"},
        {"PORT=-5", SET_PORT, "0"},
        {"packetsize=4096", SET_PacketSize, "4096"},
        {"GSSFLAG=3;LogonTimeout=1500;ConnectionTimeout=20", SET_LogonTimeout, "1500"},
        // Booleans: strict keys, lenient keys; Encrypt reads as a DSN does
        {"SERVER=h;ENCRYPT=optional", SET_Encrypt, "2"},
        {"SERVER=h;Encrypt=Optional", SET_Encrypt, "2"},
        {"ENCRYPT=2", SET_Encrypt, "2"},
        {"ENCRYPT=yes", SET_Encrypt, "1"},
        {"ENCRYPT=1", SET_Encrypt, "1"},
        {"ENCRYPT=no", SET_Encrypt, "0"},
        {"IPV6=true", SET_IPV6, "1"},
        {"IPV6=maybe", SET_IPV6, "0"},
        {"Compress=0", SET_Compress, "0"},
        {"NullDatetimes=3", SET_NullDatetimes, "3"},
        {"SOKEEPALIVE=no", SET_SOKEEPALIVE, "0"},
        {"ConvWToUTF=7", SET_ConvWToUtf, "7"},
        {"TimeAsTime=YES", SET_TimeAsTime, "1"},
        // LOCAL INFILE is on unless switched off; clear text is off unless switched on
        {"SERVER=h", SET_LocalInfile, "1"},
        {"LocalInfile=0", SET_LocalInfile, "0"},
        {"LOCALINFILE=no", SET_LocalInfile, "0"},
        {"SERVER=h", SET_EnableCleartextPlugin, "0"},
        {"EnableCleartextPlugin=yes", SET_EnableCleartextPlugin, "1"},
        {"HostNameInCertificate=db.example.com", SET_HostNameInCertificate, "db.example.com"},
        // Logging words of a connection string ("error" is not one of them)
        {"LOGGING=error", SET_Logging, "0"},
        {"LOGGING=onerror", SET_Logging, "95"},
        {"logging=On", SET_Logging, "31"},
        {"LOGGING=process", SET_Logging, "63"},
        {"LOGGING=0x18", SET_Logging, "24"},
        {"LOGGING=010", SET_Logging, "8"},
        {"LOGFILE=/tmp/qv.log", SET_LogFile, "/tmp/qv.log"},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.in);
        conn_reset(c);
        c->hdr.log_flags = 0;
        c->LogFile[0] = 0;
        ASSERT_EQ(parse(t.in), 0);
        EXPECT_EQ(setting_value(c, t.id), t.want);
        c->hdr.log_flags = 0;
    }
}

// Numbers the string does not give start from their initial values (0 for
// all but LocalInfile, which is on), not from an earlier connect.
TEST_F(Settings, NumbersNotGivenTakeTheirInitialValues)
{
    ASSERT_EQ(parse("PORT=3307;IPV6=yes;ConvToUTF=yes;RCVBUFFER=5;LocalInfile=0"), 0);
    conn_reset(c);   // keeps PORT, IPV6, ConvToUtf, RCVBUFFER by design
    EXPECT_EQ(c->PORT, 3307);
    ASSERT_EQ(parse("SERVER=h"), 0);
    for (const setting_row &r : setting_table)
        if (setting_is_number(r)) {
            EXPECT_EQ(c->*(r.number), r.id == SET_LocalInfile ? 1 : 0) << r.keyword;
        }
}

TEST_F(Settings, LogFileIsCutTo259Bytes)
{
    std::string path = "/tmp/" + std::string(300, 'a');
    ASSERT_EQ(parse("LOGFILE=" + path), 0);
    EXPECT_EQ(std::string(c->LogFile), path.substr(0, 259));
}

// Every output form of the table, in table order; the never-written settings
// are set too and must not appear.
TEST_F(Settings, OutputStringCarriesEveryFormInOrder)
{
    ASSERT_EQ(parse("LogonTimeout=5;ConnectionTimeout=6;ENCRYPT=yes;LOGFILE=/dev/null;"
                    "TimeAsTime=yes;NullDatetimes=yes;Principal=pr;GSSFLAG=2;GSSLIB=gl;"
                    "Kerberos=yes;NTLMv2=yes;WindowsUser=wu;SQLMode=sm;ansimode=yes;"
                    "ConvWToUTF=yes;ConvToUTF=yes;NoCache=yes;Text_Prepare=yes;"
                    "collation_connection=cc;ReqCharSet=33;character_set_results=csr;"
                    "character_set_client=csc;Compress=yes;TrustServerCertificate=yes;"
                    "Entropy=e;PublicKeyFile=pub;CertificateFile=cf;PrivateKeyFile=pk;"
                    "packetsize=4096;SOKEEPALIVE=yes;RCVBUFFER=8192;ipv6=yes;port=3307;"
                    "database=db;socket=k;server=s;pwd=p;uid=u;dsn=qv_no_such_dsn;"
                    "HostNameInCertificate=hn;EnableCleartextPlugin=yes;LocalInfile=0"),
              0);
    EXPECT_EQ(out_string(),
              "DSN=qv_no_such_dsn;UID=u;PWD=p;SERVER=s;SOCKET=k;DATABASE=db;PORT=3307;IPV6=Yes;"
              "RCVBUFFER=8192;SOKEEPALIVE=yes;PacketSize=4096;PrivateKeyFile=pk;"
              "CertificateFile=cf;PublicKeyFile=pub;Entropy=e;TrustServerCertificate=Yes;"
              "Compress=Yes;character_set_client=csc;character_set_results=csr;"
              "ReqCharSet=33;collation_connection=cc;text_prepare=yes;nocache=yes;"
              "ConvToUtf=yes;ConvWToUtf=yes;AnsiMode=yes;SQLMode=sm;WindowsUser=wu;"
              "NTLMv2=yes;Kerberos=yes;GSSLIB=gl;GSSFLAG=2;Principal=pr;NullDatetimes=yes;"
              "TimeAsTime=yes;LocalInfile=0;EnableCleartextPlugin=yes;HostNameInCertificate=hn;");

    // What the driver hands back connects to the same place again.
    std::vector<std::string> before;
    for (const setting_row &r : setting_table)
        if (r.output != OUT_NEVER)
            before.push_back(setting_value(c, r.id));
    std::string again = out_string();
    conn_reset(c);
    ASSERT_EQ(parse(again), 0);
    std::vector<std::string> after;
    for (const setting_row &r : setting_table)
        if (r.output != OUT_NEVER)
            after.push_back(setting_value(c, r.id));
    EXPECT_EQ(after, before);
}

TEST_F(Settings, OutputStringConditions)
{
    const std::string drv = "DRIVER={Quorvane MySQL ODBC Driver};";
    struct tc {
        const char *in;
        std::string want;
    } cases[] = {
        {"SERVER=h", drv + "SERVER=h;"},
        {"SERVER=h;PORT=3306", drv + "SERVER=h;"},
        {"SERVER=h;PORT=0", drv + "SERVER=h;"},
        {"SERVER=h;PORT=-4", drv + "SERVER=h;"},
        {"SERVER=h;PORT=1", drv + "SERVER=h;PORT=1;"},
        {"PWD={a;b};SERVER=h", drv + "PWD={a;b};SERVER=h;"},
        {"SERVER=h;NullDatetimes=2;Compress=no", drv + "SERVER=h;NullDatetimes=yes;"},
        {"SERVER=h;ENCRYPT=yes;LogonTimeout=9;ConnectionTimeout=9;LOGGING=0", drv + "SERVER=h;"},
        {"DRIVER={Other};SOCKET=/tmp/s", drv + "SOCKET=/tmp/s;"},
        {"SERVER=h;LocalInfile=1;EnableCleartextPlugin=no", drv + "SERVER=h;"},
        {"SERVER=h;LocalInfile=no", drv + "SERVER=h;LocalInfile=0;"},
        // the output keeps the canonical keywords
        {"DB=d;PASSWORD=p;USER=u;SERVER=h", drv + "UID=u;PWD=p;SERVER=h;DATABASE=d;"},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(t.in);
        conn_reset(c);
        ASSERT_EQ(parse(t.in), 0);
        EXPECT_EQ(out_string(), t.want);
    }
}

// The buffer must hold the text and its terminator; exactly the text's
// length is one short.
TEST_F(Settings, OutputStringDelivery)
{
    ASSERT_EQ(parse("SERVER=h"), 0);
    my_string *out = build_out_string(c);
    const int64_t n = out->length;   // ASCII: bytes = characters
    const std::string want = text_of(out);
    struct tc {
        int wide;
        int64_t room;
        bool null_buffer;
        SQLRETURN rc;
        int native;
    } cases[] = {
        {0, n + 1, false, SQL_SUCCESS, 0},
        {0, n, false, SQL_SUCCESS_WITH_INFO, 176},
        {0, 1, false, SQL_SUCCESS_WITH_INFO, 176},
        {0, 0, false, SQL_SUCCESS_WITH_INFO, 176},
        {0, 0, true, SQL_SUCCESS, 0},
        {1, n + 1, false, SQL_SUCCESS, 0},
        {1, n, false, SQL_SUCCESS_WITH_INFO, 167},
        {1, 5, false, SQL_SUCCESS_WITH_INFO, 167},
        {1, 0, true, SQL_SUCCESS, 0},
    };
    for (const tc &t : cases) {
        SCOPED_TRACE(testing::Message() << "wide " << t.wide << " room " << t.room);
        clear_diagnostics(c);
        std::vector<char> narrow(100, 'Z');
        std::vector<uint16_t> wide(100, 'Z');
        void *buf = t.null_buffer ? nullptr : t.wide ? (void *)wide.data() : (void *)narrow.data();
        SQLSMALLINT len = -1;
        SQLRETURN rc = deliver_out_string(c, out, buf, t.room, &len, t.wide,
                                          t.wide ? 167 : 176);
        EXPECT_EQ(rc, t.rc);
        EXPECT_EQ(len, n);   // always the full length, in bytes or characters
        if (t.native) {
            ASSERT_EQ(diag_count(c), 1);
            EXPECT_EQ(text_of(diag_get(c, 1)->sqlstate), "01004");
            EXPECT_EQ(diag_get(c, 1)->native, t.native);
        } else {
            EXPECT_EQ(diag_count(c), 0);
        }
        if (t.null_buffer)
            continue;
        size_t copied = (size_t)std::min<int64_t>(t.room > 0 ? t.room - 1 : 0, n);
        if (t.wide) {
            std::string got;
            for (size_t i = 0; i < copied; i++)
                got += (char)wide[i];
            EXPECT_EQ(got, want.substr(0, copied));
            if (t.room > 0) {
                EXPECT_EQ(wide[copied], 0);
            }
            EXPECT_EQ(wide[(size_t)std::max<int64_t>(t.room, 0)], 'Z');   // nothing past the buffer
        } else {
            EXPECT_EQ(std::string(narrow.data(), copied), want.substr(0, copied));
            if (t.room > 0) {
                EXPECT_EQ(narrow[copied], 0);
            }
            EXPECT_EQ(narrow[(size_t)std::max<int64_t>(t.room, 0)], 'Z');
        }
    }
    ms_free(out);
}

TEST(ConnectionString, PasswordsAreMaskedForTheLog)
{
    struct tc {
        const char *in, *want;
    } cases[] = {
        {"UID=u;PWD=secret;SERVER=h", "UID=u;PWD=****;SERVER=h"},
        {"pwd={a;b};x;", "pwd=****;x;"},
        {"PWD=a;Pwd=b", "PWD=****;Pwd=****"},
        {" PWD =typo", " PWD =****"},
        {"PWDX=a;PWD", "PWDX=a;PWD"},
        {"USER=u;Password=secret", "USER=u;Password=****"},
        {"", ""},
    };
    for (const tc &t : cases) {
        my_string *in = ms_from_latin1(t.in);
        my_string *out = mask_password(in);
        EXPECT_EQ(text_of(out), t.want) << t.in;
        ms_free(in);
        ms_free(out);
    }
    EXPECT_EQ(mask_password(nullptr), nullptr);
}

// A setting missing from a reader's order would silently never be read from
// a DSN.
TEST(SettingTable, EveryDsnKeyIsReadByBothReaders)
{
    for (setting_order order : {dsn_connect_order(), dsn_complete_order()}) {
        std::vector<int> seen(SETTING_COUNT, 0);
        for (size_t i = 0; i < order.count; i++)
            seen[order.ids[i]]++;
        bool connect_order = order.ids == dsn_connect_order().ids;
        for (const setting_row &r : setting_table) {
            int want = 1;
            if (r.id == SET_DSN)   // the section name itself
                want = 0;
            if (connect_order && (r.id == SET_SERVER || r.id == SET_SOCKET))
                want = 0;   // SQLConnect reads these two first
            EXPECT_EQ(seen[r.id], want) << r.keyword << (connect_order ? " (SQLConnect)" : "");
        }
    }
}
