/*
 * The connection settings: one table that drives the connection-string
 * parser, the DSN readers, the output connection string and the setup
 * dialog, the setup library's lists and the logon of the connection's helper
 * link. A new keyword is one new row: the DSN readers take rows their
 * historical orders do not name after those, the setup library holds,
 * reads, passes on and carries over every row, and only a dialog widget of
 * its own needs a line in the setup library.
 *
 * Header-only data: the setup library compiles against it too, and reaches
 * the fields of my_connection through the pointers-to-member of each row.
 */
#ifndef QV_MY_SETTINGS_H
#define QV_MY_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"
#include "my_prompt.h"

/* The driver's entry in odbcinst.ini, also written into the output
 * connection string when there is no DSN. */
#define QV_DRIVER_NAME "Quorvane MySQL ODBC Driver"

/* How a setting's value is written and stored. */
enum setting_form : uint8_t {
    FORM_TEXT,     /* my_string; absent (null) unless given; empty counts as not given */
    FORM_INTEGER,  /* decimal, read up to the first non-digit */
    FORM_BOOLEAN,  /* 0 or 1 (a DSN may also give any integer) */
    FORM_ENCRYPT,  /* 0 no, 1 yes, 2 optional */
    FORM_LOGGING,  /* the trace mask, stored in hdr.log_flags */
    FORM_LOGFILE,  /* a path of at most 259 bytes, stored in LogFile */
};

/* When and how a setting appears in the output connection string. */
enum setting_output : uint8_t {
    OUT_NEVER,
    OUT_TEXT,      /* out_form with %S, when the text is set */
    OUT_NONZERO,   /* out_form with %d, when not 0 */
    OUT_FLAG,      /* out_form as it stands, when not 0 */
    OUT_PORT,      /* out_form with %d, when above 0 and not the default 3306 */
    OUT_CHANGED,   /* out_form with %d, when not the row's initial value */
};

/* How a connection string spells a Boolean. Strict keys take "yes" or "true"
 * (and a non-zero number) as 1 and anything else as 0; lenient keys take
 * "yes" or "true" as 1 and anything else as its integer value. */
enum setting_bool_rule : uint8_t { BOOL_STRICT, BOOL_LENIENT };

/* Row numbers of the table, in table order (the order of the output string). */
enum setting_id {
    SET_DSN, SET_UID, SET_PWD, SET_SERVER, SET_SOCKET, SET_DATABASE, SET_PORT, SET_IPV6,
    SET_RCVBUFFER, SET_SOKEEPALIVE, SET_PacketSize, SET_PrivateKeyFile, SET_CertificateFile,
    SET_PublicKeyFile, SET_Entropy, SET_TrustServerCertificate, SET_Compress,
    SET_character_set_client, SET_character_set_results, SET_ReqCharSet,
    SET_collation_connection, SET_Text_Prepare, SET_NoCache, SET_ConvToUtf, SET_ConvWToUtf,
    SET_AnsiMode, SET_SQLMode, SET_WindowsUser, SET_NTLMv2, SET_Kerberos, SET_GSSLIB,
    SET_GSSFLAG, SET_Principal, SET_NullDatetimes, SET_TimeAsTime, SET_LocalInfile,
    SET_EnableCleartextPlugin, SET_HostNameInCertificate, SET_NoBinaryDirect,
    /* never written out */
    SET_Encrypt, SET_LogonTimeout, SET_ConnectionTimeout, SET_Logging, SET_LogFile,
    SETTING_COUNT
};

