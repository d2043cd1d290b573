/*
 * The setup dialog's values without the dialog: the attribute list and the
 * stored DSN in, odbc.ini or the prompt record out.
 */
#include "setup_values.h"

#include <odbcinst.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "my_settings.h"

enum { INI_VALUE_SIZE = 1024, INI_NUMBER_SIZE = 20, INI_KEYS_SIZE = 8192,
       INSTALLER_TEXT_SIZE = 512 };

static const char ODBC_INI[] = "odbc.ini";

value_kind value_kind_of(value_id id)
{
    switch (id) {
    case V_PORT:
    case V_REQCHARSET:
        return KIND_NUMBER;
    case V_IPV6: case V_ANSIMODE: case V_ENCRYPT: case V_NOCACHE: case V_NTLMV2:
    case V_KERBEROS: case V_COMPRESS: case V_TRUST_CERT: case V_NULL_DATETIMES:
    case V_TEXT_PREPARE: case V_CONV_TO_UTF:
        return KIND_OPTION;
    default:
        return KIND_TEXT;
    }
}

/* ------------------------------------------------------- attribute list */

/* Entries are recognised by their first letters, in this order (so "desc"
 * also takes "Description", and "RsaKeyFile" is the private key file). */
struct list_key {
    const char *prefix;
    value_id id;
};

static const list_key list_keys[] = {
    {"dsn", V_DSN}, {"desc", V_DESCRIPTION}, {"uid", V_UID}, {"pwd", V_PWD},
    {"server", V_SERVER}, {"database", V_DATABASE}, {"port", V_PORT},
    {"ReqCharSet", V_REQCHARSET}, {"ipv6", V_IPV6}, {"ansimode", V_ANSIMODE},
    {"encrypt", V_ENCRYPT}, {"nocache", V_NOCACHE}, {"ntlmv2", V_NTLMV2},
    {"kerberos", V_KERBEROS}, {"compress", V_COMPRESS},
    {"TrustServerCertificate", V_TRUST_CERT}, {"NullDatetimes", V_NULL_DATETIMES},
    {"PrivateKeyFile", V_PRIVATE_KEY_FILE}, {"CertificateFile", V_CERTIFICATE_FILE},
    {"RsaKeyFile", V_PRIVATE_KEY_FILE}, {"Entropy", V_ENTROPY}, {"SQLMode", V_SQLMODE},
    {"WindowsUser", V_WINDOWS_USER}, {"Principal", V_PRINCIPAL},
    {"PublicKeyFile", V_PUBLIC_KEY_FILE}, {"Text_Prepare", V_TEXT_PREPARE},
};

/* The value starts after the '=', not at a fixed distance from the prefix:
 * an entry spelled out in full ("Description=x") must not load the rest of
 * its own key as the value. */
const char *attribute_value(const char *entry)
{
    const char *eq = strchr(entry, '=');
    return eq ? eq + 1 : nullptr;
}

/* Calls fn(entry) for each entry of a NUL-separated list. */
template <typename F> static void for_each_entry(const char *list, F fn)
{
    if (!list)
        return;
    for (const char *p = list; *p; p += strlen(p) + 1)
        fn(p);
}

static std::string without_trailing_semicolon(const char *s)
{
    std::string t(s);
    if (!t.empty() && t.back() == ';')
        t.pop_back();
    return t;
}

std::string attribute_dsn(const char *attributes)
{
    std::string name;
    for_each_entry(attributes, [&](const char *entry) {
        const char *value = attribute_value(entry);
        if (strncasecmp(entry, "dsn", 3) == 0 && value)
            name = without_trailing_semicolon(value);
    });
    return name;
}

/* "yes", "no" or a number. */
static int option_number(const char *s)
{
    if (strcasecmp(s, "yes") == 0)
        return 1;
    if (strcasecmp(s, "no") == 0)
        return 0;
    return (int)strtol(s, nullptr, 10);
}

static void set_from_text(dsn_values &v, value_id id, const char *s)
{
    switch (value_kind_of(id)) {
    case KIND_TEXT:
        v.text[id] = id == V_DSN ? without_trailing_semicolon(s) : std::string(s);
        break;
    case KIND_NUMBER:
        v.number[id] = (int)strtol(s, nullptr, 10);
        break;
    case KIND_OPTION:
        v.number[id] = option_number(s);
        break;
    }
}

