/*
 * Connection settings: the value forms, the connection-string parser, the
 * two DSN readers (SQLConnect's and SQLDriverConnect's completion, which read
 * different keys in different orders and spell some values differently) and
 * the output connection string. All of them walk include/my_settings.h.
 */
#include "connect/my_connect.h"

#include <ctype.h>
#include <odbcinst.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "frame/my_handle.h"

/* The readers serve both the narrow and the wide entry points; their trace
 * lines carry these module names rather than this file's. */
static const char MOD_CONNECT[] = "SQLConnectWide.cpp";
static const char MOD_DRIVER[] = "SQLDriverConnectWide.cpp";

#define MODULE_TRACE(module, c, mode, ...)                                                     \
    do {                                                                                       \
        if (handle_log_flags(c))                                                               \
            trace((c), (module), __LINE__, (mode), __VA_ARGS__);                               \
    } while (0)

/* The keys each reader takes from a DSN, in the order it takes them (rows
 * added to the table later follow, see full_order). SQLConnect reads Server
 * and Socket before these. */
static const setting_id connect_order[] = {
    SET_Logging, SET_LogFile, SET_PORT, SET_IPV6, SET_AnsiMode, SET_NTLMv2, SET_Kerberos,
    SET_DATABASE, SET_WindowsUser, SET_UID, SET_PWD, SET_PacketSize, SET_ConvToUtf,
    SET_ConvWToUtf, SET_LogonTimeout, SET_ConnectionTimeout, SET_Encrypt, SET_Entropy,
    SET_SQLMode, SET_TrustServerCertificate, SET_PrivateKeyFile, SET_CertificateFile,
    SET_PublicKeyFile, SET_RCVBUFFER, SET_ReqCharSet, SET_SOKEEPALIVE,
    SET_character_set_client, SET_character_set_results, SET_collation_connection,
    SET_Compress, SET_Text_Prepare, SET_NoCache, SET_Principal, SET_GSSLIB, SET_GSSFLAG,
    SET_NullDatetimes, SET_TimeAsTime, SET_LocalInfile, SET_EnableCleartextPlugin,
    SET_HostNameInCertificate,
};

static const setting_id complete_order[] = {
    SET_UID, SET_PWD, SET_DATABASE, SET_SERVER, SET_PORT, SET_SOCKET, SET_WindowsUser,
    SET_IPV6, SET_AnsiMode, SET_NTLMv2, SET_Kerberos, SET_Principal, SET_GSSLIB, SET_GSSFLAG,
    SET_NullDatetimes, SET_ConvToUtf, SET_ConvWToUtf, SET_PacketSize, SET_LogonTimeout,
    SET_ConnectionTimeout, SET_RCVBUFFER, SET_ReqCharSet, SET_SOKEEPALIVE,
    SET_PrivateKeyFile, SET_CertificateFile, SET_PublicKeyFile, SET_Entropy, SET_SQLMode,
    SET_character_set_client, SET_character_set_results, SET_collation_connection,
    SET_Encrypt, SET_TrustServerCertificate, SET_Compress, SET_Text_Prepare, SET_NoCache,
    SET_TimeAsTime, SET_LocalInfile, SET_EnableCleartextPlugin, SET_HostNameInCertificate,
    SET_Logging, SET_LogFile,
};

/* The order as listed, then every row it does not name (a keyword added
 * later) in table order; skip names the rows a reader does not take. */
struct full_order {
    setting_id ids[SETTING_COUNT];
    size_t count = 0;
    full_order(const setting_id *listed, size_t n, std::initializer_list<setting_id> skip)
    {
        bool named[SETTING_COUNT] = {};
        for (setting_id id : skip)
            named[id] = true;
        for (size_t i = 0; i < n; i++) {
            ids[count++] = listed[i];
            named[listed[i]] = true;
        }
        for (const setting_row &r : setting_table)
            if (!named[r.id])
                ids[count++] = r.id;
    }
};

setting_order dsn_connect_order(void)
{
    static const full_order order(connect_order, sizeof connect_order / sizeof connect_order[0],
                                  {SET_DSN, SET_SERVER, SET_SOCKET});
    return {order.ids, order.count};
}

setting_order dsn_complete_order(void)
{
    static const full_order order(complete_order,
                                  sizeof complete_order / sizeof complete_order[0], {SET_DSN});
    return {order.ids, order.count};
}

