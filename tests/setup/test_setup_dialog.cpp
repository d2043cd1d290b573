// The Setup dialog driven programmatically on Qt's offscreen platform: its
// widgets, the values it writes to odbc.ini (DSN mode) and into the prompt
// record (prompt mode), and the password field's cut/copy refusal.
#include <gtest/gtest.h>

#include <odbcinst.h>
#include <string.h>

#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>

#include "setup/setup_test_support.h"
#include "setup_dialog.h"

namespace {

struct expected_widget {
    value_id id;
    const char *label;
    int label_x, y;      // y inside the group box
    int x, width;        // the field
    const char *tip;
    bool check;
};

// The dialog's rows as the design table gives them.
const expected_widget expected_rows[] = {
    {SET_DSN, "&DSN:", 30, 10, 130, 250, "Data source name", false},
    {V_DESCRIPTION, "D&escription:", 30, 40, 130, 250, "Data source description", false},
    {SET_DATABASE, "Data&base:", 30, 10, 130, 250, "Database", false},
    {SET_UID, "&User Name:", 30, 40, 130, 250, "User Name", false},
    {SET_PWD, "&Password:", 30, 70, 130, 250, "Password", false},
    {SET_SERVER, "&Server:", 30, 100, 130, 250, "Target Server", false},
    {SET_PORT, "&Port:", 30, 130, 130, 50, "Target Port", false},
    {SET_IPV6, "IPv&6:", 210, 130, 330, -1, "Use IPv6", true},
    {SET_Encrypt, "SSL &Encryption:", 30, 160, 130, -1, "Encrypt traffic with SSL", true},
    {SET_Compress, "Compress:", 210, 160, 330, -1, "Enhanced password encryption", true},
    {SET_PrivateKeyFile, "Private Key File:", 30, 190, 130, 250, "Private Key File", false},
    {SET_CertificateFile, "Certificate File:", 30, 220, 130, 250, "Certificate File", false},
    {SET_PublicKeyFile, "Public Cert:", 30, 250, 130, 250, "Public Certificate File", false},
    {SET_TrustServerCertificate, "Trust &Cert:", 30, 280, 130, -1, "Trust certificate from server", true},
    {SET_Text_Prepare, "Text Prep:", 210, 280, 330, -1, "Use TEXT protacol for prepared query",
     true},
    {SET_NoCache, "No Cache:", 30, 310, 130, -1, "Dont cache results", true},
    {SET_ConvToUtf, "Conv To UTF:", 210, 310, 330, -1, "8 bit as UTF8", true},
    {SET_ReqCharSet, "Req Charset:", 30, 340, 130, 50, "Character Set to use", false},
    {SET_AnsiMode, "Ansi Mode:", 210, 340, 330, -1, "Use ANSI SQL", true},
    {SET_NTLMv2, "NTLMv2:", 30, 370, 130, -1, "Use v2 for NTLM auth", true},
    {SET_Kerberos, "Kerberos:", 210, 370, 330, -1, "Use Kerberos for authentication", true},
    {SET_WindowsUser, "Windows User:", 30, 400, 130, 250, "Windows User name to auth", false},
    {SET_Principal, "Principal:", 30, 430, 130, 250, "Principal name to use", false},
    {SET_NullDatetimes, "Null Datetimes:", 30, 460, 130, -1, "Use NULL for invalid dateimes",
     true},
};

QLabel *buddy_label(QWidget *field)
{
    for (QLabel *l : field->parentWidget()->findChildren<QLabel *>())
        if (l->buddy() == field)
            return l;
    return nullptr;
}

// The next widget the Tab key reaches (labels and boxes take no focus).
QWidget *next_tab_stop(QWidget *w)
{
    for (QWidget *n = w->nextInFocusChain(); n && n != w; n = n->nextInFocusChain())
        if (n->focusPolicy() & Qt::TabFocus)
            return n;
    return nullptr;
}

MQLineEdit *edit(::Setup &s, value_id id) { return qobject_cast<MQLineEdit *>(s.field(id)); }
QCheckBox *check(::Setup &s, value_id id) { return qobject_cast<QCheckBox *>(s.field(id)); }

// "KEY=value\0...\0" from "KEY=value;..." (no ';' inside values here).
std::string attrs(const std::string &semicolons)
{
    std::string list = semicolons;
    for (char &ch : list)
        if (ch == ';')
            ch = '\0';
    list += '\0';
    return list;
}

class SetupDialog : public testing::Test {
protected:
    void SetUp() override { test_app(); }
};

} // namespace