static void load_list(dsn_values &v, const char *attributes)
{
    for_each_entry(attributes, [&](const char *entry) {
        const char *value = attribute_value(entry);
        if (!value)
            return;
        for (const list_key &k : list_keys) {
            if (strncasecmp(entry, k.prefix, strlen(k.prefix)) == 0) {
                set_from_text(v, k.id, value);
                v.given[k.id] = true;
                return;
            }
        }
    });
}

/* ------------------------------------------------------------ stored DSN */

struct ini_key {
    const char *key;
    value_id id;
    int size;
};

/* What the DSN supplies where the list was silent. Paths get the full size:
 * a path cut here would be written back cut on the next save. */
static const ini_key dsn_read_keys[] = {
    {"Description", V_DESCRIPTION, INI_VALUE_SIZE}, {"User", V_UID, INI_VALUE_SIZE},
    {"Password", V_PWD, INI_VALUE_SIZE}, {"Server", V_SERVER, INI_VALUE_SIZE},
    {"Database", V_DATABASE, INI_VALUE_SIZE}, {"Entropy", V_ENTROPY, INI_VALUE_SIZE},
    {"SQLMode", V_SQLMODE, INI_VALUE_SIZE}, {"WindowsUser", V_WINDOWS_USER, INI_VALUE_SIZE},
    {"PrivateKeyFile", V_PRIVATE_KEY_FILE, INI_VALUE_SIZE},
    {"CertificateFile", V_CERTIFICATE_FILE, INI_VALUE_SIZE},
    {"PublicKeyFile", V_PUBLIC_KEY_FILE, INI_VALUE_SIZE},
    {"Principal", V_PRINCIPAL, INI_VALUE_SIZE},
    {"port", V_PORT, INI_NUMBER_SIZE}, {"ReqCharSet", V_REQCHARSET, INI_NUMBER_SIZE},
    {"ipv6", V_IPV6, INI_NUMBER_SIZE}, {"ansimode", V_ANSIMODE, INI_NUMBER_SIZE},
    {"Encrypt", V_ENCRYPT, INI_NUMBER_SIZE}, {"NoCache", V_NOCACHE, INI_NUMBER_SIZE},
    {"NTLMv2", V_NTLMV2, INI_NUMBER_SIZE}, {"Kerberos", V_KERBEROS, INI_NUMBER_SIZE},
    {"Compress", V_COMPRESS, INI_NUMBER_SIZE},
    {"TrustServerCertificate", V_TRUST_CERT, INI_NUMBER_SIZE},
    {"NullDatetimes", V_NULL_DATETIMES, INI_NUMBER_SIZE},
    {"Text_Prepare", V_TEXT_PREPARE, INI_NUMBER_SIZE},
};

static std::string ini_read(const std::string &section, const char *key, int size)
{
    std::vector<char> buf((size_t)size + 1, 0);
    SQLGetPrivateProfileString(section.c_str(), key, "", buf.data(), size, ODBC_INI);
    buf[(size_t)size] = 0;
    return std::string(buf.data());
}

static void load_dsn(dsn_values &v, const std::string &dsn)
{
    for (const ini_key &k : dsn_read_keys) {
        if (v.given[k.id])
            continue;
        std::string s = ini_read(dsn, k.key, k.size);
        /* an empty port or character set keeps its default */
        if (value_kind_of(k.id) == KIND_NUMBER && s.empty())
            continue;
        set_from_text(v, k.id, s.c_str());
    }
    /* the list never carries ConvToUTF: the stored value always counts */
    v.number[V_CONV_TO_UTF] = option_number(ini_read(dsn, "ConvToUTF", INI_NUMBER_SIZE).c_str());
}

void values_load(dsn_values &v, const char *attributes)
{
    v = dsn_values();
    v.number[V_PORT] = 3306;
    load_list(v, attributes);
    if (!v.text[V_DSN].empty())
        load_dsn(v, v.text[V_DSN]);
}

void values_as_shown(dsn_values &v)
{
    for (int i = 0; i < VALUE_COUNT; i++)
        if (value_kind_of((value_id)i) == KIND_OPTION)
            v.number[i] = v.number[i] == 1 ? 1 : 0;
}