struct setting_row {
    setting_id id;
    const char *keyword;      /* connection-string keyword, matched without case */
    const char *ini_key;      /* odbc.ini key; null for DSN, which is the section name */
    const char *out_form;     /* piece of the output string; null when never written */
    setting_form form;
    setting_output output;
    setting_bool_rule bool_rule;
    my_string *my_connection::*text;   /* FORM_TEXT */
    int32_t my_connection::*number;    /* FORM_INTEGER, FORM_BOOLEAN, FORM_ENCRYPT */
    int32_t initial;          /* a number's value when nothing gives one (0 for most) */
    /* The setup library's orders, counted from 1; 0 where the row has no
     * fixed place. list_at: the attribute list complete_info gives the
     * dialog (texts when set, then numbers; rows without a place follow in
     * table order). write_at: the keys the dialog writes to odbc.ini, in
     * order (after "Description"); rows without a place are carried over. */
    uint8_t list_at;
    uint8_t write_at;
    /* Offset of the setting's field in the prompt record, -1 when the
     * record has none (such settings keep their values over a prompt). */
    int16_t prompt_at;
    /* The setting's own name (its field in my_connection): the key of the
     * attribute list complete_info gives the dialog. */
    const char *name;
    /* Other spellings people write: alias in a connection string, ini_alias
     * in odbc.ini (null: none). The row's own keyword or key wins when both
     * are given; the output string and the DSN writer use the own one. */
    const char *alias;
    const char *ini_alias;
};

#define QV_PROMPT(field) ((int16_t)offsetof(my_prompt, field))
#define QV_NO_PROMPT ((int16_t)-1)

/* Rows: id, connection-string keyword, odbc.ini key, output piece, [form,
 * output rule, Boolean rule,] field, list_at, write_at, prompt field. */