TEST_F(SetupDialog, WidgetsTextsTooltipsAndGeometry)
{
    ::Setup dsn(nullptr, "DSN Properties", nullptr);
    my_prompt record{};
    ::Setup prompt(nullptr, "DSN Properties", &record);
    EXPECT_STREQ(dsn.metaObject()->className(), "Setup");
    EXPECT_EQ(dsn.objectName(), QString("DSN Properties"));
    EXPECT_EQ(dsn.windowTitle(), QString("Quorvane MySQL ODBC Driver DSN Setup"));
    EXPECT_EQ(dsn.minimumSize(), QSize(430, 635));
    EXPECT_EQ(dsn.maximumSize(), QSize(430, 635));
    EXPECT_EQ(prompt.maximumSize(), QSize(430, 560));
    // the slots, in their declared order
    const QMetaObject *mo = dsn.metaObject();
    QStringList declared;
    for (int i = mo->methodOffset(); i < mo->methodCount(); i++)
        if (mo->method(i).methodType() == QMetaMethod::Slot)
            declared << QString(mo->method(i).methodSignature());
    EXPECT_EQ(declared, QStringList({"about()", "Ok()", "Cancel()", "Dsn_test()"}));

    QWidget *previous = nullptr;
    for (const expected_widget &e : expected_rows) {
        SCOPED_TRACE(e.label);
        QWidget *f = dsn.field(e.id);
        ASSERT_NE(f, nullptr);
        bool first_box = e.id == SET_DSN || e.id == V_DESCRIPTION;
        EXPECT_EQ(f->parentWidget()->geometry().topLeft(), QPoint(10, first_box ? 10 : 95));
        EXPECT_EQ(f->parentWidget()->width(), 410);
        EXPECT_EQ(f->x(), e.x);
        EXPECT_EQ(f->y(), e.y);
        EXPECT_EQ(f->height(), 20);
        if (e.check) {
            EXPECT_NE(qobject_cast<QCheckBox *>(f), nullptr);
        } else {
            ASSERT_NE(qobject_cast<MQLineEdit *>(f), nullptr);
            EXPECT_EQ(f->width(), e.width);
        }
        EXPECT_EQ(f->toolTip(), QString(e.tip));
        EXPECT_EQ(f->whatsThis(), QString(e.tip));
        QLabel *label = buddy_label(f);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString(e.label));
        EXPECT_EQ(label->geometry(), QRect(e.label_x, e.y, 100, 20));
        // tab order follows the table
        if (previous) {
            EXPECT_EQ(next_tab_stop(previous), f);
        }
        previous = f;
        // prompt mode: one box at (10, 10), no DSN or description
        QWidget *pf = prompt.field(e.id);
        if (first_box) {
            EXPECT_EQ(pf, nullptr);
        } else {
            ASSERT_NE(pf, nullptr);
            EXPECT_EQ(pf->parentWidget()->geometry().topLeft(), QPoint(10, 10));
            EXPECT_EQ(pf->geometry(), f->geometry());
        }
    }
    EXPECT_EQ(edit(dsn, SET_DATABASE)->maxLength(), 128);
    EXPECT_EQ(edit(dsn, SET_PWD)->maxLength(), 128);
    EXPECT_EQ(edit(dsn, SET_PWD)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit(dsn, SET_UID)->echoMode(), QLineEdit::Normal);

    struct button_row { QPushButton *b; const char *text, *tip; int x; };
    for (int mode = 0; mode < 2; mode++) {
        ::Setup &s = mode ? prompt : dsn;
        int y = mode ? 530 : 595;
        const button_row buttons[] = {
            {s.test_button(), "&Test", "Test connection", 20},
            {s.ok_button(), "O&K", "Save changes and finish", 260},
            {s.cancel_button(), "&Cancel", "Exit without saving changes", 340},
        };
        for (const button_row &r : buttons) {
            SCOPED_TRACE(r.text);
            EXPECT_EQ(r.b->text(), QString(r.text));
            EXPECT_EQ(r.b->toolTip(), QString(r.tip));
            EXPECT_EQ(r.b->geometry().topLeft(), QPoint(r.x, y));
            EXPECT_EQ(r.b->width(), 70);
        }
        // no help viewer on this platform: no Help button
        EXPECT_EQ(s.findChildren<QPushButton *>().size(), 3);
    }
}