/* -------------------------------------------------------------- saving */

/* The queue is read whole before anything is posted: posting appends to the
 * queue being read. Indexes count from 1, as SQLInstallerError takes them. */
void repost_installer_errors(void)
{
    struct queued {
        DWORD code;
        char text[INSTALLER_TEXT_SIZE];
    } errors[8];
    int n = 0;
    for (WORD i = 1; i <= 8; i++) {
        queued &e = errors[n];
        e.code = 0;
        e.text[0] = 0;
        WORD len = 0;
        RETCODE rc = SQLInstallerError(i, &e.code, e.text, sizeof e.text, &len);
        if (rc == SQL_NO_DATA)
            break;
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            continue;
        e.text[sizeof e.text - 1] = 0;
        n++;
    }
    for (int i = 0; i < n; i++)
        SQLPostInstallerError(errors[i].code, errors[i].text);
}

struct ini_pair {
    std::string key, value;
};

/* Every key of a stored section with its value. */
static std::vector<ini_pair> read_section(const std::string &section)
{
    std::vector<ini_pair> pairs;
    if (section.empty())
        return pairs;
    std::vector<char> keys(INI_KEYS_SIZE + 2, 0);
    int n = SQLGetPrivateProfileString(section.c_str(), nullptr, "", keys.data(),
                                       INI_KEYS_SIZE, ODBC_INI);
    if (n <= 0)
        return pairs;
    keys[INI_KEYS_SIZE] = keys[INI_KEYS_SIZE + 1] = 0;
    for_each_entry(keys.data(), [&](const char *key) {
        pairs.push_back({key, ini_read(section, key, INI_VALUE_SIZE)});
    });
    return pairs;
}

static const ini_pair *find_pair(const std::vector<ini_pair> &pairs, const char *key)
{
    for (const ini_pair &p : pairs)
        if (strcasecmp(p.key.c_str(), key) == 0)
            return &p;
    return nullptr;
}

/* The keys the dialog writes, in the order it writes them. Rows with
 * VALUE_COUNT have no field: they keep what was stored. */
struct write_key {
    const char *key;
    int id;
};

static const write_key dsn_write_keys[] = {
    {"Description", V_DESCRIPTION}, {"Database", V_DATABASE}, {"Server", V_SERVER},
    {"User", V_UID}, {"Password", V_PWD}, {"character_set_client", VALUE_COUNT},
    {"character_set_results", VALUE_COUNT}, {"collation_connection", VALUE_COUNT},
    {"Port", V_PORT}, {"ReqCharSet", V_REQCHARSET}, {"IPV6", V_IPV6},
    {"AnsiMode", V_ANSIMODE}, {"Encrypt", V_ENCRYPT}, {"TrustServerCertificate", V_TRUST_CERT},
    {"PrivateKeyFile", V_PRIVATE_KEY_FILE}, {"WindowsUser", V_WINDOWS_USER},
    {"Principal", V_PRINCIPAL}, {"SQLMode", V_SQLMODE},
    {"CertificateFile", V_CERTIFICATE_FILE}, {"PublicKeyFile", V_PUBLIC_KEY_FILE},
    {"Text_Prepare", V_TEXT_PREPARE}, {"NoCache", V_NOCACHE}, {"NTLMv2", V_NTLMV2},
    {"Kerberos", V_KERBEROS}, {"ConvToUtf", V_CONV_TO_UTF}, {"Compress", V_COMPRESS},
    {"NullDatetimes", V_NULL_DATETIMES},
};

static std::string written_value(const dsn_values &v, const write_key &k,
                                 const std::vector<ini_pair> &stored)
{
    if (k.id == VALUE_COUNT) {
        const ini_pair *p = find_pair(stored, k.key);
        return p ? p->value : std::string();
    }
    value_id id = (value_id)k.id;
    switch (value_kind_of(id)) {
    case KIND_TEXT:
        return v.text[id];
    case KIND_NUMBER:
        return std::to_string(v.number[id]);
    case KIND_OPTION:
        break;
    }
    return v.number[id] ? "Yes" : "No";
}

