/*
 * SQLDriverConnect and SQLDriverConnectW: connect from a connection string,
 * completed from its DSN and, where the application allows, by prompting the
 * user through the setup library; then hand back the completed string.
 */
#include <memory>
#include <new>

#include "connect/my_connect.h"
#include "frame/my_handle.h"

enum { NATIVE_NO_SERVER = 68, NATIVE_NO_SERVER_W = 61, NATIVE_CUT = 176, NATIVE_CUT_W = 167 };

struct driver_connect_call {
    void *window;
    SQLUSMALLINT completion;
    int wide;
    const char *fname;
};

/* Prompts, and on a confirmed dialog takes its answers. 0 when the settings
 * hold the answers, else the result for the application. */
static SQLRETURN prompt_and_apply(my_connection *c, const driver_connect_call &call,
                                  std::unique_ptr<my_prompt> &record)
{
    if (!record) {   /* zero-filled once, then shared by every prompt of this call */
        record.reset(new (std::nothrow) my_prompt());
        if (!record) {
            post_error(c, ST_HY001, 0, nullptr);
            return SQL_ERROR;
        }
    }
    int rc = setup_prompt(c, call.window, record.get());
    if (rc != 0)
        return (SQLRETURN)rc;
    return setup_apply(c, record.get()) == 0 ? SQL_SUCCESS : SQL_ERROR;
}

/* Connect, prompting first when asked to, and once more after a failure
 * when the user can see a window and has not been asked yet. */
static SQLRETURN connect_loop(my_connection *c, const driver_connect_call &call)
{
    std::unique_ptr<my_prompt> record;
    bool prompted = false;
    for (;;) {
        bool ask;
        if (c->SERVER || c->SOCKET) {
            ask = call.completion == SQL_DRIVER_PROMPT && !prompted;
        } else {
            /* Without a window nobody can cancel: a dialog that confirms at
             * once would be shown again and again, so one prompt is all. */
            ask = call.completion != SQL_DRIVER_NOPROMPT && (call.window || !prompted);
            if (!ask) {
                post_error(c, ST_HY000, call.wide ? NATIVE_NO_SERVER_W : NATIVE_NO_SERVER,
                           "server name not specified");
                return SQL_ERROR;
            }
        }
        if (!ask) {
            SQLRETURN rc = connect_hand_over(c);
            QV_TRACE(c, LOG_CONTINUE, "%s: my_connect returns %r", call.fname, (int)rc);
            if (rc != SQL_ERROR || !call.window || call.completion == SQL_DRIVER_NOPROMPT ||
                prompted)
                return rc;
            char text[1024];
            collect_diag_text(c, text, sizeof text);
            setup_show_error(c, text, call.window);
            clear_diagnostics(c);
            conn_close_session(c);   /* nothing of the failed attempt carries over */
        }
        SQLRETURN rc = prompt_and_apply(c, call, record);
        if (rc != SQL_SUCCESS)
            return rc;
        prompted = true;
    }
}

static SQLRETURN hand_back(my_connection *c, const driver_connect_call &call, void *out,
                           int64_t out_max, SQLSMALLINT *out_len)
{
    my_string *text = build_out_string(c);
    if (!text) {
        conn_close_session(c);
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    SQLRETURN rc = deliver_out_string(c, text, out, out_max, out_len, call.wide,
                                      call.wide ? NATIVE_CUT_W : NATIVE_CUT);
    if (handle_log_flags(c)) {
        my_string *shown = mask_password(text);
        QV_TRACE(c, LOG_DETAIL, "%s: Output string '%S'", call.fname, shown);
        ms_free(shown);
    }
    ms_free(text);
    return rc;
}

/* Shared by the twins, after the reset and the conversion of the input. */
static SQLRETURN driver_connect(my_connection *c, const driver_connect_call &call,
                                const my_string *in, int text_utf8, void *out, int64_t out_max,
                                SQLSMALLINT *out_len)
{
    if (handle_log_flags(c)) {
        my_string *shown = mask_password(in);
        QV_TRACE(c, LOG_CONTINUE, "%s: con_str_in='%S'", call.fname, shown);
        ms_free(shown);
    }
    setting_given given;
    if (parse_connect_string(c, in, text_utf8, &given, call.fname) != 0 ||
        complete_from_dsn(c, given, text_utf8, call.fname) != 0)
        return SQL_ERROR;
    SQLRETURN rc = connect_loop(c, call);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    SQLRETURN out_rc = hand_back(c, call, out, out_max, out_len);
    return out_rc == SQL_SUCCESS ? rc : out_rc;
}

static SQLRETURN driver_connect_guarded(my_connection *c, const driver_connect_call &call,
                                        const void *in_arg, my_string *in, int text_utf8,
                                        void *out, int64_t out_max, SQLSMALLINT *out_len)
{
    std::unique_ptr<my_string, void (*)(my_string *)> owned(in, ms_free);
    if (in_arg && !in) {
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    try {
        return driver_connect(c, call, in, text_utf8, out, out_max, out_len);
    } catch (...) {   /* nothing may be thrown across the C boundary */
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
}

/* The connection string may hold a password: the ENTRY line shows where it
 * is, and a continuation line shows it converted and masked. */
SQLRETURN SQL_API SQLDriverConnect(SQLHDBC h, SQLHWND hwnd, SQLCHAR *in, SQLSMALLINT in_length,
                                   SQLCHAR *out, SQLSMALLINT out_max, SQLSMALLINT *out_length,
                                   SQLUSMALLINT driver_completion)
try {
    QV_CONN_ENTRY(h, c, "SQLDriverConnect",
                  "SQLDriverConnect: input_handle=%p, hwnd=%p, con_str_in=%p, con_str_out=%p, "
                  "conn_str_out_max=%d, ptr_conn_str_out=%p, driver_completion=%d",
                  h, (void *)hwnd, in, out, (int)out_max, out_length, (int)driver_completion);
    conn_reset(c);
    /* How the input was decoded, so a DSN name goes back to the installer as
     * the same bytes (parsing resets ConvToUtf). */
    int text_utf8 = narrow_text_utf8((const char *)in, in_length, c);
    my_string *text = ms_from_narrow_as((const char *)in, in_length, text_utf8);
    driver_connect_call call = {(void *)hwnd, driver_completion, 0, "SQLDriverConnect"};
    return QV_LEAVE(
        driver_connect_guarded(c, call, in, text, text_utf8, out, out_max, out_length));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC h, SQLHWND hwnd, SQLWCHAR *in, SQLSMALLINT in_length,
                                    SQLWCHAR *out, SQLSMALLINT out_max, SQLSMALLINT *out_length,
                                    SQLUSMALLINT driver_completion)
try {
    QV_CONN_ENTRY(h, c, "SQLDriverConnectW",
                  "SQLDriverConnectW: input_handle=%p, hwnd=%p, con_str_in=%p, con_str_out=%p, "
                  "conn_str_out_max=%d, ptr_conn_str_out=%p, driver_completion=%d",
                  h, (void *)hwnd, in, out, (int)out_max, out_length, (int)driver_completion);
    conn_reset(c);
    my_string *text = ms_from_wide(in, in_length, c);
    /* The output is UTF-16 counted in characters, whatever ConvWToUtf says;
     * a DSN name given in wide text reaches the installer as UTF-8. */
    driver_connect_call call = {(void *)hwnd, driver_completion, 1, "SQLDriverConnectW"};
    return QV_LEAVE(driver_connect_guarded(c, call, in, text, 1, out, out_max, out_length));
}
QV_CATCH(h)