TEST_F(SetupDialog, ConfiguringAStoredDsnShowsAndWritesEveryKey)
{
    const std::string dsn = "qv_dialog_configure";
    SQLWriteDSNToIni(dsn.c_str(), "Quorvane MySQL ODBC Driver");
    const std::pair<const char *, const char *> stored[] = {
        {"Description", "stored description"}, {"User", "alice"}, {"Password", "s3cret"},
        {"Server", "db.example"}, {"Database", "shop"}, {"Port", "3310"},
        {"ReqCharSet", "33"}, {"Encrypt", "optional"}, {"NoCache", "yes"}, {"IPV6", "1"},
        {"Kerberos", "2"}, {"ConvToUTF", "1"}, {"PrivateKeyFile", "/k.pem"},
        {"Entropy", "salt"}, {"SQLMode", "ANSI_QUOTES"}, {"PacketSize", "65536"},
        {"character_set_client", "utf8mb4"},
    };
    for (const auto &kv : stored)
        ini_put(dsn, kv.first, kv.second);

    ::Setup s(nullptr, "DSN Properties", nullptr);
    s.set_driver("Quorvane MySQL ODBC Driver");
    s.load(attrs("DSN=" + dsn + ";").c_str());
    s.disable_dsn_name();
    EXPECT_FALSE(s.field(SET_DSN)->isEnabled());
    EXPECT_EQ(edit(s, SET_DSN)->text(), QString::fromStdString(dsn));
    EXPECT_EQ(edit(s, V_DESCRIPTION)->text(), QString("stored description"));
    EXPECT_EQ(edit(s, SET_UID)->text(), QString("alice"));
    EXPECT_EQ(edit(s, SET_PWD)->text(), QString("s3cret"));
    EXPECT_EQ(edit(s, SET_SERVER)->text(), QString("db.example"));
    EXPECT_EQ(edit(s, SET_PORT)->text(), QString("3310"));
    EXPECT_EQ(edit(s, SET_ReqCharSet)->text(), QString("33"));
    EXPECT_FALSE(check(s, SET_Encrypt)->isChecked());   // "optional" is not 1
    EXPECT_TRUE(check(s, SET_NoCache)->isChecked());
    EXPECT_TRUE(check(s, SET_IPV6)->isChecked());
    EXPECT_FALSE(check(s, SET_Kerberos)->isChecked());   // 2 is not 1
    EXPECT_TRUE(check(s, SET_ConvToUtf)->isChecked());

    edit(s, SET_SERVER)->setText("db2.example");
    check(s, SET_AnsiMode)->setChecked(true);
    s.Ok();
    EXPECT_EQ(s.result_code(), 0);
    EXPECT_FALSE(s.save_failed());

    const std::pair<const char *, const char *> written[] = {
        {"Driver", "Quorvane MySQL ODBC Driver"}, {"Description", "stored description"},
        {"Database", "shop"}, {"Server", "db2.example"}, {"User", "alice"},
        {"Password", "s3cret"}, {"Port", "3310"}, {"ReqCharSet", "33"}, {"IPV6", "Yes"},
        {"AnsiMode", "Yes"}, {"Encrypt", "No"}, {"TrustServerCertificate", "No"},
        {"PrivateKeyFile", "/k.pem"}, {"SQLMode", "ANSI_QUOTES"}, {"Text_Prepare", "No"},
        {"NoCache", "Yes"}, {"NTLMv2", "No"}, {"Kerberos", "No"}, {"ConvToUtf", "Yes"},
        {"Compress", "No"}, {"NullDatetimes", "No"},
        // no field for these: what was stored survives the save
        {"Entropy", "salt"}, {"PacketSize", "65536"}, {"character_set_client", "utf8mb4"},
        {"character_set_results", ""},
    };
    for (const auto &kv : written)
        EXPECT_EQ(ini_get(dsn, kv.first), kv.second) << kv.first;
    SQLRemoveDSNFromIni(dsn.c_str());
}

