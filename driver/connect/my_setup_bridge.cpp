/*
 * The bridge to the setup library: the driver has no user interface, so
 * when SQLDriverConnect must ask for connection details or show why a
 * connection failed, it loads the setup library named by its odbcinst.ini
 * entry, calls complete_info or complete_error, and unloads it again.
 *
 * Without a windowing system there is no message box to tell the user that
 * the library is missing: the message goes to the trace log and to standard
 * error, and prompting answers SQL_NO_DATA without a diagnostic.
 */
#include "connect/my_connect.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "frame/my_handle.h"

enum { SETUP_VALUE_SIZE = 512, ERROR_TEXT_SIZE = 1024 };

/* The directory part of the Setup value: the value cut where the library's
 * file name starts (a value that does not name the file is a directory). */
static std::string setup_directory(void)
{
    char value[SETUP_VALUE_SIZE] = "";
    SQLGetPrivateProfileString(QV_DRIVER_NAME, "Setup", "", value, sizeof value, "odbcinst.ini");
    value[sizeof value - 1] = 0;
    std::string dir(value);
    size_t at = dir.rfind(QV_SETUP_LIBRARY);
    if (at != std::string::npos)
        dir.resize(at);
    return dir;
}

/* The library from the Setup value's directory, else by the default search.
 * An empty directory goes straight to the default search: "/" + name would
 * look in the root directory. */
static void *load_setup_library(my_connection *c)
{
    std::string dir = setup_directory();
    void *lib = nullptr;
    if (!dir.empty()) {
        std::string path = dir;
        if (path.back() != '/')
            path += '/';
        path += QV_SETUP_LIBRARY;
        lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char *why = dlerror();
            QV_TRACE(c, LOG_DETAIL, "setup library '%s' not loaded: %s", path.c_str(),
                     why ? why : "");
        }
    }
    if (!lib)
        lib = dlopen(QV_SETUP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    return lib;
}

static void report_unloadable(my_connection *c)
{
    QV_TRACE(c, LOG_ERROR, "Unable to load setup library (%s)", QV_SETUP_LIBRARY);
    fprintf(stderr, "Quorvane ODBC: Unable to load setup library (%s)\n", QV_SETUP_LIBRARY);
}

/* Loads the library and finds name in it. On success *lib holds the library
 * for the caller to close; on failure the user is told and null returned. */
static void *setup_symbol(my_connection *c, const char *name, void **lib)
{
    *lib = load_setup_library(c);
    void *fn = *lib ? dlsym(*lib, name) : nullptr;
    if (!fn) {
        if (*lib) {
            dlclose(*lib);
            *lib = nullptr;
        }
        report_unloadable(c);
    }
    return fn;
}

int setup_prompt(my_connection *c, void *window, my_prompt *record)
{
    void *lib = nullptr;
    complete_info_fn info = (complete_info_fn)setup_symbol(c, "complete_info", &lib);
    if (!info)
        return SQL_NO_DATA;
    int rc = info(c, window, record);
    dlclose(lib);
    QV_TRACE(c, LOG_DETAIL, "complete_info returns %d", rc);
    /* 0 means answers; whatever else the library says means none, and must
     * not reach the application as a success code of an unconnected handle. */
    return rc == 0 ? 0 : SQL_NO_DATA;
}

void setup_show_error(my_connection *c, const char *text, void *window)
{
    char bounded[ERROR_TEXT_SIZE];
    snprintf(bounded, sizeof bounded, "%s", text ? text : "");
    void *lib = nullptr;
    complete_error_fn show = (complete_error_fn)setup_symbol(c, "complete_error", &lib);
    if (!show)
        return;
    show(c, bounded, window);
    dlclose(lib);
}

void collect_diag_text(my_connection *c, char *buf, size_t size)
{
    if (!size)
        return;
    size_t used = 0;
    buf[0] = 0;
    int n = diag_count(c);
    for (int i = 1; i <= n && used + 1 < size; i++) {
        diag_record *r = diag_get(c, i);
        char *msg = r ? ms_to_narrow(r->message, c) : nullptr;
        std::string line = std::string(msg ? msg : "") + "\n";
        free(msg);
        size_t take = line.size();
        if (take > size - 1 - used) {
            take = size - 1 - used;
            /* never end inside a UTF-8 sequence */
            while (take > 0 && ((unsigned char)line[take] & 0xC0) == 0x80)
                take--;
        }
        memcpy(buf + used, line.data(), take);
        used += take;
        if (take < line.size())
            break;
    }
    buf[used] = 0;
}

/* ------------------------------------------------------------------ apply */

int setup_apply(my_connection *c, const my_prompt *record)
{
    /* Texts first, while ConvToUtf is still the value complete_info encoded
     * the initial values with: the answers come back in that encoding. */
    for (const setting_row &r : setting_table) {
        const char *v = setting_prompt_text(r, record);
        if (!v)
            continue;
        my_string *&slot = c->*(r.text);
        ms_free(slot);
        slot = nullptr;
        size_t n = strnlen(v, PROMPT_TEXT_SIZE);   /* the library may not terminate it */
        if (!n)
            continue;
        slot = ms_from_narrow(v, (int64_t)n, c);
        if (!slot) {
            post_error(c, ST_HY001, 0, nullptr);
            return -1;
        }
    }
    for (const setting_row &r : setting_table)
        if (const int32_t *v = setting_prompt_number(r, record))
            c->*(r.number) = *v;
    return 0;
}