/* ------------------------------------------------------------ value forms */

static bool word_is(const char *s, const char *w) { return strcasecmp(s, w) == 0; }

int32_t setting_integer(const char *s)
{
    if (!s)
        return 0;
    while (*s == ' ' || *s == '\t')
        s++;
    bool neg = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; s++)
        if (v <= INT32_MAX)
            v = v * 10 + (*s - '0');
    if (neg)
        v = -v;
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (int32_t)v;
}

int32_t setting_dsn_bool(const char *s, int optional_word)
{
    if (word_is(s, "yes") || word_is(s, "true"))
        return 1;
    if (word_is(s, "no"))
        return 0;
    if (optional_word && word_is(s, "optional"))
        return 2;
    return setting_integer(s);
}

int32_t setting_cs_bool(const char *s, setting_bool_rule rule)
{
    if (word_is(s, "yes") || word_is(s, "true"))
        return 1;
    if (rule == BOOL_LENIENT)
        return setting_integer(s);
    /* Strict keys still honour a number: COMPRESS=1 or ENCRYPT=1 meaning
     * "off" would silently drop what the application asked for. */
    return setting_integer(s) != 0 ? 1 : 0;
}

int32_t setting_encrypt(const char *s)
{
    if (word_is(s, "optional"))
        return 2;
    int32_t v = setting_dsn_bool(s, 0);
    /* anything but "off" or "optional" asks for TLS: a stray value must
     * never quietly mean a clear-text link */
    return v == 0 || v == 2 ? v : 1;
}

/* LogFile holds at most 259 bytes; a longer path is cut, never inside a
 * UTF-8 sequence. */
static void set_logfile(my_connection *c, const std::string &bytes)
{
    size_t n = bytes.size();
    if (n > sizeof c->LogFile - 1) {
        n = sizeof c->LogFile - 1;
        while (n > 0 && ((unsigned char)bytes[n] & 0xC0) == 0x80)
            n--;
    }
    memcpy(c->LogFile, bytes.data(), n);
    c->LogFile[n] = 0;
}

/* Units as the bytes the application (or the installer) used for them. */
static std::string units_to_bytes(const uint16_t *u, size_t n, int utf8)
{
    std::string out;
    if (!n)
        return out;
    if (utf8) {
        out.resize(utf16_utf8_length(u, n));
        utf16_encode_utf8(u, n, (unsigned char *)&out[0]);
    } else {
        out.resize(n);
        for (size_t i = 0; i < n; i++)
            out[i] = (char)(u[i] & 0xFF);
    }
    return out;
}

/* Units read as ASCII for keyword and number parsing; anything else becomes
 * '?', so no non-ASCII unit can pass for a letter of a word. */
static std::string units_to_ascii(const uint16_t *u, size_t n)
{
    std::string out(n, '?');
    for (size_t i = 0; i < n; i++)
        if (u[i] > 0 && u[i] < 0x80)
            out[i] = (char)u[i];
    return out;
}

static int no_memory(my_connection *c)
{
    post_error(c, ST_HY001, 0, nullptr);
    return -1;
}

/* ------------------------------------------------------ connection string */

/* Index of the first `stop` in u[from, to) outside braces, or to. Braces
 * nest; a '}' with no '{' open is an ordinary character, so a password such
 * as pa}ss does not swallow the rest of the string. */
static uint32_t find_outside_braces(const uint16_t *u, uint32_t from, uint32_t to, uint16_t stop)
{
    uint32_t depth = 0;
    for (uint32_t i = from; i < to; i++) {
        if (u[i] == '{')
            depth++;
        else if (u[i] == '}' && depth > 0)
            depth--;
        else if (depth == 0 && u[i] == stop)
            return i;
    }
    return to;
}

/* Keys are taken exactly as written: " uid" is not "uid". */
static bool key_is(const uint16_t *k, uint32_t n, const char *kw)
{
    if (strlen(kw) != n)
        return false;
    for (uint32_t i = 0; i < n; i++)
        if (k[i] >= 0x80 || tolower(k[i]) != tolower((unsigned char)kw[i]))
            return false;
    return true;
}

