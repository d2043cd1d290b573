/*
 * The connection settings: one table that drives the connection-string
 * parser, the DSN readers, the output connection string and the setup
 * dialog. A new keyword is one new row (plus its place in the DSN reading
 * orders of the driver, which a unit test checks).
 *
 * Header-only data: the setup library compiles against it too, and reaches
 * the fields of my_connection through the pointers-to-member of each row.
 */
#ifndef QV_MY_SETTINGS_H
#define QV_MY_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

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
    SET_EnableCleartextPlugin, SET_HostNameInCertificate,
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
};

#define QV_TEXT_ROW(id, kw, ini, out, field) \
    {id, kw, ini, out, FORM_TEXT, OUT_TEXT, BOOL_STRICT, &my_connection::field, nullptr, 0}
#define QV_NUM_ROW(id, kw, ini, out, form, output, rule, field) \
    {id, kw, ini, out, form, output, rule, nullptr, &my_connection::field, 0}

inline constexpr setting_row setting_table[SETTING_COUNT] = {
    QV_TEXT_ROW(SET_DSN, "dsn", nullptr, "DSN=%S;", DSN),
    QV_TEXT_ROW(SET_UID, "uid", "User", "UID=%S;", UID),
    QV_TEXT_ROW(SET_PWD, "pwd", "Password", "PWD=%S;", PWD),
    QV_TEXT_ROW(SET_SERVER, "server", "Server", "SERVER=%S;", SERVER),
    QV_TEXT_ROW(SET_SOCKET, "socket", "Socket", "SOCKET=%S;", SOCKET),
    QV_TEXT_ROW(SET_DATABASE, "database", "Database", "DATABASE=%S;", DATABASE),
    QV_NUM_ROW(SET_PORT, "port", "Port", "PORT=%d;", FORM_INTEGER, OUT_PORT, BOOL_STRICT, PORT),
    QV_NUM_ROW(SET_IPV6, "ipv6", "ipv6", "IPV6=Yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT, IPV6),
    QV_NUM_ROW(SET_RCVBUFFER, "RCVBUFFER", "RCVBUFFER", "RCVBUFFER=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, RCVBUFFER),
    QV_NUM_ROW(SET_SOKEEPALIVE, "SOKEEPALIVE", "SOKEEPALIVE", "SOKEEPALIVE=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, SOKEEPALIVE),
    QV_NUM_ROW(SET_PacketSize, "packetsize", "PacketSize", "PacketSize=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, PacketSize),
    QV_TEXT_ROW(SET_PrivateKeyFile, "PrivateKeyFile", "PrivateKeyFile", "PrivateKeyFile=%S;",
                PrivateKeyFile),
    QV_TEXT_ROW(SET_CertificateFile, "CertificateFile", "CertificateFile",
                "CertificateFile=%S;", CertificateFile),
    QV_TEXT_ROW(SET_PublicKeyFile, "PublicKeyFile", "PublicKeyFile", "PublicKeyFile=%S;",
                PublicKeyFile),
    QV_TEXT_ROW(SET_Entropy, "Entropy", "Entropy", "Entropy=%S;", Entropy),
    QV_NUM_ROW(SET_TrustServerCertificate, "TrustServerCertificate", "TrustServerCertificate",
               "TrustServerCertificate=Yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT,
               TrustServerCertificate),
    QV_NUM_ROW(SET_Compress, "Compress", "Compress", "Compress=Yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, Compress),
    QV_TEXT_ROW(SET_character_set_client, "character_set_client", "character_set_client",
                "character_set_client=%S;", character_set_client),
    QV_TEXT_ROW(SET_character_set_results, "character_set_results", "character_set_results",
                "character_set_results=%S;", character_set_results),
    QV_NUM_ROW(SET_ReqCharSet, "ReqCharSet", "ReqCharSet", "ReqCharSet=%d;", FORM_INTEGER,
               OUT_NONZERO, BOOL_STRICT, ReqCharSet),
    QV_TEXT_ROW(SET_collation_connection, "collation_connection", "collation_connection",
                "collation_connection=%S;", collation_connection),
    QV_NUM_ROW(SET_Text_Prepare, "Text_Prepare", "Text_Prepare", "text_prepare=yes;",
               FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT, Text_Prepare),
    QV_NUM_ROW(SET_NoCache, "NoCache", "NoCache", "nocache=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, NoCache),
    QV_NUM_ROW(SET_ConvToUtf, "ConvToUTF", "ConvToUtf", "ConvToUtf=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, ConvToUtf),
    QV_NUM_ROW(SET_ConvWToUtf, "ConvWToUTF", "ConvWToUtf", "ConvWToUtf=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_LENIENT, ConvWToUtf),
    QV_NUM_ROW(SET_AnsiMode, "ansimode", "AnsiMode", "AnsiMode=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, AnsiMode),
    QV_TEXT_ROW(SET_SQLMode, "SQLMode", "SQLMode", "SQLMode=%S;", SQLMode),
    QV_TEXT_ROW(SET_WindowsUser, "WindowsUser", "WindowsUser", "WindowsUser=%S;", WindowsUser),
    QV_NUM_ROW(SET_NTLMv2, "NTLMv2", "NTLMv2", "NTLMv2=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, NTLMv2),
    QV_NUM_ROW(SET_Kerberos, "Kerberos", "Kerberos", "Kerberos=yes;", FORM_BOOLEAN, OUT_FLAG,
               BOOL_STRICT, Kerberos),
    QV_TEXT_ROW(SET_GSSLIB, "GSSLIB", "GSSLIB", "GSSLIB=%S;", GSSLIB),
    QV_NUM_ROW(SET_GSSFLAG, "GSSFLAG", "GSSFLAG", "GSSFLAG=%d;", FORM_INTEGER, OUT_NONZERO,
               BOOL_STRICT, GSSFLAG),
    QV_TEXT_ROW(SET_Principal, "Principal", "Principal", "Principal=%S;", Principal),
    QV_NUM_ROW(SET_NullDatetimes, "NullDatetimes", "NullDatetimes", "NullDatetimes=yes;",
               FORM_BOOLEAN, OUT_FLAG, BOOL_LENIENT, NullDatetimes),
    QV_NUM_ROW(SET_TimeAsTime, "TimeAsTime", "TimeAsTime", "TimeAsTime=yes;", FORM_BOOLEAN,
               OUT_FLAG, BOOL_STRICT, TimeAsTime),
    /* On by default, for the application's own LOAD DATA LOCAL INFILE only;
     * 0 refuses every file request and stops announcing CLIENT_LOCAL_FILES. */
    {SET_LocalInfile, "LocalInfile", "LocalInfile", "LocalInfile=%d;", FORM_BOOLEAN, OUT_CHANGED,
     BOOL_STRICT, nullptr, &my_connection::LocalInfile, 1},
    QV_NUM_ROW(SET_EnableCleartextPlugin, "EnableCleartextPlugin", "EnableCleartextPlugin",
               "EnableCleartextPlugin=yes;", FORM_BOOLEAN, OUT_FLAG, BOOL_STRICT,
               EnableCleartextPlugin),
    QV_TEXT_ROW(SET_HostNameInCertificate, "HostNameInCertificate", "HostNameInCertificate",
                "HostNameInCertificate=%S;", HostNameInCertificate),
    QV_NUM_ROW(SET_Encrypt, "encrypt", "Encrypt", nullptr, FORM_ENCRYPT, OUT_NEVER,
               BOOL_STRICT, Encrypt),
    QV_NUM_ROW(SET_LogonTimeout, "LogonTimeout", "LogonTimeout", nullptr, FORM_INTEGER,
               OUT_NEVER, BOOL_STRICT, LogonTimeout),
    QV_NUM_ROW(SET_ConnectionTimeout, "ConnectionTimeout", "ConnectionTimeout", nullptr,
               FORM_INTEGER, OUT_NEVER, BOOL_STRICT, ConnectionTimeout),
    {SET_Logging, "logging", "Logging", nullptr, FORM_LOGGING, OUT_NEVER, BOOL_STRICT, nullptr,
     nullptr, 0},
    {SET_LogFile, "logfile", "LogFile", nullptr, FORM_LOGFILE, OUT_NEVER, BOOL_STRICT, nullptr,
     nullptr, 0},
};

#undef QV_TEXT_ROW
#undef QV_NUM_ROW

/* Row i must describe setting i: the readers index the table by setting_id. */
constexpr bool setting_table_in_order()
{
    for (int i = 0; i < SETTING_COUNT; i++)
        if (setting_table[i].id != i)
            return false;
    return true;
}
static_assert(setting_table_in_order(), "setting_table rows out of setting_id order");

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
