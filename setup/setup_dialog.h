/*
 * The Setup dialog: edits a DSN (DSN mode) or asks for connection details
 * for the driver (prompt mode, with a prompt record), and tests a logon with
 * the values on screen. MQLineEdit is the line edit of every field: it
 * refuses to cut or copy a password.
 */
#ifndef QV_SETUP_DIALOG_H
#define QV_SETUP_DIALOG_H

#include <string>

#include <QDialog>
#include <QLineEdit>

#include "setup_values.h"

class QKeyEvent;
class QPushButton;

class MQLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit MQLineEdit(QWidget *parent = nullptr) : QLineEdit(parent) {}

public slots:
    void cut();
    void copy();
    void paste();

protected:
    /* The keyboard's cut and copy reach the slots above, not QLineEdit's. */
    void keyPressEvent(QKeyEvent *event) override;
};

class Setup : public QDialog {
    Q_OBJECT
public:
    /* record: prompt mode; null: DSN mode. */
    Setup(QWidget *parent, const char *name, my_prompt *record);

    /* The text shown and written as the DSN's driver (one line). */
    void set_driver(const char *description);
    /* Prompt mode: the connection's narrow texts are UTF-8 (else Latin-1). */
    void set_narrow_utf8(bool utf8) { narrow_utf8_ = utf8; }
    /* Fills the widgets from an attribute list and the stored DSN. */
    void load(const char *attributes);
    void disable_dsn_name();

    int result_code() const { return result_; }
    /* Ok() could not save the DSN (the installer's errors are queued). */
    bool save_failed() const { return save_failed_; }
    /* The widget of one value (MQLineEdit or QCheckBox); null when the
     * dialog has none in this mode. */
    QWidget *field(value_id id) const { return fields_[id]; }
    QPushButton *test_button() const { return test_; }
    QPushButton *ok_button() const { return ok_; }
    QPushButton *cancel_button() const { return cancel_; }

public slots:
    void about();
    void Ok();
    void Cancel();
    void Dsn_test();

private:
    void build_box(QWidget *box, bool dsn_box);
    void build_buttons(int y);
    void show_values(const dsn_values &v);
    dsn_values collect() const;
    QString to_qstring(const std::string &s) const;
    std::string from_qstring(const QString &s, bool utf8) const;

    int result_ = 0;
    bool save_failed_ = false;
    my_prompt *prompt_;
    bool narrow_utf8_ = true;        /* DSN mode: odbc.ini holds UTF-8 */
    std::string driver_;
    std::string list_dsn_;           /* the DSN the attribute list named */
    dsn_values loaded_;              /* what load() read, for the values without a field */
    QWidget *fields_[VALUE_COUNT] = {};
    QPushButton *test_ = nullptr;
    QPushButton *ok_ = nullptr;
    QPushButton *cancel_ = nullptr;
};

#endif