/* The row a key names, by its keyword or, setting *alias, by its alias. */
static const setting_row *row_by_keyword(const uint16_t *k, uint32_t n, bool *alias)
{
    for (const setting_row &r : setting_table) {
        *alias = false;
        if (r.keyword && key_is(k, n, r.keyword))
            return &r;
        *alias = true;
        if (r.alias && key_is(k, n, r.alias))
            return &r;
    }
    return nullptr;
}

static int apply_cs_value(my_connection *c, const setting_row &r, const uint16_t *v, uint32_t vn,
                          int text_utf8, setting_given *given, const char *fname)
{
    std::string ascii = units_to_ascii(v, vn);
    switch (r.form) {
    case FORM_TEXT: {
        my_string *&slot = c->*(r.text);
        if (vn == 0 || slot)   /* empty is not given; the first occurrence wins */
            return 0;
        slot = ms_from_utf16(v, vn);
        if (!slot)
            return no_memory(c);
        if (r.id == SET_PWD)
            MODULE_TRACE(MOD_DRIVER, c, LOG_CONTINUE, "%s: Password found in connect string",
                         fname);
        else
            MODULE_TRACE(MOD_DRIVER, c, LOG_CONTINUE, "%s: %s found in connect string '%S'",
                         fname, setting_name(r), slot);
        return 0;
    }
    case FORM_INTEGER:
    case FORM_BOOLEAN:
    case FORM_ENCRYPT: {
        int32_t value = r.form == FORM_INTEGER   ? setting_integer(ascii.c_str())
                        : r.form == FORM_ENCRYPT ? setting_encrypt(ascii.c_str())
                                                 : setting_cs_bool(ascii.c_str(), r.bool_rule);
        c->*(r.number) = value;   /* every occurrence: the last one wins */
        given->set(r.id);
        MODULE_TRACE(MOD_DRIVER, c, LOG_CONTINUE, "%s: %s found in connect string %d", fname,
                     setting_name(r), (int)value);
        return 0;
    }
    case FORM_LOGGING:
        c->hdr.log_flags = parse_logging_value(ascii.c_str(), LOGWORDS_CONNSTR);
        return 0;
    case FORM_LOGFILE:
        set_logfile(c, units_to_bytes(v, vn, text_utf8));
        return 0;
    }
    return 0;
}

/* A value given under a row's alias, applied after the whole string only
 * when the row's own keyword did not give one. */
struct alias_value {
    const uint16_t *v = nullptr;
    uint32_t n = 0;
    bool seen = false;
};

static int apply_segment(my_connection *c, const uint16_t *seg, uint32_t n, int text_utf8,
                         setting_given *given, const char *fname, alias_value *aliased)
{
    uint32_t eq = find_outside_braces(seg, 0, n, '=');
    bool by_alias;
    const setting_row *r = row_by_keyword(seg, eq, &by_alias);
    if (!r)   /* unknown keys, DRIVER among them, are ignored */
        return 0;
    const uint16_t *v = eq < n ? seg + eq + 1 : seg + n;
    uint32_t vn = eq < n ? n - eq - 1 : 0;
    if (by_alias) {
        alias_value &a = aliased[r->id];
        /* texts keep the first non-empty occurrence, numbers the last */
        if (!a.seen || (r->form != FORM_TEXT) || a.n == 0) {
            a.v = v;
            a.n = vn;
            a.seen = true;
        }
        return 0;
    }
    return apply_cs_value(c, *r, v, vn, text_utf8, given, fname);
}

int parse_connect_string(my_connection *c, const my_string *in, int text_utf8,
                         setting_given *given, const char *fname)
{
    given->reset();
    settings_initial_numbers(c);
    if (!in || !in->length)
        return 0;
    const uint16_t *u = in->data;
    alias_value aliased[SETTING_COUNT];
    for (uint32_t pos = 0; pos < in->length;) {
        uint32_t end = find_outside_braces(u, pos, in->length, ';');
        if (end > pos &&
            apply_segment(c, u + pos, end - pos, text_utf8, given, fname, aliased) != 0)
            return -1;
        pos = end + 1;
    }
    for (const setting_row &r : setting_table) {
        const alias_value &a = aliased[r.id];
        bool open = r.text ? c->*(r.text) == nullptr : !(*given)[r.id];
        if (a.seen && open && apply_cs_value(c, r, a.v, a.n, text_utf8, given, fname) != 0)
            return -1;
    }
    return 0;
}

/* Masking is more eager than the parser: " PWD" sets nothing, but what
 * follows it is still meant as a password. */