#define QV_TEXT_ROW(id, kw, ini, out, field, list_at, write_at, prompt) \
    {id, kw, ini, out, FORM_TEXT, OUT_TEXT, BOOL_STRICT, &my_connection::field, nullptr, 0, \
     list_at, write_at, prompt, #field, nullptr, nullptr}
/* A text with other spellings, and a field in the prompt record. */
#define QV_ALIASED_ROW(id, kw, ini, out, field, list_at, write_at, alias, ini_alias) \
    {id, kw, ini, out, FORM_TEXT, OUT_TEXT, BOOL_STRICT, &my_connection::field, nullptr, 0, \
     list_at, write_at, QV_PROMPT(field), #field, alias, ini_alias}
#define QV_NUM_ROW(id, kw, ini, out, form, output, rule, field, list_at, write_at, prompt) \
    {id, kw, ini, out, form, output, rule, nullptr, &my_connection::field, 0, list_at, \
     write_at, prompt, #field, nullptr, nullptr}

inline constexpr setting_row setting_table[SETTING_COUNT] = {
    QV_TEXT_ROW(SET_DSN, "dsn", nullptr, "DSN=%S;", DSN, 1, 0, QV_PROMPT(DSN)),
    QV_ALIASED_ROW(SET_UID, "uid", "User", "UID=%S;", UID, 2, 3, "user", "UID"),
    QV_ALIASED_ROW(SET_PWD, "pwd", "Password", "PWD=%S;", PWD, 3, 4, "password", "PWD"),
    QV_TEXT_ROW(SET_SERVER, "server", "Server", "SERVER=%S;", SERVER, 4, 2, QV_PROMPT(SERVER)),
    QV_TEXT_ROW(SET_SOCKET, "socket", "Socket", "SOCKET=%S;", SOCKET, 0, 0, QV_PROMPT(SOCKET)),
    QV_ALIASED_ROW(SET_DATABASE, "database", "Database", "DATABASE=%S;", DATABASE, 5, 1, "db",
                   "DB"),
    QV_NUM_ROW(SET_PORT, "port", "Port", "PORT=%d;", FORM_INTEGER, OUT_PORT, BOOL_STRICT, PORT, 12, 8, QV_PROMPT(PORT)),
    QV_NUM_ROW(SET_IPV6, "ipv6", "IPV6", "IPV6=Yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT, IPV6, 15, 10, QV_PROMPT(IPV6)),
    QV_NUM_ROW(SET_RCVBUFFER, "RCVBUFFER", "RCVBUFFER", "RCVBUFFER=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, RCVBUFFER, 0, 0, QV_PROMPT(RCVBUFFER)),
    QV_NUM_ROW(SET_SOKEEPALIVE, "SOKEEPALIVE", "SOKEEPALIVE", "SOKEEPALIVE=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, SOKEEPALIVE, 0, 0, QV_NO_PROMPT),
    QV_NUM_ROW(SET_PacketSize, "packetsize", "PacketSize", "PacketSize=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, PacketSize, 0, 0, QV_NO_PROMPT),
    QV_TEXT_ROW(SET_PrivateKeyFile, "PrivateKeyFile", "PrivateKeyFile", "PrivateKeyFile=%S;",
                PrivateKeyFile, 7, 14, QV_PROMPT(PrivateKeyFile)),
    QV_TEXT_ROW(SET_CertificateFile, "CertificateFile", "CertificateFile",
                "CertificateFile=%S;", CertificateFile, 8, 18, QV_PROMPT(CertificateFile)),
    QV_TEXT_ROW(SET_PublicKeyFile, "PublicKeyFile", "PublicKeyFile", "PublicKeyFile=%S;",
                PublicKeyFile, 9, 19, QV_PROMPT(PublicKeyFile)),
    QV_TEXT_ROW(SET_Entropy, "Entropy", "Entropy", "Entropy=%S;", Entropy, 6, 0, QV_PROMPT(Entropy)),
    QV_NUM_ROW(SET_TrustServerCertificate, "TrustServerCertificate", "TrustServerCertificate",
               "TrustServerCertificate=Yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT,
               TrustServerCertificate, 21, 13, QV_PROMPT(TrustServerCertificate)),
    QV_NUM_ROW(SET_Compress, "Compress", "Compress", "Compress=Yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, Compress, 14, 25, QV_PROMPT(Compress)),
    QV_TEXT_ROW(SET_character_set_client, "character_set_client", "character_set_client",
                "character_set_client=%S;", character_set_client, 0, 5, QV_PROMPT(character_set_client)),
    QV_TEXT_ROW(SET_character_set_results, "character_set_results", "character_set_results",
                "character_set_results=%S;", character_set_results, 0, 6, QV_PROMPT(character_set_results)),
    QV_NUM_ROW(SET_ReqCharSet, "ReqCharSet", "ReqCharSet", "ReqCharSet=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, ReqCharSet, 13, 9, QV_PROMPT(ReqCharSet)),
    QV_TEXT_ROW(SET_collation_connection, "collation_connection", "collation_connection",
                "collation_connection=%S;", collation_connection, 0, 7, QV_PROMPT(collation_connection)),
    QV_NUM_ROW(SET_Text_Prepare, "Text_Prepare", "Text_Prepare", "text_prepare=yes;",
               FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT, Text_Prepare, 17, 20, QV_PROMPT(Text_Prepare)),
    QV_NUM_ROW(SET_NoCache, "NoCache", "NoCache", "nocache=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, NoCache, 18, 21, QV_PROMPT(NoCache)),
    QV_NUM_ROW(SET_ConvToUtf, "ConvToUTF", "ConvToUtf", "ConvToUtf=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, ConvToUtf, 20, 24, QV_PROMPT(ConvToUtf)),
    QV_NUM_ROW(SET_ConvWToUtf, "ConvWToUTF", "ConvWToUtf", "ConvWToUtf=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, ConvWToUtf, 0, 0, QV_PROMPT(ConvWToUtf)),
    QV_NUM_ROW(SET_AnsiMode, "ansimode", "AnsiMode", "AnsiMode=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, AnsiMode, 16, 11, QV_PROMPT(AnsiMode)),
    QV_TEXT_ROW(SET_SQLMode, "SQLMode", "SQLMode", "SQLMode=%S;", SQLMode, 0, 17, QV_PROMPT(SQLMode)),
    QV_TEXT_ROW(SET_WindowsUser, "WindowsUser", "WindowsUser", "WindowsUser=%S;", WindowsUser, 10, 15, QV_PROMPT(WindowsUser)),
    QV_NUM_ROW(SET_NTLMv2, "NTLMv2", "NTLMv2", "NTLMv2=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, NTLMv2, 22, 22, QV_PROMPT(NTLMv2)),
    QV_NUM_ROW(SET_Kerberos, "Kerberos", "Kerberos", "Kerberos=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, Kerberos, 23, 23, QV_PROMPT(Kerberos)),
    QV_TEXT_ROW(SET_GSSLIB, "GSSLIB", "GSSLIB", "GSSLIB=%S;", GSSLIB, 0, 0, QV_NO_PROMPT),
    QV_NUM_ROW(SET_GSSFLAG, "GSSFLAG", "GSSFLAG", "GSSFLAG=%d;", FORM_INTEGER, OUT_NONZERO,
               BOOL_STRICT, GSSFLAG, 0, 0, QV_NO_PROMPT),
    QV_TEXT_ROW(SET_Principal, "Principal", "Principal", "Principal=%S;", Principal, 11, 16, QV_PROMPT(Principal)),
    QV_NUM_ROW(SET_NullDatetimes, "NullDatetimes", "NullDatetimes", "NullDatetimes=yes;",
               FORM_BOOLEAN, OUT_FLAG, BOOL_LENIENT, NullDatetimes, 24, 26, QV_PROMPT(NullDatetimes)),
    QV_NUM_ROW(SET_TimeAsTime, "TimeAsTime", "TimeAsTime", "TimeAsTime=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_STRICT, TimeAsTime, 0, 0, QV_NO_PROMPT),
    /* On by default, for the application's own LOAD DATA LOCAL INFILE only;
     * 0 refuses every file request and stops announcing CLIENT_LOCAL_FILES. */
    {SET_LocalInfile, "LocalInfile", "LocalInfile", "LocalInfile=%d;", FORM_BOOLEAN, OUT_CHANGED,
     BOOL_STRICT, nullptr, &my_connection::LocalInfile, 1, 0, 0, QV_NO_PROMPT,
     "LocalInfile", nullptr, nullptr},
    QV_NUM_ROW(SET_EnableCleartextPlugin, "EnableCleartextPlugin", "EnableCleartextPlugin",
               "EnableCleartextPlugin=yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT,
               EnableCleartextPlugin, 0, 0, QV_NO_PROMPT),
    QV_TEXT_ROW(SET_HostNameInCertificate, "HostNameInCertificate", "HostNameInCertificate",
                "HostNameInCertificate=%S;", HostNameInCertificate, 0, 0, QV_NO_PROMPT),
    QV_NUM_ROW(SET_NoBinaryDirect, "NoBinaryDirect", "NoBinaryDirect", "NoBinaryDirect=yes;",
               FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT, NoBinaryDirect, 0, 0, QV_NO_PROMPT),
    QV_NUM_ROW(SET_Encrypt, "encrypt", "Encrypt", nullptr, FORM_ENCRYPT, OUT_NEVER,
               BOOL_STRICT, Encrypt, 19, 12, QV_PROMPT(Encrypt)),
    QV_NUM_ROW(SET_LogonTimeout, "LogonTimeout", "LogonTimeout", nullptr, FORM_INTEGER,
               OUT_NEVER, BOOL_STRICT, LogonTimeout, 0, 0, QV_PROMPT(LogonTimeout)),
    QV_NUM_ROW(SET_ConnectionTimeout, "ConnectionTimeout", "ConnectionTimeout", nullptr,
               FORM_INTEGER, OUT_NEVER, BOOL_STRICT, ConnectionTimeout, 0, 0, QV_PROMPT(ConnectionTimeout)),
    {SET_Logging, "logging", "Logging", nullptr, FORM_LOGGING, OUT_NEVER, BOOL_STRICT, nullptr,
     nullptr, 0, 0, 0, QV_NO_PROMPT, "Logging", nullptr, nullptr},
    {SET_LogFile, "logfile", "LogFile", nullptr, FORM_LOGFILE, OUT_NEVER, BOOL_STRICT, nullptr,
     nullptr, 0, 0, 0, QV_NO_PROMPT, "LogFile", nullptr, nullptr},
};

#undef QV_TEXT_ROW
#undef QV_NUM_ROW
#undef QV_ALIASED_ROW
#undef QV_PROMPT
#undef QV_NO_PROMPT

/* Row i must describe setting i: the readers index the table by setting_id. */
constexpr bool setting_table_in_order()
{
    for (int i = 0; i < SETTING_COUNT; i++)
        if (setting_table[i].id != i)
            return false;
    return true;
}
static_assert(setting_table_in_order(), "setting_table rows out of setting_id order");

/* An order's places are 1, 2, 3 ... without gaps or repeats. */
constexpr bool setting_places_unique(uint8_t setting_row::*at)
{
    int places = 0;
    for (const setting_row &r : setting_table)
        places += r.*at != 0;
    for (int place = 1; place <= places; place++) {
        int n = 0;
        for (const setting_row &r : setting_table)
            n += r.*at == place;
        if (n != 1)
            return false;
    }
    return true;
}
static_assert(setting_places_unique(&setting_row::list_at), "list_at places repeat or skip");
static_assert(setting_places_unique(&setting_row::write_at), "write_at places repeat or skip");

/* Prompt-record fields are texts of PROMPT_TEXT_SIZE or 32-bit numbers. */
constexpr bool setting_prompt_fields_fit()
{
    for (const setting_row &r : setting_table)
        if (r.prompt_at >= 0 &&
            (r.prompt_at + (r.form == FORM_TEXT ? PROMPT_TEXT_SIZE : 4) > (int)sizeof(my_prompt) ||
             (r.form != FORM_TEXT && !r.number)))
            return false;
    return true;
}
static_assert(setting_prompt_fields_fit(), "prompt_at names no field of the prompt record");

/* The rows that have a place in an order (list_at, write_at), in that
 * order; out holds SETTING_COUNT ids. Returns how many. */
inline int settings_in_order(uint8_t setting_row::*at, setting_id *out)
{
    int n = 0;
    for (int place = 1; place <= SETTING_COUNT; place++)
        for (const setting_row &r : setting_table)
            if (r.*at == place)
                out[n++] = r.id;
    return n;
}

/* A prompt-record field of the row (null when the record has none). */
inline char *setting_prompt_text(const setting_row &r, my_prompt *p)
{
    return r.prompt_at >= 0 && r.form == FORM_TEXT ? (char *)p + r.prompt_at : nullptr;
}
inline int32_t *setting_prompt_number(const setting_row &r, my_prompt *p)
{
    return r.prompt_at >= 0 && r.form != FORM_TEXT ? (int32_t *)((char *)p + r.prompt_at)
                                                    : nullptr;
}
inline const char *setting_prompt_text(const setting_row &r, const my_prompt *p)
{
    return setting_prompt_text(r, const_cast<my_prompt *>(p));
}
inline const int32_t *setting_prompt_number(const setting_row &r, const my_prompt *p)
{
    return setting_prompt_number(r, const_cast<my_prompt *>(p));
}

/* The name a setting goes by in trace lines: its odbc.ini key. */
inline const char *setting_name(const setting_row &r) { return r.ini_key ? r.ini_key : "DSN"; }

/* Whether a row holds a number in my_connection (integer, Boolean, Encrypt). */
inline bool setting_is_number(const setting_row &r) { return r.number != nullptr; }

/* Every number and Boolean at its initial value, as on a new connection. */
inline void settings_initial_numbers(my_connection *c)
{
    for (const setting_row &r : setting_table)
        if (setting_is_number(r))
            c->*(r.number) = r.initial;
}

#endif
