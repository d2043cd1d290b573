// The setup library's entry points: ConfigDSN through the real ODBC
// installer (SQLConfigDataSource loads the built library by the private
// odbcinst.ini), ConfigDriver, complete_info and complete_error, with and
// without a display.
#include <gtest/gtest.h>

#include <odbcinst.h>
#include <stdlib.h>
#include <string.h>

#include <iterator>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "my_handles.h"
#include "setup/setup_test_support.h"
#include "setup_dialog.h"
#include "setup_platform.h"
#include "setup_run.h"
#include "setup_values.h"

extern "C" void complete_error(my_connection *c, const char *text, void *window);

namespace {

const char DRIVER[] = "Quorvane MySQL ODBC Driver";

std::string attrs(const std::string &semicolons)
{
    std::string list = semicolons;
    for (char &ch : list)
        if (ch == ';')
            ch = '\0';
    list += '\0';
    return list;
}

typedef BOOL (*config_dsn_fn)(HWND, WORD, LPCSTR, LPCSTR);
typedef BOOL (*config_driver_fn)(HWND, WORD, LPCSTR, LPCSTR, LPSTR, WORD, WORD *);

// A connection record as the driver fills it, for complete_info.
struct test_connection {
    my_connection *c = new my_connection();
    ~test_connection()
    {
        for (my_string *my_connection::*f : {&my_connection::DSN, &my_connection::UID,
                                              &my_connection::PWD, &my_connection::SERVER})
            ms_free(c->*f);
        delete c;
    }
};

std::string last_caption, last_text;
void capture_message(message_kind, const char *caption, const char *text)
{
    last_caption = caption;
    last_text = text;
}

} // namespace

TEST(ConfigDsn, AddConfigureAndRemoveThroughTheInstaller)
{
    const std::string dsn = "qv_entry_add";
    // add without a window: written from the attribute list alone
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, DRIVER,
                                    attrs("DSN=" + dsn + ";SERVER=h1;PORT=3310;UID=u1;"
                                          "Description=added;NoCache=yes;")
                                        .c_str()));
    EXPECT_EQ(ini_get(dsn, "Driver"), DRIVER);
    EXPECT_EQ(ini_get(dsn, "Server"), "h1");
    EXPECT_EQ(ini_get(dsn, "Port"), "3310");
    EXPECT_EQ(ini_get(dsn, "User"), "u1");
    EXPECT_EQ(ini_get(dsn, "Description"), "added");
    EXPECT_EQ(ini_get(dsn, "NoCache"), "Yes");
    EXPECT_EQ(ini_get(dsn, "Encrypt"), "No");

    // configure: the list's values over the stored ones
    ini_put(dsn, "Entropy", "kept");
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_CONFIG_DSN, DRIVER,
                                    attrs("DSN=" + dsn + ";SERVER=h2;").c_str()));
    EXPECT_EQ(ini_get(dsn, "Server"), "h2");
    EXPECT_EQ(ini_get(dsn, "Port"), "3310");
    EXPECT_EQ(ini_get(dsn, "User"), "u1");
    EXPECT_EQ(ini_get(dsn, "Entropy"), "kept");

    // remove: the name loses one trailing ';'
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, DRIVER,
                                    attrs("DSN=" + dsn + ";;").c_str()));
    EXPECT_EQ(ini_get(dsn, "Driver"), "");
}