static bool is_password_key(const uint16_t *k, uint32_t n)
{
    while (n && (*k == ' ' || *k == '\t')) {
        k++;
        n--;
    }
    while (n && (k[n - 1] == ' ' || k[n - 1] == '\t'))
        n--;
    const setting_row &r = setting_table[SET_PWD];
    return key_is(k, n, r.keyword) || (r.alias && key_is(k, n, r.alias));
}

my_string *mask_password(const my_string *s)
{
    if (!s)
        return nullptr;
    if (!s->length)
        return ms_new(0);
    std::vector<uint16_t> out;
    out.reserve(s->length);
    const uint16_t *u = s->data;
    for (uint32_t pos = 0; pos <= s->length;) {
        uint32_t end = find_outside_braces(u, pos, s->length, ';');
        uint32_t eq = find_outside_braces(u, pos, end, '=');
        if (eq < end && is_password_key(u + pos, eq - pos)) {
            out.insert(out.end(), u + pos, u + eq + 1);
            for (const char *m = "****"; *m; m++)
                out.push_back((uint16_t)*m);
        } else {
            out.insert(out.end(), u + pos, u + end);
        }
        if (end < s->length)
            out.push_back(';');
        pos = end + 1;
    }
    return ms_from_utf16(out.data(), (int64_t)out.size());
}

/* ------------------------------------------------------------ DSN reading */

enum {
    KEY_LIST_SIZE = 8192,
    /* The installer cuts a key list that does not fit at a key boundary and
     * says nothing; a list this close to the end may have lost keys. */
    KEY_LIST_MARGIN = 256,
    /* Room for the longest value unixODBC returns (about 1000 bytes), so no
     * value is cut. Reading again with a larger buffer would not help: the
     * installer caches the cut value per key and returns it again. */
    VALUE_SIZE = 4096,
};

/* One DSN's section of odbc.ini. The list of its keys is read once, so a key
 * that is not there costs no further look-up in the file. */
struct dsn_section {
    std::string name;
    std::vector<char> keys;   /* NUL-separated */
    bool use_list = false;
};

static void dsn_open(dsn_section &d, const std::string &name)
{
    d.name = name;
    d.use_list = false;
    if (d.name.empty())   /* a null section would list the sections instead */
        return;
    d.keys.assign(KEY_LIST_SIZE, 0);
    int n = SQLGetPrivateProfileString(d.name.c_str(), nullptr, "", d.keys.data(), KEY_LIST_SIZE,
                                       "odbc.ini");
    if (n >= 1 && n < KEY_LIST_SIZE - KEY_LIST_MARGIN) {
        d.keys.resize((size_t)n);
        d.use_list = true;
    }
}

/* The key as the list spells it, or null when the section lacks it. */
static const char *dsn_find_key(const dsn_section &d, const char *key)
{
    size_t i = 0, n = d.keys.size();
    while (i < n) {
        const char *k = &d.keys[i];
        size_t len = strnlen(k, n - i);
        if (len && len < n - i && strcasecmp(k, key) == 0)
            return k;
        i += len + 1;
    }
    return nullptr;
}

/* The key's value, empty when absent. */
static std::string dsn_value(const dsn_section &d, const char *key)
{
    if (d.name.empty())
        return std::string();
    const char *spelled = key;
    if (d.use_list && !(spelled = dsn_find_key(d, key)))
        return std::string();
    std::vector<char> buf(VALUE_SIZE, 0);
    int n = SQLGetPrivateProfileString(d.name.c_str(), spelled, "", buf.data(), VALUE_SIZE,
                                       "odbc.ini");
    if (n <= 0)
        return std::string();
    return std::string(buf.data(), strnlen(buf.data(), std::min((size_t)n, buf.size())));
}

/* The row's value in the DSN: under its own key, else under its alias. */
static std::string dsn_row_value(const dsn_section &d, const setting_row &r)
{
    std::string v = dsn_value(d, r.ini_key);
    if (v.empty() && r.ini_alias)
        v = dsn_value(d, r.ini_alias);
    return v;
}

static std::string section_name(const my_string *dsn, int text_utf8)
{
    return dsn ? units_to_bytes(dsn->data, dsn->length, text_utf8) : std::string();
}

