/*
 * The Setup dialog and its line edit.
 */
#include "setup_dialog.h"

#include <stdlib.h>
#include <string.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>

#include "setup_platform.h"

/* ------------------------------------------------------------ MQLineEdit */

void MQLineEdit::cut()
{
    if (echoMode() == QLineEdit::Password)
        return;
    copy();
    del();
}

void MQLineEdit::copy()
{
    if (echoMode() == QLineEdit::Password)
        return;
    QString text = hasSelectedText() ? selectedText() : QString();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void MQLineEdit::paste() { QLineEdit::paste(); }

void MQLineEdit::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    if (event == QKeySequence::Cut) {
        if (!isReadOnly())
            cut();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

/* ----------------------------------------------------------------- Setup */

enum {
    DIALOG_WIDTH = 430, DSN_HEIGHT = 635, PROMPT_HEIGHT = 560,
    BOX_X = 10, BOX_WIDTH = 410, FIRST_BOX_HEIGHT = 75, SECOND_BOX_Y = 95,
    LEFT_LABEL_X = 30, RIGHT_LABEL_X = 210, LABEL_WIDTH = 100, FIELD_X = 130,
    RIGHT_CHECK_X = 330, ROW_HEIGHT = 20, CHECK_WIDTH = 20, WIDE_EDIT = 250,
    NARROW_EDIT = 50, BUTTON_WIDTH = 70, BUTTON_HEIGHT = 25,
    DSN_BUTTON_Y = 595, PROMPT_BUTTON_Y = 530, TEXT_MAX = 128, HELP_CONTEXT = 1001,
};

enum widget_kind { WIDGET_EDIT, WIDGET_CHECK };

struct widget_row {
    bool dsn_box;        /* DSN mode's first box (DSN and description) */
    int y;               /* inside the group box */
    bool right;          /* right column */
    const char *label;
    widget_kind kind;
    int width;           /* line edits */
    int max_length;      /* 0: Qt's default */
    bool password;
    const char *tip;     /* tooltip and What's This text */
    value_id id;
};

/* The widgets in tab order. */
static const widget_row widget_rows[] = {
    {true, 10, false, "&DSN:", WIDGET_EDIT, WIDE_EDIT, 0, false, "Data source name", SET_DSN},
    {true, 40, false, "D&escription:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Data source description", V_DESCRIPTION},
    {false, 10, false, "Data&base:", WIDGET_EDIT, WIDE_EDIT, TEXT_MAX, false, "Database",
     SET_DATABASE},
    {false, 40, false, "&User Name:", WIDGET_EDIT, WIDE_EDIT, 0, false, "User Name", SET_UID},
    {false, 70, false, "&Password:", WIDGET_EDIT, WIDE_EDIT, TEXT_MAX, true, "Password", SET_PWD},
    {false, 100, false, "&Server:", WIDGET_EDIT, WIDE_EDIT, 0, false, "Target Server",
     SET_SERVER},
    {false, 130, false, "&Port:", WIDGET_EDIT, NARROW_EDIT, 0, false, "Target Port", SET_PORT},
    {false, 130, true, "IPv&6:", WIDGET_CHECK, 0, 0, false, "Use IPv6", SET_IPV6},
    {false, 160, false, "SSL &Encryption:", WIDGET_CHECK, 0, 0, false,
     "Encrypt traffic with SSL", SET_Encrypt},
    {false, 160, true, "Compress:", WIDGET_CHECK, 0, 0, false, "Enhanced password encryption",
     SET_Compress},
    {false, 190, false, "Private Key File:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Private Key File", SET_PrivateKeyFile},
    {false, 220, false, "Certificate File:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Certificate File", SET_CertificateFile},
    {false, 250, false, "Public Cert:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Public Certificate File", SET_PublicKeyFile},
    {false, 280, false, "Trust &Cert:", WIDGET_CHECK, 0, 0, false,
     "Trust certificate from server", SET_TrustServerCertificate},
    {false, 280, true, "Text Prep:", WIDGET_CHECK, 0, 0, false,
     "Use TEXT protacol for prepared query", SET_Text_Prepare},
    {false, 310, false, "No Cache:", WIDGET_CHECK, 0, 0, false, "Dont cache results",
     SET_NoCache},
    {false, 310, true, "Conv To UTF:", WIDGET_CHECK, 0, 0, false, "8 bit as UTF8",
     SET_ConvToUtf},
    {false, 340, false, "Req Charset:", WIDGET_EDIT, NARROW_EDIT, 0, false,
     "Character Set to use", SET_ReqCharSet},
    {false, 340, true, "Ansi Mode:", WIDGET_CHECK, 0, 0, false, "Use ANSI SQL", SET_AnsiMode},
    {false, 370, false, "NTLMv2:", WIDGET_CHECK, 0, 0, false, "Use v2 for NTLM auth",
     SET_NTLMv2},
    {false, 370, true, "Kerberos:", WIDGET_CHECK, 0, 0, false,
     "Use Kerberos for authentication", SET_Kerberos},
    {false, 400, false, "Windows User:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Windows User name to auth", SET_WindowsUser},
    {false, 430, false, "Principal:", WIDGET_EDIT, WIDE_EDIT, 0, false,
     "Principal name to use", SET_Principal},
    {false, 460, false, "Null Datetimes:", WIDGET_CHECK, 0, 0, false,
     "Use NULL for invalid dateimes", SET_NullDatetimes},
};

Setup::Setup(QWidget *parent, const char *name, my_prompt *record)
    : QDialog(parent), prompt_(record)
{
    setObjectName(QString::fromLatin1(name ? name : ""));
    setWindowTitle(QStringLiteral("Quorvane MySQL ODBC Driver DSN Setup"));
    bool dsn_mode = !prompt_;
    setFixedSize(DIALOG_WIDTH, dsn_mode ? DSN_HEIGHT : PROMPT_HEIGHT);
    int button_y = dsn_mode ? DSN_BUTTON_Y : PROMPT_BUTTON_Y;
    if (dsn_mode) {
        QGroupBox *first = new QGroupBox(this);
        first->setGeometry(BOX_X, BOX_X, BOX_WIDTH, FIRST_BOX_HEIGHT);
        build_box(first, true);
    }
    int box_y = dsn_mode ? SECOND_BOX_Y : BOX_X;
    QGroupBox *box = new QGroupBox(this);
    box->setGeometry(BOX_X, box_y, BOX_WIDTH, button_y - box_y - 10);
    build_box(box, false);
    build_buttons(button_y);
}

void Setup::build_box(QWidget *box, bool dsn_box)
{
    for (const widget_row &r : widget_rows) {
        if (r.dsn_box != dsn_box)
            continue;
        QLabel *label = new QLabel(QString::fromLatin1(r.label), box);
        label->setGeometry(r.right ? RIGHT_LABEL_X : LEFT_LABEL_X, r.y, LABEL_WIDTH, ROW_HEIGHT);
        QWidget *w;
        if (r.kind == WIDGET_EDIT) {
            MQLineEdit *edit = new MQLineEdit(box);
            edit->setGeometry(FIELD_X, r.y, r.width, ROW_HEIGHT);
            if (r.max_length)
                edit->setMaxLength(r.max_length);
            if (r.password)
                edit->setEchoMode(QLineEdit::Password);
            w = edit;
        } else {
            QCheckBox *check = new QCheckBox(box);
            check->setGeometry(r.right ? RIGHT_CHECK_X : FIELD_X, r.y, CHECK_WIDTH, ROW_HEIGHT);
            w = check;
        }
        w->setToolTip(QString::fromLatin1(r.tip));
        w->setWhatsThis(QString::fromLatin1(r.tip));
        label->setBuddy(w);
        fields_[r.id] = w;
    }
}

static QPushButton *make_button(QWidget *parent, const char *text, const char *tip, int x, int y)
{
    QPushButton *b = new QPushButton(QString::fromLatin1(text), parent);
    b->setGeometry(x, y, BUTTON_WIDTH, BUTTON_HEIGHT);
    if (tip)
        b->setToolTip(QString::fromLatin1(tip));
    return b;
}

void Setup::build_buttons(int y)
{
    bool help = help_viewer_available();
    test_ = make_button(this, "&Test", "Test connection", 20, y);
    ok_ = make_button(this, "O&K", "Save changes and finish", help ? 180 : 260, y);
    cancel_ = make_button(this, "&Cancel", "Exit without saving changes", help ? 260 : 340, y);
    connect(test_, SIGNAL(clicked()), this, SLOT(Dsn_test()));
    connect(ok_, SIGNAL(clicked()), this, SLOT(Ok()));
    connect(ok_, SIGNAL(clicked()), this, SLOT(accept()));
    connect(cancel_, SIGNAL(clicked()), this, SLOT(Cancel()));
    connect(cancel_, SIGNAL(clicked()), this, SLOT(reject()));
    if (help) {
        QPushButton *h = make_button(this, "&Help", nullptr, 340, y);
        connect(h, SIGNAL(clicked()), this, SLOT(about()));
    }
}

void Setup::set_driver(const char *description)
{
    /* one line of text at most */
    std::string d(description ? description : "");
    size_t nl = d.find_first_of("\r\n");
    if (nl != std::string::npos)
        d.resize(nl);
    driver_ = d;
}

QString Setup::to_qstring(const std::string &s) const
{
    return narrow_utf8_ ? QString::fromUtf8(s.data(), (int)s.size())
                        : QString::fromLatin1(s.data(), (int)s.size());
}

std::string Setup::from_qstring(const QString &s, bool utf8) const
{
    QByteArray b = utf8 ? s.toUtf8() : s.toLatin1();
    return std::string(b.constData(), (size_t)b.size());
}

void Setup::load(const char *attributes)
{
    values_load(loaded_, attributes);
    list_dsn_ = attribute_dsn(attributes);
    show_values(loaded_);
}

void Setup::show_values(const dsn_values &v)
{
    for (int i = 0; i < VALUE_COUNT; i++) {
        QWidget *w = fields_[i];
        if (!w)
            continue;
        value_id id = (value_id)i;
        if (QCheckBox *check = qobject_cast<QCheckBox *>(w))
            check->setChecked(v.number[id] == 1);
        else if (MQLineEdit *edit = qobject_cast<MQLineEdit *>(w))
            edit->setText(value_kind_of(id) == KIND_TEXT ? to_qstring(v.text[id])
                                                         : QString::number(v.number[id]));
    }
}

void Setup::disable_dsn_name()
{
    if (fields_[SET_DSN])
        fields_[SET_DSN]->setEnabled(false);
}

/* The values on screen; what has no field keeps what was loaded. */
dsn_values Setup::collect() const
{
    dsn_values v = loaded_;
    values_as_shown(v);
    for (int i = 0; i < VALUE_COUNT; i++) {
        QWidget *w = fields_[i];
        if (!w)
            continue;
        value_id id = (value_id)i;
        if (QCheckBox *check = qobject_cast<QCheckBox *>(w)) {
            v.number[id] = check->isChecked() ? 1 : 0;
        } else if (MQLineEdit *edit = qobject_cast<MQLineEdit *>(w)) {
            if (value_kind_of(id) == KIND_TEXT)
                v.text[id] = from_qstring(edit->text(), narrow_utf8_);
            else
                v.number[id] = (int)strtol(edit->text().toLatin1().constData(), nullptr, 10);
        }
    }
    return v;
}

void Setup::Ok()
{
    dsn_values v = collect();
    if (prompt_) {
        values_fill_prompt(v, prompt_);
    } else if (values_save_dsn(v, list_dsn_, driver_.c_str()) != 0) {
        save_failed_ = true;
    }
    result_ = 0;
}

void Setup::Cancel() { result_ = 100; }

void Setup::about() { show_help(HELP_CONTEXT); }

void Setup::Dsn_test()
{
    test_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    /* The driver's test connection reads texts one byte per character. */
    dsn_values v = collect();
    for (int i = 0; i < VALUE_COUNT; i++)
        if (value_kind_of((value_id)i) == KIND_TEXT)
            v.text[i] = from_qstring(to_qstring(v.text[i]), false);
    my_prompt *record = new my_prompt();
    values_fill_test_record(v, record);
    driver_test_fn test = find_driver_test();
    if (!test) {
        QApplication::restoreOverrideCursor();
    } else {
        char message[DRIVER_TEST_MESSAGE_SIZE] = "";
        int rc = test(record, message);
        message[sizeof message - 1] = 0;
        QApplication::restoreOverrideCursor();
        if (rc != 0)
            show_message(this, MESSAGE_WARNING, "MySQL ODBC Driver Test",
                         message[0] ? message : "Test failed - with no information");
        else
            show_message(this, MESSAGE_INFORMATION, "MySQL ODBC Driver Test", message);
    }
    /* the record holds the password: clear it before giving the memory back */
    explicit_bzero(record, sizeof *record);
    delete record;
    test_->setEnabled(true);
    setEnabled(true);
    activateWindow();
    raise();
}
