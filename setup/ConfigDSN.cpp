/*
 * ConfigDSN: the ODBC installer's entry for adding, configuring and removing
 * a data source of this driver.
 */
#include <sql.h>
#include <odbcinst.h>
#include <string.h>

/* BOOL results; the installer headers leave TRUE and FALSE to Windows. */
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#include <string>

#include "setup_run.h"
#include "setup_values.h"

enum { INSTALLER_TEXT_SIZE = 512 };

static BOOL remove_dsn(const char *attributes)
{
    std::string name = attribute_dsn(attributes);
    if (name.empty()) {
        SQLPostInstallerError(ODBC_ERROR_INVALID_NAME, "Invalid DSN specified to ODBC_REMOVE_DSN");
        return FALSE;
    }
    if (SQLRemoveDSNFromIni(name.c_str()))
        return TRUE;
    repost_installer_errors();
    return FALSE;
}

extern "C" BOOL INSTAPI ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    if (request != ODBC_ADD_DSN && request != ODBC_CONFIG_DSN && request != ODBC_REMOVE_DSN) {
        SQLPostInstallerError(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
        return FALSE;
    }
    if (request != ODBC_ADD_DSN && (!attributes || !*attributes)) {
        SQLPostInstallerError(ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes");
        return FALSE;
    }
    if (request == ODBC_REMOVE_DSN)
        return remove_dsn(attributes);
    try {
        dialog_request r;
        r.attributes = attributes;
        r.parent = (void *)parent;
        r.driver = driver;
        r.adding = request == ODBC_ADD_DSN;
        run_dialog(r);
        /* Cancel is the user's choice and not a failure; a DSN that could
         * not be saved is, and the installer's errors say why. */
        return r.failed ? FALSE : TRUE;
    } catch (...) {   /* nothing may be thrown across the C boundary */
        SQLPostInstallerError(ODBC_ERROR_OUT_OF_MEM, "Out of memory");
        return FALSE;
    }
}

/* The same outcome as 1 or 0, for callers that take an int. */
extern "C" int ConfigDSN_I(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    return ConfigDSN(parent, request, driver, attributes) ? 1 : 0;
}