static void trace_dsn_value(const char *module, my_connection *c, const char *fname,
                            const setting_row &r, const std::string &v)
{
    if (r.id == SET_PWD)
        MODULE_TRACE(module, c, LOG_CONTINUE, "%s: Password found in ini file", fname);
    else
        MODULE_TRACE(module, c, LOG_CONTINUE, "%s: %s found in ini file value '%s'", fname,
                     setting_name(r), v.c_str());
}

/* Text values from the DSN wait here until the DSN's own ConvToUtf is known:
 * odbc.ini holds narrow text, and ConvToUtf says which encoding that is
 * (without it, well-formed UTF-8 is taken as UTF-8). */
struct pending_texts {
    std::string value[SETTING_COUNT];
};

static int decode_pending(my_connection *c, const pending_texts &p)
{
    for (const setting_row &r : setting_table) {
        const std::string &v = p.value[r.id];
        if (r.form != FORM_TEXT || v.empty())
            continue;
        my_string *s = ms_from_narrow_as(v.data(), (int64_t)v.size(),
                                         narrow_text_utf8(v.data(), (int64_t)v.size(), c));
        if (!s)
            return no_memory(c);
        ms_free(c->*(r.text));
        c->*(r.text) = s;
    }
    return 0;
}

/* A value read from a DSN, stored by the row's form. `connect` selects
 * SQLConnect's spellings of Logging ("onerror"). */
static void store_dsn_value(my_connection *c, const setting_row &r, const std::string &v,
                            pending_texts &p, bool connect)
{
    switch (r.form) {
    case FORM_TEXT: p.value[r.id] = v; break;
    case FORM_INTEGER: c->*(r.number) = setting_integer(v.c_str()); break;
    case FORM_BOOLEAN: c->*(r.number) = setting_dsn_bool(v.c_str(), 0); break;
    case FORM_ENCRYPT: c->*(r.number) = setting_encrypt(v.c_str()); break;
    case FORM_LOGGING:
        c->hdr.log_flags = parse_logging_value(
            v.c_str(), connect ? LOGWORDS_DSN_CONNECT : LOGWORDS_DSN_COMPLETE);
        break;
    case FORM_LOGFILE: set_logfile(c, v); break;
    }
}

/* ---- SQLConnect ---- */

static void read_for_connect(my_connection *c, const dsn_section &d, const setting_row &r,
                             pending_texts &p)
{
    /* the arguments win; an empty one counts as not given */
    if ((r.id == SET_UID && c->UID && c->UID->length) ||
        (r.id == SET_PWD && c->PWD && c->PWD->length))
        return;
    std::string v = dsn_row_value(d, r);
    if (r.id == SET_PORT) {
        if (v.empty()) {
            MODULE_TRACE(MOD_CONNECT, c, LOG_DETAIL, "SQLConnect: using default port setting");
            return;
        }
        c->PORT = setting_integer(v.c_str());
        MODULE_TRACE(MOD_CONNECT, c, LOG_DETAIL,
                     "SQLConnect: port found in ini file, setting port to %d from ini value '%s'",
                     (int)c->PORT, v.c_str());
        return;
    }
    if (v.empty())   /* not given; Logging and LogFile keep their previous values */
        return;
    trace_dsn_value(MOD_CONNECT, c, "SQLConnect", r, v);
    store_dsn_value(c, r, v, p, true);
}

int connect_read_dsn(my_connection *c, my_string *dsn, my_string *uid, my_string *pwd,
                     int text_utf8)
{
    /* Every text setting goes, not only those the DSN may give again: a
     * certificate file left over from an earlier attempt on this handle would
     * otherwise be used with a different DSN. */
    conn_free_settings(c);
    settings_initial_numbers(c);
    c->DSN = dsn;
    /* Held until they take their places, so an early return cannot leak them. */
    std::unique_ptr<my_string, void (*)(my_string *)> user(uid, ms_free), pass(pwd, ms_free);

    dsn_section d;
    dsn_open(d, section_name(dsn, text_utf8));
    pending_texts p;
    p.value[SET_SERVER] = dsn_value(d, "Server");
    MODULE_TRACE(MOD_CONNECT, c, LOG_DETAIL, "SQLConnect: looking for 'Server' in ini file, found '%s'",
                 p.value[SET_SERVER].c_str());
    p.value[SET_SOCKET] = dsn_value(d, "Socket");
    MODULE_TRACE(MOD_CONNECT, c, LOG_DETAIL, "SQLConnect: looking for 'Socket' in ini file, found '%s'",
                 p.value[SET_SOCKET].c_str());
    if (p.value[SET_SERVER].empty() && p.value[SET_SOCKET].empty()) {
        MODULE_TRACE(MOD_CONNECT, c, LOG_ERROR, "SQLConnect: Neither Socket or Server specified");
        return 0;
    }
    c->UID = user.release();
    c->PWD = pass.release();
    setting_order order = dsn_connect_order();
    for (size_t i = 0; i < order.count; i++)
        read_for_connect(c, d, setting_table[order.ids[i]], p);
    return decode_pending(c, p);
}

