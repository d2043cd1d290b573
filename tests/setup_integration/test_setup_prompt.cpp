// The setup library against the fixture's server: SQLDriverConnect with a
// window and a missing value makes the driver load the real libqvmysqlS.so,
// whose dialog a timer answers here like a user; and the dialog's Test
// button loads the driver and logs on with the values on screen.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "setup_dialog.h"
#include "setup_platform.h"
#include "support/qv_support.h"

namespace {

int app_argc = 1;
char app_name[] = "setup_integration_tests";
char *app_argv[] = {app_name, nullptr};

QApplication *app(void)
{
    static QApplication *a = new QApplication(app_argc, app_argv);
    return a;
}

// Plays the user: once the library's dialog is up, edit() sees its line
// edits by tooltip, then the button named press is clicked.
struct dialog_player {
    QTimer timer;
    bool seen = false;
    dialog_player(const std::function<void(QLineEdit *)> &edit, const char *press)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, edit, press]() {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || strcmp(w->metaObject()->className(), "Setup") != 0)
                return;
            timer.stop();
            seen = true;
            for (QLineEdit *e : w->findChildren<QLineEdit *>())
                edit(e);
            for (QPushButton *b : w->findChildren<QPushButton *>())
                if (b->text() == press)
                    b->click();
        });
        timer.start(20);
    }
};

SQLRETURN driver_connect(qv::handle &dbc, const std::string &in, SQLUSMALLINT completion,
                         std::string *out)
{
    SQLCHAR buf[2048] = "";
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLDriverConnect(dbc, (SQLHWND)1, (SQLCHAR *)in.c_str(), SQL_NTS, buf,
                                    sizeof buf, &len, completion);
    if (out)
        *out = (const char *)buf;
    return rc;
}

std::string without_server(void)
{
    const qv::server_info &s = qv::server();
    return "DRIVER={" + s.driver_name + "};PORT=" + std::to_string(s.port) + ";UID=" + s.user +
           ";PWD=" + s.password + ";DATABASE=" + s.database + ";";
}

std::string last_caption, last_text;
message_kind last_kind;
void capture_message(message_kind kind, const char *caption, const char *text)
{
    last_kind = kind;
    last_caption = caption;
    last_text = text;
}

} // namespace

TEST(SetupPrompt, CompleteAsksForTheMissingServer)
{
    app();
    qv::handle env = qv::alloc_env();
    qv::handle dbc = qv::alloc_dbc(env);
    ASSERT_TRUE(dbc);
    QString shown_user;
    dialog_player player([&](QLineEdit *e) {
        if (e->toolTip() == "User Name")
            shown_user = e->text();
        if (e->toolTip() == "Target Server")
            e->setText(QString::fromStdString(qv::server().host));
    }, "O&K");
    std::string out;
    SQLRETURN rc = driver_connect(dbc, without_server(), SQL_DRIVER_COMPLETE, &out);
    EXPECT_TRUE(player.seen);
    EXPECT_EQ(shown_user, QString::fromStdString(qv::server().user));
    QV_ASSERT_SUCCEEDED(rc, dbc);
    EXPECT_NE(out.find("SERVER=" + qv::server().host + ";"), std::string::npos) << out;
    SQLDisconnect(dbc);
}

TEST(SetupPrompt, CancelMeansNoData)
{
    app();
    qv::handle env = qv::alloc_env();
    qv::handle dbc = qv::alloc_dbc(env);
    ASSERT_TRUE(dbc);
    dialog_player player([](QLineEdit *) {}, "&Cancel");
    EXPECT_EQ(driver_connect(dbc, qv::conn_str(), SQL_DRIVER_PROMPT, nullptr), SQL_NO_DATA);
    EXPECT_TRUE(player.seen);
}

TEST(SetupTestButton, LogsOnWithTheValuesOnScreen)
{
    app();
    const qv::server_info &s = qv::server();
    message_hook = capture_message;
    struct attempt {
        const char *password;
        message_kind kind;
        const char *start;
    };
    const attempt attempts[] = {
        {nullptr, MESSAGE_INFORMATION, "Connected. Server Version: "},
        {"wrong-password", MESSAGE_WARNING, "Failed to connect: '"},
    };
    for (const attempt &a : attempts) {
        SCOPED_TRACE(a.start);
        ::Setup dlg(nullptr, "DSN Properties", nullptr);
        dlg.load("DSN=qv_test_button\0\0");
        qobject_cast<QLineEdit *>(dlg.field(SET_SERVER))->setText(QString::fromStdString(s.host));
        qobject_cast<QLineEdit *>(dlg.field(SET_PORT))->setText(QString::number(s.port));
        qobject_cast<QLineEdit *>(dlg.field(SET_UID))->setText(QString::fromStdString(s.user));
        qobject_cast<QLineEdit *>(dlg.field(SET_PWD))
            ->setText(QString::fromStdString(a.password ? a.password : s.password));
        last_text.clear();
        dlg.test_button()->click();
        EXPECT_EQ(last_caption, "MySQL ODBC Driver Test");
        EXPECT_EQ(last_kind, a.kind);
        EXPECT_EQ(last_text.compare(0, strlen(a.start), a.start), 0) << last_text;
        EXPECT_TRUE(dlg.test_button()->isEnabled());
    }
    message_hook = nullptr;
}
