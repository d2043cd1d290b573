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
    if (id < 0 || id >= SETTING_COUNT)   /* the description */
        return KIND_TEXT;
    switch (setting_table[id].form) {
    case FORM_INTEGER: return KIND_NUMBER;
    case FORM_BOOLEAN:
    case FORM_ENCRYPT: return KIND_OPTION;
    default: return KIND_TEXT;   /* texts, and Logging and LogFile as written */
    }
}

/* ------------------------------------------------------- attribute list */

/* Entries are recognised by their first letters: the keywords of the
 * table, and two names of the dialog's own ("desc" also takes
 * "Description", and "RsaKeyFile" is the private key file). No keyword is
 * the beginning of another, so the order of the look-up does not matter. */
static bool list_key(const char *entry, value_id *id)
{
    static const struct {
        const char *prefix;
        value_id id;
    } own[] = {{"desc", V_DESCRIPTION}, {"RsaKeyFile", SET_PrivateKeyFile}};
    for (const auto &k : own)
        if (strncasecmp(entry, k.prefix, strlen(k.prefix)) == 0) {
            *id = k.id;
            return true;
        }
    for (const setting_row &r : setting_table)
        if (strncasecmp(entry, r.keyword, strlen(r.keyword)) == 0) {
            *id = r.id;
            return true;
        }
    return false;
}

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
        v.text[id] = id == SET_DSN ? without_trailing_semicolon(s) : std::string(s);
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
        value_id id;
        if (list_key(entry, &id)) {
            set_from_text(v, id, value);
            v.given[id] = true;
        }
    });
}

/* ------------------------------------------------------------ stored DSN */

static std::string ini_read(const std::string &section, const char *key, int size)
{
    std::vector<char> buf((size_t)size + 1, 0);
    SQLGetPrivateProfileString(section.c_str(), key, "", buf.data(), size, ODBC_INI);
    buf[(size_t)size] = 0;
    return std::string(buf.data());
}

/* What the DSN supplies where the list was silent: the description and
 * every key of the table. Paths get the full size: a path cut here would
 * be written back cut on the next save. */
static void load_dsn(dsn_values &v, const std::string &dsn)
{
    if (!v.given[V_DESCRIPTION])
        v.text[V_DESCRIPTION] = ini_read(dsn, "Description", INI_VALUE_SIZE);
    for (const setting_row &r : setting_table) {
        if (v.given[r.id] || !r.ini_key)
            continue;
        bool text = value_kind_of(r.id) == KIND_TEXT;
        int size = text ? INI_VALUE_SIZE : INI_NUMBER_SIZE;
        std::string s = ini_read(dsn, r.ini_key, size);
        if (s.empty() && r.ini_alias)   /* e.g. UID and PWD for User and Password */
            s = ini_read(dsn, r.ini_alias, size);
        /* an empty number or option keeps its start value */
        if (!text && s.empty())
            continue;
        set_from_text(v, r.id, s.c_str());
    }
}

void values_load(dsn_values &v, const char *attributes)
{
    v = dsn_values();
    for (const setting_row &r : setting_table)
        if (r.number)
            v.number[r.id] = r.initial;
    v.number[SET_PORT] = 3306;
    load_list(v, attributes);
    if (!v.text[SET_DSN].empty())
        load_dsn(v, v.text[SET_DSN]);
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

static std::string written_value(const dsn_values &v, value_id id)
{
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

/* The keys written in order: the description, then the table's write_at. */
static int written_in_order(value_id *ids)
{
    ids[0] = V_DESCRIPTION;
    setting_id rows[SETTING_COUNT];
    int n = settings_in_order(&setting_row::write_at, rows);
    for (int i = 0; i < n; i++)
        ids[i + 1] = rows[i];
    return n + 1;
}

static const char *ini_key_of(value_id id)
{
    return id == V_DESCRIPTION ? "Description" : setting_table[id].ini_key;
}

std::vector<std::string> dsn_written_keys(void)
{
    value_id ids[VALUE_COUNT];
    int n = written_in_order(ids);
    std::vector<std::string> keys;
    for (int i = 0; i < n; i++)
        keys.push_back(ini_key_of(ids[i]));
    return keys;
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
    const std::string &name = v.text[SET_DSN];
    std::vector<ini_pair> stored = read_section(old_name);
    /* The new entry first: if the installer refuses it (an invalid name),
     * the old DSN is still there rather than lost. */
    if (!SQLWriteDSNToIni(name.c_str(), driver ? driver : QV_DRIVER_NAME)) {
        repost_installer_errors();
        return -1;
    }
    if (!old_name.empty() && strcasecmp(old_name.c_str(), name.c_str()) != 0)
        SQLRemoveDSNFromIni(old_name.c_str());
    /* The dialog's keys in their order, then what the attribute list gave
     * for keys without a place. */
    value_id ids[VALUE_COUNT];
    int n = written_in_order(ids);
    for (const setting_row &r : setting_table)
        if (!r.write_at && r.ini_key && v.given[r.id])
            ids[n++] = r.id;
    std::vector<std::string> written = {"Driver"};
    for (int i = 0; i < n; i++) {
        const char *key = ini_key_of(ids[i]);
        if (write_value(name, key, written_value(v, ids[i])) != 0)
            return -1;
        written.push_back(key);
        /* the value read under the key's alias is now written under the key */
        if (ids[i] < SETTING_COUNT && setting_table[ids[i]].ini_alias)
            written.push_back(setting_table[ids[i]].ini_alias);
    }
    /* Other stored keys, settings the dialog shows no field for among them,
     * survive the save as they were. */
    for (const ini_pair &p : stored) {
        bool done = false;
        for (const std::string &k : written)
            done = done || strcasecmp(k.c_str(), p.key.c_str()) == 0;
        if (!done && write_value(name, p.key.c_str(), p.value) != 0)
            return -1;
    }
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

void values_fill_prompt(const dsn_values &v, my_prompt *record)
{
    for (const setting_row &r : setting_table) {
        if (char *text = setting_prompt_text(r, record))
            copy_field(text, PROMPT_TEXT_SIZE, v.text[r.id]);
        else if (int32_t *number = setting_prompt_number(r, record))
            *number = v.number[r.id];
    }
}

void values_fill_test_record(const dsn_values &v, my_prompt *record)
{
    memset(record, 0, sizeof *record);
    values_fill_prompt(v, record);
}