TEST(ConfigDsn, RefusedRequestsPostInstallerErrors)
{
    config_dsn_fn config = (config_dsn_fn)setup_symbol("ConfigDSN");
    ASSERT_NE(config, nullptr);
    struct refused {
        WORD request;
        const char *list;
        int code;
        const char *text;
    };
    const refused cases[] = {
        {9, "DSN=x\0", ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request"},
        {ODBC_CONFIG_DSN, "", ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes"},
        {ODBC_REMOVE_DSN, nullptr, ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes"},
        {ODBC_REMOVE_DSN, "SERVER=h\0", ODBC_ERROR_INVALID_NAME,
         "Invalid DSN specified to ODBC_REMOVE_DSN"},
    };
    for (const refused &r : cases) {
        SCOPED_TRACE(r.text);
        ini_get("none", "none");   // an installer call empties the error queue
        EXPECT_FALSE(config(nullptr, r.request, DRIVER, r.list));
        std::string text;
        EXPECT_EQ(installer_error(&text), r.code);
        EXPECT_EQ(text, r.text);
    }
}

TEST(ConfigDsn, InvalidNameIsAFailureAndKeepsTheOldDsn)
{
    const std::string dsn = "qv_entry_keep";
    SQLWriteDSNToIni(dsn.c_str(), DRIVER);
    ini_put(dsn, "Server", "h1");
    // renaming to a name the installer refuses
    dsn_values v;
    values_load(v, attrs("DSN=" + dsn + ";").c_str());
    v.text[SET_DSN] = "bad[name]";
    EXPECT_EQ(values_save_dsn(v, dsn, DRIVER), -1);
    EXPECT_NE(installer_error(), 0);
    EXPECT_EQ(ini_get(dsn, "Server"), "h1");
    SQLRemoveDSNFromIni(dsn.c_str());
}

TEST(ConfigDriver, AnswersInstallAndRemove)
{
    config_driver_fn config = (config_driver_fn)setup_symbol("ConfigDriver");
    ASSERT_NE(config, nullptr);
    char small[20];
    memset(small, 'x', sizeof small);
    WORD len = 0;
    EXPECT_TRUE(config(nullptr, ODBC_INSTALL_DRIVER, DRIVER, "", small, sizeof small, &len));
    EXPECT_STREQ(small, "Bye Bye from the Qu");
    EXPECT_EQ(len, 43);
    char whole[64];
    len = 0;
    EXPECT_TRUE(config(nullptr, ODBC_REMOVE_DRIVER, DRIVER, "", whole, sizeof whole, &len));
    EXPECT_STREQ(whole, "Bye Bye from the Quorvane MySQL ODBC Driver");
    EXPECT_EQ(len, 43);
    char untouched = 'x';
    EXPECT_TRUE(config(nullptr, ODBC_INSTALL_DRIVER, DRIVER, "", &untouched, 0, &len));
    EXPECT_EQ(untouched, 'x');
    EXPECT_FALSE(config(nullptr, 7, DRIVER, "", whole, sizeof whole, &len));
    EXPECT_EQ(installer_error(), ODBC_ERROR_INVALID_REQUEST_TYPE);
}

// The orders the DSN writer and complete_info always had, kept here as the
// literal lists they were: the orders derived from the keyword table must
// never drift from them.
TEST(KeywordTable, DerivedOrdersKeepTheWrittenOnes)
{
    static const char *const written[] = {
        "Description", "Database", "Server", "User", "Password", "character_set_client",
        "character_set_results", "collation_connection", "Port", "ReqCharSet", "IPV6",
        "AnsiMode", "Encrypt", "TrustServerCertificate", "PrivateKeyFile", "WindowsUser",
        "Principal", "SQLMode", "CertificateFile", "PublicKeyFile", "Text_Prepare", "NoCache",
        "NTLMv2", "Kerberos", "ConvToUtf", "Compress", "NullDatetimes"};
    EXPECT_EQ(dsn_written_keys(), std::vector<std::string>(std::begin(written), std::end(written)));

    // complete_info: these first (texts when set, then numbers), in this
    // order; the dialog reads the keys without regard to case
    static const char *const listed[] = {
        "DSN", "UID", "PWD", "SERVER", "DATABASE", "ENTROPY", "PrivateKeyFile",
        "CertificateFile", "PublicKeyFile", "WindowsUser", "Principal", "PORT", "ReqCharSet",
        "Compress", "IPV6", "AnsiMode", "Text_Prepare", "NoCache", "Encrypt", "ConvToUtf",
        "TrustServerCertificate", "NTLMv2", "Kerberos", "NullDatetimes"};
    std::vector<setting_id> order = prompt_list_order();
    ASSERT_GE(order.size(), std::size(listed));
    for (size_t i = 0; i < std::size(listed); i++)
        EXPECT_STRCASEEQ(setting_table[order[i]].name, listed[i]) << i;
    // then every other setting the connection holds, each once
    std::vector<int> seen(SETTING_COUNT, 0);
    for (setting_id id : order)
        seen[id]++;
    for (const setting_row &r : setting_table)
        EXPECT_EQ(seen[r.id], r.text || r.number ? 1 : 0) << r.keyword;

    // the attribute-list entries the dialog always recognised, and the value
    // each one sets
    static const struct {
        const char *key;
        value_id id;
    } recognised[] = {
        {"dsn", SET_DSN}, {"desc", V_DESCRIPTION}, {"uid", SET_UID}, {"pwd", SET_PWD},
        {"server", SET_SERVER}, {"database", SET_DATABASE}, {"port", SET_PORT},
        {"ReqCharSet", SET_ReqCharSet}, {"ipv6", SET_IPV6}, {"ansimode", SET_AnsiMode},
        {"encrypt", SET_Encrypt}, {"nocache", SET_NoCache}, {"ntlmv2", SET_NTLMv2},
        {"kerberos", SET_Kerberos}, {"compress", SET_Compress},
        {"TrustServerCertificate", SET_TrustServerCertificate},
        {"NullDatetimes", SET_NullDatetimes}, {"PrivateKeyFile", SET_PrivateKeyFile},
        {"CertificateFile", SET_CertificateFile}, {"RsaKeyFile", SET_PrivateKeyFile},
        {"Entropy", SET_Entropy}, {"SQLMode", SET_SQLMode}, {"WindowsUser", SET_WindowsUser},
        {"Principal", SET_Principal}, {"PublicKeyFile", SET_PublicKeyFile},
        {"Text_Prepare", SET_Text_Prepare}};
    for (const auto &k : recognised) {
        std::string list = std::string(k.key) + "=7";
        list += '\0';
        dsn_values v;
        values_load(v, list.c_str());
        EXPECT_TRUE(v.given[k.id]) << k.key;
        EXPECT_TRUE(v.text[k.id] == "7" || v.number[k.id] == 7) << k.key;
    }
}

TEST(CompleteInfo, AttributeListFromTheConnection)
{
    test_connection t;
    t.c->SERVER = ms_from_latin1("h\xe9");
    t.c->UID = ms_from_latin1("");   // empty: left out
    t.c->PORT = 3307;
    t.c->Encrypt = 2;
    std::string list = prompt_attribute_list(t.c);
    static const char expected_list[] = "SERVER=h\xe9\0PORT=3307\0ReqCharSet=0\0Compress=0\0"
        "IPV6=0\0AnsiMode=0\0Text_Prepare=0\0NoCache=0\0Encrypt=2\0ConvToUtf=0\0"
        "TrustServerCertificate=0\0NTLMv2=0\0Kerberos=0\0NullDatetimes=0\0"
        // then the settings without a place of their own, in table order
        "RCVBUFFER=0\0SOKEEPALIVE=0\0PacketSize=0\0ConvWToUtf=0\0GSSFLAG=0\0TimeAsTime=0\0"
        "LocalInfile=0\0EnableCleartextPlugin=0\0NoBinaryDirect=0\0LogonTimeout=0\0"
        "ConnectionTimeout=0\0";
    EXPECT_EQ(list, std::string(expected_list, sizeof expected_list - 1));
    t.c->ConvToUtf = 1;   // then texts are UTF-8
    EXPECT_EQ(prompt_attribute_list(t.c).substr(0, 10), "SERVER=h\xc3\xa9");
}

TEST(CompleteInfo, DialogAnswersOrCancelAndErrorText)
{
    test_app();
    typedef int (*info_fn)(my_connection *, void *, my_prompt *);
    info_fn info = (info_fn)setup_symbol("complete_info");
    ASSERT_NE(info, nullptr);
    test_connection t;
    t.c->UID = ms_from_latin1("bob");
    t.c->PORT = 3306;

    // a window: the dialog runs modally; a timer plays the user
    for (bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "OK" : "Cancel");
        my_prompt record{};
        memset(&record, 0x5a, sizeof record);
        QString seen_uid;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&]() {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || strcmp(w->metaObject()->className(), "Setup") != 0)
                return;
            timer.stop();
            for (QLineEdit *e : w->findChildren<QLineEdit *>()) {
                if (e->toolTip() == "User Name")
                    seen_uid = e->text();
                if (e->toolTip() == "Target Server")
                    e->setText("typed.example");
            }
            for (QPushButton *b : w->findChildren<QPushButton *>())
                if (b->text() == (accept ? "O&K" : "&Cancel"))
                    b->click();
        });
        timer.start(20);
        int rc = info(t.c, (void *)1, &record);
        EXPECT_EQ(seen_uid, QString("bob"));
        if (accept) {
            EXPECT_EQ(rc, 0);
            EXPECT_STREQ(record.SERVER, "typed.example");
            EXPECT_STREQ(record.UID, "bob");
            EXPECT_EQ(record.PORT, 3306);
        } else {
            EXPECT_EQ(rc, 100);
            EXPECT_EQ(record.SERVER[0], 0x5a);   // nothing written on Cancel
            EXPECT_EQ(record.DSN[0], 0);         // the first 8 bytes are cleared
        }
    }

    // no window: the dialog's OK at once, from the connection's values
    my_prompt record{};
    EXPECT_EQ(info(t.c, nullptr, &record), 0);
    EXPECT_STREQ(record.UID, "bob");

    // complete_error shows exactly its text (seen through this copy's hook)
    message_hook = capture_message;
    complete_error(t.c, "Access denied\nsecond line\n", (void *)1);
    message_hook = nullptr;
    EXPECT_EQ(last_caption, "Quorvane MySQL ODBC Driver");
    EXPECT_EQ(last_text, "Access denied\nsecond line\n");
}