/* ---- SQLDriverConnect's completion ---- */

static bool left_open(const my_connection *c, const setting_row &r, const setting_given &given)
{
    switch (r.form) {
    case FORM_TEXT: return c->*(r.text) == nullptr;
    case FORM_LOGGING: return c->hdr.log_flags == 0;
    case FORM_LOGFILE: return c->LogFile[0] == 0;
    default:
        /* PacketSize 0 means "none chosen", so the DSN's applies to it too. */
        return !given[r.id] || (r.id == SET_PacketSize && c->PacketSize == 0);
    }
}

int complete_from_dsn(my_connection *c, const setting_given &given, int text_utf8,
                      const char *fname)
{
    pending_texts p;
    if (c->DSN && c->DSN->length) {
        dsn_section d;
        dsn_open(d, section_name(c->DSN, text_utf8));
        setting_order order = dsn_complete_order();
        for (size_t i = 0; i < order.count; i++) {
            const setting_row &r = setting_table[order.ids[i]];
            if (!left_open(c, r, given))
                continue;
            std::string v = dsn_row_value(d, r);
            if (v.empty())
                continue;
            trace_dsn_value(MOD_DRIVER, c, fname, r, v);
            store_dsn_value(c, r, v, p, false);
        }
    }
    for (const setting_row &r : setting_table)
        if (setting_is_number(r) && c->*(r.number) < 0)
            c->*(r.number) = 0;
    return decode_pending(c, p);
}

/* ---- the setup dialog's test logon ---- */

int complete_unprompted_from_dsn(my_connection *c)
{
    pending_texts p;
    if (c->DSN && c->DSN->length) {
        dsn_section d;
        dsn_open(d, section_name(c->DSN, 0));
        setting_order order = dsn_complete_order();
        for (size_t i = 0; i < order.count; i++) {
            const setting_row &r = setting_table[order.ids[i]];
            if (r.prompt_at >= 0)   /* the record's value holds */
                continue;
            std::string v = dsn_row_value(d, r);
            if (!v.empty())
                store_dsn_value(c, r, v, p, false);
        }
    }
    return decode_pending(c, p);
}

/* -------------------------------------------------- output connection string */

static int append_piece(my_string *out, const my_connection *c, const setting_row &r)
{
    my_string *piece = nullptr;
    switch (r.output) {
    case OUT_NEVER: return 0;
    case OUT_TEXT: {
        const my_string *v = c->*(r.text);
        if (r.id == SET_DSN && (!v || !v->length))
            piece = compose_text("DRIVER={" QV_DRIVER_NAME "};");
        else if (!v || !v->length)
            return 0;
        else
            piece = compose_text(r.out_form, v);
        break;
    }
    case OUT_CHANGED:
        if (c->*(r.number) == r.initial)
            return 0;
        piece = compose_text(r.out_form, (int)(c->*(r.number)));
        break;
    case OUT_NONZERO:
    case OUT_FLAG:
    case OUT_PORT: {
        int32_t v = c->*(r.number);
        if (v == 0 || (r.output == OUT_PORT && (v < 0 || v == 3306)))
            return 0;
        piece = r.output == OUT_FLAG ? compose_text(r.out_form) : compose_text(r.out_form, (int)v);
        break;
    }
    }
    if (!piece)
        return -1;
    int rc = ms_append(out, piece);
    ms_free(piece);
    return rc;
}

my_string *build_out_string(const my_connection *c)
{
    my_string *out = ms_new(0);
    if (!out)
        return nullptr;
    for (const setting_row &r : setting_table)
        if (append_piece(out, c, r) != 0) {
            ms_free(out);
            return nullptr;
        }
    return out;
}