static bool is_written_key(const std::string &key)
{
    if (strcasecmp(key.c_str(), "Driver") == 0)
        return true;
    for (const write_key &k : dsn_write_keys)
        if (strcasecmp(key.c_str(), k.key) == 0)
            return true;
    return false;
}

static int write_value(const std::string &dsn, const char *key, const std::string &value)
{
    if (SQLWritePrivateProfileString(dsn.c_str(), key, value.c_str(), ODBC_INI))
        return 0;
    repost_installer_errors();
    return -1;
}

int values_save_dsn(const dsn_values &v, const std::string &old_name, const char *driver)
{
    const std::string &name = v.text[V_DSN];
    std::vector<ini_pair> stored = read_section(old_name);
    /* The new entry first: if the installer refuses it (an invalid name),
     * the old DSN is still there rather than lost. */
    if (!SQLWriteDSNToIni(name.c_str(), driver ? driver : QV_DRIVER_NAME)) {
        repost_installer_errors();
        return -1;
    }
    if (!old_name.empty() && strcasecmp(old_name.c_str(), name.c_str()) != 0)
        SQLRemoveDSNFromIni(old_name.c_str());
    for (const write_key &k : dsn_write_keys)
        if (write_value(name, k.key, written_value(v, k, stored)) != 0)
            return -1;
    /* Settings the dialog has no field for survive the save. */
    for (const ini_pair &p : stored)
        if (!is_written_key(p.key) && write_value(name, p.key.c_str(), p.value) != 0)
            return -1;
    return 0;
}

/* ------------------------------------------------------- prompt record */

void copy_field(char *field, size_t size, const std::string &text)
{
    if (!size)
        return;
    size_t n = text.size();
    if (n > size - 1) {
        n = size - 1;
        /* never end inside a UTF-8 sequence */
        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
            n--;
    }
    memcpy(field, text.data(), n);
    field[n] = 0;
}

struct prompt_text_row {
    char (my_prompt::*field)[PROMPT_TEXT_SIZE];
    value_id id;
};

static const prompt_text_row prompt_text_rows[] = {
    {&my_prompt::UID, V_UID}, {&my_prompt::PWD, V_PWD}, {&my_prompt::SERVER, V_SERVER},
    {&my_prompt::DATABASE, V_DATABASE}, {&my_prompt::PrivateKeyFile, V_PRIVATE_KEY_FILE},
    {&my_prompt::CertificateFile, V_CERTIFICATE_FILE},
    {&my_prompt::PublicKeyFile, V_PUBLIC_KEY_FILE},
    {&my_prompt::WindowsUser, V_WINDOWS_USER}, {&my_prompt::Principal, V_PRINCIPAL},
};

struct prompt_number_row {
    int32_t my_prompt::*field;
    value_id id;
};

static const prompt_number_row prompt_number_rows[] = {
    {&my_prompt::PORT, V_PORT}, {&my_prompt::ReqCharSet, V_REQCHARSET},
    {&my_prompt::IPV6, V_IPV6}, {&my_prompt::AnsiMode, V_ANSIMODE},
    {&my_prompt::ConvToUtf, V_CONV_TO_UTF}, {&my_prompt::Encrypt, V_ENCRYPT},
    {&my_prompt::Compress, V_COMPRESS}, {&my_prompt::TrustServerCertificate, V_TRUST_CERT},
    {&my_prompt::Text_Prepare, V_TEXT_PREPARE}, {&my_prompt::NoCache, V_NOCACHE},
    {&my_prompt::NTLMv2, V_NTLMV2}, {&my_prompt::Kerberos, V_KERBEROS},
    {&my_prompt::NullDatetimes, V_NULL_DATETIMES},
};

void values_fill_prompt(const dsn_values &v, my_prompt *record)
{
    for (const prompt_text_row &r : prompt_text_rows)
        copy_field(record->*(r.field), PROMPT_TEXT_SIZE, v.text[r.id]);
    for (const prompt_number_row &r : prompt_number_rows)
        record->*(r.field) = v.number[r.id];
}

void values_fill_test_record(const dsn_values &v, my_prompt *record)
{
    memset(record, 0, sizeof *record);
    copy_field(record->DSN, sizeof record->DSN, v.text[V_DSN]);
    values_fill_prompt(v, record);
}
