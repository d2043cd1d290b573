/*
 * ConfigDriver: the ODBC installer's call when the driver is installed or
 * removed. Nothing needs doing beyond answering.
 */
#include <sql.h>
#include <odbcinst.h>
#include <string.h>

/* BOOL results; the installer headers leave TRUE and FALSE to Windows. */
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

static const char FAREWELL[] = "Bye Bye from the Quorvane MySQL ODBC Driver";

extern "C" BOOL INSTAPI ConfigDriver(HWND parent, WORD request, LPCSTR driver, LPCSTR args,
                                     LPSTR message, WORD message_max, WORD *message_out)
{
    (void)parent;
    (void)driver;
    (void)args;
    if (request != ODBC_INSTALL_DRIVER && request != ODBC_REMOVE_DRIVER) {
        SQLPostInstallerError(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
        return FALSE;
    }
    if (message && message_max > 0) {
        size_t n = strlen(FAREWELL);
        if (n > (size_t)message_max - 1)
            n = (size_t)message_max - 1;
        memcpy(message, FAREWELL, n);
        message[n] = 0;
    }
    /* the whole text's length, as the installer API counts it */
    if (message_out)
        *message_out = (WORD)strlen(FAREWELL);
    return TRUE;
}