// Without any display the library must neither abort nor pretend.
TEST(NoDisplay, WorksFromTheListAndRefusesWindows)
{
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ASSERT_EQ(QApplication::instance(), nullptr);
    config_dsn_fn config = (config_dsn_fn)setup_symbol("ConfigDSN");
    ASSERT_NE(config, nullptr);
    const std::string dsn = "qv_entry_headless";
    EXPECT_TRUE(config(nullptr, ODBC_ADD_DSN, DRIVER,
                       attrs("DSN=" + dsn + ";SERVER=h9;").c_str()));
    EXPECT_EQ(ini_get(dsn, "Server"), "h9");
    // a window that cannot be shown is a failure, not a save
    EXPECT_FALSE(config((HWND)1, ODBC_CONFIG_DSN, DRIVER, attrs("DSN=" + dsn + ";").c_str()));
    EXPECT_EQ(installer_error(), ODBC_ERROR_INVALID_HWND);
    SQLRemoveDSNFromIni(dsn.c_str());

    typedef int (*info_fn)(my_connection *, void *, my_prompt *);
    info_fn info = (info_fn)setup_symbol("complete_info");
    typedef void (*error_fn)(my_connection *, const char *, void *);
    error_fn show = (error_fn)setup_symbol("complete_error");
    test_connection t;
    t.c->SERVER = ms_from_latin1("h9");
    my_prompt record{};
    EXPECT_EQ(info(t.c, (void *)1, &record), 100);
    EXPECT_EQ(info(t.c, nullptr, &record), 0);
    EXPECT_STREQ(record.SERVER, "h9");
    testing::internal::CaptureStderr();
    show(t.c, "server gone", (void *)1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("server gone"), std::string::npos);
    EXPECT_EQ(QApplication::instance(), nullptr);
}
