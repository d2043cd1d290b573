// The private odbc.ini / odbcinst.ini directory of the unit tests (see
// ini_sandbox.h for the installer behaviour this works around).
#include "unit/ini_sandbox.h"

#include <odbcinst.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "my_settings.h"

namespace {

std::string make_sandbox()
{
    char tmpl[] = "/tmp/qv_ini_XXXXXX";
    const char *dir = mkdtemp(tmpl);
    if (!dir)
        abort();
    std::string d(dir);
    std::ofstream(d + "/odbc.ini").close();
    std::ofstream(d + "/odbcinst.ini").close();
    setenv("ODBCSYSINI", d.c_str(), 1);
    setenv("ODBCINI", (d + "/odbc.ini").c_str(), 1);
    unsetenv("ODBCINSTINI");   // read relative to ODBCSYSINI: it would hide ours
    // The path is copied for the exit handler: the string itself may be
    // destroyed before the handler runs.
    static char at_exit_path[64];
    snprintf(at_exit_path, sizeof at_exit_path, "%s", dir);
    atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(at_exit_path, ec);
    });
    return d;
}

// Before main, so before any installer call of the process.
const std::string &sandbox_at_start = ini_sandbox_dir();

} // namespace

const std::string &ini_sandbox_dir(void)
{
    static const std::string dir = make_sandbox();
    return dir;
}

void ini_flush_cache(void)
{
    SQLWritePrivateProfileString("qv_cache_flush", "n", "1", "odbc.ini");
}

void ini_remove_dsn(const char *dsn)
{
    SQLWritePrivateProfileString(dsn, nullptr, nullptr, "odbc.ini");
    ini_flush_cache();
}

void ini_set_dsn(const char *dsn,
                 std::initializer_list<std::pair<const char *, const char *>> keys)
{
    ini_remove_dsn(dsn);
    for (const auto &kv : keys)
        SQLWritePrivateProfileString(dsn, kv.first, kv.second, "odbc.ini");
    ini_flush_cache();
}

void ini_append_raw(const std::string &text)
{
    std::ofstream(ini_sandbox_dir() + "/odbc.ini", std::ios::app) << text;
    ini_flush_cache();
}

void ini_set_setup(const std::string &value)
{
    std::ofstream(ini_sandbox_dir() + "/odbcinst.ini", std::ios::trunc)
        << "[" QV_DRIVER_NAME "]\nSetup=" << value << "\n";
    ini_flush_cache();
}
