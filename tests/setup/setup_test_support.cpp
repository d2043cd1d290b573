// The private ini files and helpers of the setup tests, and their main().
#include "setup/setup_test_support.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QApplication>

namespace {

// unixODBC reads ODBCSYSINI once, at the first installer call: the driver's
// entry is written as a file before any test runs.
void write_odbcinst(void)
{
    mkdir(QV_SETUP_INI_DIR, 0755);
    std::string path = std::string(QV_SETUP_INI_DIR) + "/odbcinst.ini";
    FILE *f = fopen(path.c_str(), "w");
    if (!f)
        return;
    fprintf(f, "[Quorvane MySQL ODBC Driver]\nDriver = %s\nSetup = %s\n", QV_DRIVER_LIB,
            QV_SETUP_LIB);
    fclose(f);
    std::string odbc = std::string(QV_SETUP_INI_DIR) + "/odbc.ini";
    if (FILE *g = fopen(odbc.c_str(), "a"))
        fclose(g);
}

int app_argc = 1;
char app_name[] = "setup_tests";
char *app_argv[] = {app_name, nullptr};

} // namespace

QApplication *test_app(void)
{
    static QApplication *app = new QApplication(app_argc, app_argv);
    return app;
}

std::string ini_get(const std::string &dsn, const char *key)
{
    char buf[1100] = "";
    SQLGetPrivateProfileString(dsn.c_str(), key, "", buf, sizeof buf - 1, "odbc.ini");
    return buf;
}

void ini_put(const std::string &dsn, const char *key, const char *value)
{
    SQLWritePrivateProfileString(dsn.c_str(), key, value, "odbc.ini");
}

int installer_error(std::string *text)
{
    DWORD code = 0;
    char msg[512] = "";
    WORD len = 0;
    if (SQLInstallerError(1, &code, msg, sizeof msg, &len) != SQL_SUCCESS)
        return 0;
    if (text)
        *text = msg;
    return (int)code;
}

void *setup_symbol(const char *name)
{
    static void *lib = dlopen(QV_SETUP_LIB, RTLD_NOW | RTLD_LOCAL);
    return lib ? dlsym(lib, name) : nullptr;
}

int main(int argc, char **argv)
{
    write_odbcinst();
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    delete QApplication::instance();
    return rc;
}
