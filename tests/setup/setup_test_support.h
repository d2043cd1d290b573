// Support for the setup library's tests: a private odbcinst.ini naming the
// built driver and setup library, odbc.ini access, the Qt application
// (created on demand, so a test can run without one), and the real library
// opened by path.
#ifndef QV_SETUP_TEST_SUPPORT_H
#define QV_SETUP_TEST_SUPPORT_H

#include <string>

class QApplication;

// The offscreen application of this test process, created at first use.
QApplication *test_app(void);

// A value of odbc.ini as the installer reads it ("" when absent).
std::string ini_get(const std::string &dsn, const char *key);
// Writes one key of odbc.ini.
void ini_put(const std::string &dsn, const char *key, const char *value);
// The installer's first queued error code (0 when none) and its text.
int installer_error(std::string *text = nullptr);

// A symbol of the built libqvmysqlS.so (the library stays open).
void *setup_symbol(const char *name);

#endif
