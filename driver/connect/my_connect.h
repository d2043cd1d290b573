/*
 * The connect path shared by SQLConnect(W), SQLDriverConnect(W) and
 * SQLDisconnect: the reset, the settings readers (connection string, DSN),
 * the output connection string, the hand-over to the logon, and the bridge
 * to the setup library that prompts the user.
 *
 * Settings live in my_connection (include/my_settings.h lists them). Text
 * from the application is turned into my_string by the connection's rules
 * before it gets here; `text_utf8` below says how that text maps back to the
 * bytes the ODBC installer and the trace log file name need (the rule that
 * was in force when the application's text was converted).
 */
#ifndef QV_MY_CONNECT_H
#define QV_MY_CONNECT_H

#include <bitset>

#include <sql.h>

#include "my_handles.h"
#include "my_prompt.h"
#include "my_settings.h"

/* Returns the connection to its state after allocation, as far as the
 * settings and the session go: closes the socket and frees the session,
 * frees every text setting, and zeroes the settings the connect entry points
 * do not always set again. Keeps the trace mask and LogFile, wchar_type, the
 * connection attributes, and PORT, IPV6, ConnectionTimeout, ConvToUtf,
 * ConvWToUtf, ReqCharSet, Text_Prepare, RCVBUFFER, SOKEEPALIVE, GSSFLAG.
 * The attributes stay because applications (and the driver manager) set
 * SQL_ATTR_LOGIN_TIMEOUT and friends before calling SQLDriverConnect, which
 * starts with this reset; SQLDisconnect restores them itself. */
void conn_reset(my_connection *c);

/* Ends the server session, as SQLDisconnect and driver_test do: COM_QUIT
 * (no reply is read; a send that fails is not an error here), then TLS, the
 * collation table and the socket go. Nothing else of the handle changes. */
void disconnect_server(my_connection *c);

/* ---- value forms (my_settings.cpp) ---- */
/* Decimal up to the first non-digit after optional blanks and sign ("12abc"
 * gives 12, "abc" 0); saturates instead of overflowing. */
int32_t setting_integer(const char *text);
/* DSN Boolean: "yes"/"true" 1, "no" 0, else the integer value; with
 * optional_word, "optional" gives 2 (Encrypt as SQLConnect reads it). */
int32_t setting_dsn_bool(const char *text, int optional_word);
/* Connection-string Boolean by the row's rule. */
int32_t setting_cs_bool(const char *text, setting_bool_rule rule);
/* Encrypt, read alike from a connection string and from a DSN: "no" or 0
 * no TLS, "optional" or 2 optional TLS, "yes", "true" or any other number
 * TLS required. */
int32_t setting_encrypt(const char *text);

/* Which settings a connection string gave (numbers and Booleans; texts are
 * given when not null). */
typedef std::bitset<SETTING_COUNT> setting_given;

/* ---- SQLDriverConnect (my_settings.cpp) ---- */
/* Parses the connection string into the settings. Every number and Boolean
 * starts at its initial value (0 for most) and is marked in *given when the
 * string sets it; texts keep the first occurrence, numbers the last. fname
 * prefixes the trace lines. 0, or -1 with HY001 posted. */
int parse_connect_string(my_connection *c, const my_string *in, int text_utf8,
                         setting_given *given, const char *fname);
/* Fills what the connection string left open from the DSN named by c->DSN
 * (nothing to read without one), then forces negative numbers to 0.
 * 0, or -1 with HY001 posted. */
int complete_from_dsn(my_connection *c, const setting_given &given, int text_utf8,
                      const char *fname);

/* ---- SQLConnect (my_settings.cpp) ---- */
/* Clears the settings and fills them from the DSN named dsn, with uid and
 * pwd (null when not passed) in front of the DSN's User and Password. Takes
 * over dsn, uid and pwd. Leaves SERVER and SOCKET null when the DSN names
 * neither. 0, or -1 with HY001 posted. */
int connect_read_dsn(my_connection *c, my_string *dsn, my_string *uid, my_string *pwd,
                     int text_utf8);

/* ---- driver_test (my_settings.cpp) ---- */
/* Fills the settings the prompt record has no field for from the DSN the
 * record named (c->DSN, one byte per character), so a test logon of a
 * stored DSN uses all of its keys. 0, or -1 with HY001 posted. */
int complete_unprompted_from_dsn(my_connection *c);

/* The keys each DSN reader takes, in its order (SQLConnect reads Server and
 * Socket before its list). */
struct setting_order {
    const setting_id *ids;
    size_t count;
};
setting_order dsn_connect_order(void);
setting_order dsn_complete_order(void);

/* ---- output connection string (my_settings.cpp) ---- */
/* The completed connection string, in table order. Null when memory runs out. */
my_string *build_out_string(const my_connection *c);
/* A copy of a connection string with the value of every PWD segment replaced
 * by "****", for trace lines. Null in, null out. */
my_string *mask_password(const my_string *conn_str);

/* ---- hand-over and output (my_connect.cpp) ---- */
/* The logon (my_logon), then the post-logon session statements
 * (session_setup): 0 logged on; 1 logged on but the session set-up failed
 * (SQL_SUCCESS_WITH_INFO); -1 failed with diagnostics posted on the
 * connection. A failed logon closes the socket again and leaves connected
 * at 0. */
int my_connect(my_connection *c);
/* Sets the effective logon time-out and calls my_connect: SQL_SUCCESS,
 * SQL_SUCCESS_WITH_INFO (logged on, session set-up failed) or SQL_ERROR. */
SQLRETURN connect_hand_over(my_connection *c);
/* Copies the output string into the application's buffer (narrow, or UTF-16
 * counted in characters when wide) and its length into *out_len. A cut text
 * posts 01004 with native and gives SQL_SUCCESS_WITH_INFO. */
SQLRETURN deliver_out_string(my_connection *c, const my_string *out, void *buf,
                             int64_t buf_max, SQLSMALLINT *out_len, int wide, int native);

/* ---- setup library (my_setup_bridge.cpp) ---- */
/* Shows the prompt dialog: complete_info's result (0 answers in *record),
 * or SQL_NO_DATA when the setup library or the function cannot be loaded. */
int setup_prompt(my_connection *c, void *window, my_prompt *record);
/* Shows text (cut to 1023 bytes) through complete_error, if it can be loaded. */
void setup_show_error(my_connection *c, const char *text, void *window);
/* Replaces the settings the record carries by its answers. 0, or -1 with
 * HY001 posted. */
int setup_apply(my_connection *c, const my_prompt *record);
/* The messages of the connection's diagnostics, each followed by "\n", as
 * narrow text cut to 1023 bytes (what complete_error is shown). */
void collect_diag_text(my_connection *c, char *buf, size_t size);

#endif