// A DSN written with UID, PWD and DB shows its values and is saved under the
// dialog's own keys; a key the dialog has no field for is written when the
// attribute list gives it and survives the save when stored.
TEST_F(SetupDialog, OtherSpellingsAndKeysWithoutAField)
{
    const std::string dsn = "qv_dialog_spellings";
    SQLWriteDSNToIni(dsn.c_str(), "Quorvane MySQL ODBC Driver");
    const std::pair<const char *, const char *> stored[] = {
        {"UID", "bob"}, {"PWD", "pw"}, {"DB", "shop"}, {"Server", "db.example"},
        {"HostNameInCertificate", "h.example"}, {"EnableCleartextPlugin", "yes"},
    };
    for (const auto &kv : stored)
        ini_put(dsn, kv.first, kv.second);

    ::Setup s(nullptr, "DSN Properties", nullptr);
    s.set_driver("Quorvane MySQL ODBC Driver");
    s.load(attrs("DSN=" + dsn + ";LocalInfile=0;").c_str());
    EXPECT_EQ(edit(s, SET_UID)->text(), QString("bob"));
    EXPECT_EQ(edit(s, SET_PWD)->text(), QString("pw"));
    EXPECT_EQ(edit(s, SET_DATABASE)->text(), QString("shop"));
    s.Ok();
    EXPECT_FALSE(s.save_failed());
    const std::pair<const char *, const char *> written[] = {
        {"User", "bob"}, {"Password", "pw"}, {"Database", "shop"},
        {"UID", ""}, {"PWD", ""}, {"DB", ""},
        {"LocalInfile", "No"}, {"HostNameInCertificate", "h.example"},
        {"EnableCleartextPlugin", "yes"},
    };
    for (const auto &kv : written)
        EXPECT_EQ(ini_get(dsn, kv.first), kv.second) << kv.first;
    SQLRemoveDSNFromIni(dsn.c_str());
}

// Prompt mode hands back every setting the record has a field for, not only
// those on screen: a socket, time-outs or the DSN given to the prompt stay.
TEST_F(SetupDialog, PromptModeKeepsTheSettingsWithoutAField)
{
    my_prompt record{};
    ::Setup s(nullptr, "DSN Properties", &record);
    s.load(attrs("DSN=qv_dialog_absent;SERVER=h1;SOCKET=/run/s.sock;LogonTimeout=5000;"
                 "SQLMode=ANSI;ConvWToUtf=1;").c_str());
    s.Ok();
    EXPECT_STREQ(record.DSN, "qv_dialog_absent");
    EXPECT_STREQ(record.SOCKET, "/run/s.sock");
    EXPECT_STREQ(record.SQLMode, "ANSI");
    EXPECT_EQ(record.LogonTimeout, 5000);
    EXPECT_EQ(record.ConvWToUtf, 1);
}

TEST_F(SetupDialog, PortFromTheListOrTheDefault)
{
    ::Setup zero(nullptr, "DSN Properties", nullptr);
    zero.load(attrs("DSN=qv_dialog_absent;PORT=0;").c_str());
    EXPECT_EQ(edit(zero, SET_PORT)->text(), QString("0"));
    ::Setup none(nullptr, "DSN Properties", nullptr);
    none.load(attrs("DSN=qv_dialog_absent;").c_str());
    EXPECT_EQ(edit(none, SET_PORT)->text(), QString("3306"));
    // a key spelled out in full gives its value, not the rest of its name
    ::Setup full(nullptr, "DSN Properties", nullptr);
    full.load(attrs("DSN=qv_dialog_absent;Description=spelled out;").c_str());
    EXPECT_EQ(edit(full, V_DESCRIPTION)->text(), QString("spelled out"));
}

TEST_F(SetupDialog, PromptModeFillsTheRecordAndCancelLeavesIt)
{
    my_prompt record{};
    ::Setup s(nullptr, "DSN Properties", &record);
    s.set_narrow_utf8(true);
    s.load(attrs("UID=bob;PWD=pw;SERVER=h1;PORT=3311;Encrypt=1;ConvToUtf=0;").c_str());
    EXPECT_EQ(edit(s, SET_SERVER)->text(), QString("h1"));
    EXPECT_TRUE(check(s, SET_Encrypt)->isChecked());
    edit(s, SET_DATABASE)->setText(QString::fromUtf8("d\xc3\xa9j\xc3\xa0"));
    check(s, SET_Kerberos)->setChecked(true);
    // a field longer than the record's text fields is cut, never overrun
    edit(s, SET_Principal)->setText(QString(3000, QChar(0x00e9)));
    s.Ok();
    EXPECT_EQ(s.result_code(), 0);
    EXPECT_STREQ(record.UID, "bob");
    EXPECT_STREQ(record.PWD, "pw");
    EXPECT_STREQ(record.SERVER, "h1");
    EXPECT_STREQ(record.DATABASE, "d\xc3\xa9j\xc3\xa0");
    EXPECT_EQ(record.PORT, 3311);
    EXPECT_EQ(record.Encrypt, 1);
    EXPECT_EQ(record.Kerberos, 1);
    EXPECT_EQ(record.ConvToUtf, 0);
    EXPECT_EQ(strlen(record.Principal), 1022u);   // 511 whole two-byte characters
    EXPECT_EQ(record.NullDatetimes, 0);
    EXPECT_EQ(record.DSN[0], 0);

    my_prompt untouched{};
    memset(&untouched, 0x5a, sizeof untouched);
    my_prompt copy = untouched;
    ::Setup c(nullptr, "DSN Properties", &copy);
    c.load(attrs("SERVER=h1;").c_str());
    c.cancel_button()->click();
    EXPECT_EQ(c.result_code(), 100);
    EXPECT_EQ(memcmp(&copy, &untouched, sizeof copy), 0);
}

TEST_F(SetupDialog, PasswordIsNeverCutOrCopied)
{
    ::Setup s(nullptr, "DSN Properties", nullptr);
    s.show();
    QClipboard *clip = QApplication::clipboard();
    MQLineEdit *pwd = edit(s, SET_PWD);
    MQLineEdit *uid = edit(s, SET_UID);
    pwd->setText("s3cret");
    uid->setText("alice");

    clip->setText("before");
    pwd->selectAll();
    QKeyEvent copy_key(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(pwd, &copy_key);
    EXPECT_EQ(clip->text(), QString("before"));
    pwd->copy();
    EXPECT_EQ(clip->text(), QString("before"));
    QKeyEvent cut_key(QEvent::KeyPress, Qt::Key_X, Qt::ControlModifier);
    QApplication::sendEvent(pwd, &cut_key);
    pwd->cut();
    EXPECT_EQ(clip->text(), QString("before"));
    EXPECT_EQ(pwd->text(), QString("s3cret"));

    // other fields copy and cut as usual
    uid->selectAll();
    QKeyEvent uid_copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(uid, &uid_copy);
    EXPECT_EQ(clip->text(), QString("alice"));
    clip->setText("before");
    uid->selectAll();
    uid->cut();
    EXPECT_EQ(clip->text(), QString("alice"));
    EXPECT_EQ(uid->text(), QString());
    // pasting into the password works
    pwd->clear();
    pwd->paste();
    EXPECT_EQ(pwd->text(), QString("alice"));
}
