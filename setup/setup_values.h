/*
 * The values the setup dialog edits, apart from any widget: read from an
 * attribute list and from the stored DSN, written back to odbc.ini, or
 * copied into the driver's prompt record. The dialog is a view of one of
 * these records, and the paths that show no window (ConfigDSN without a
 * parent window, no display at all) use the record directly, so both write
 * exactly the same keys.
 *
 * Texts are held as bytes in the narrow encoding they came in: UTF-8 for
 * odbc.ini, the connection's narrow encoding in prompt mode.
 */
#ifndef QV_SETUP_VALUES_H
#define QV_SETUP_VALUES_H

#include <string>
#include <vector>

#include "my_prompt.h"
#include "my_settings.h"

/* One value per row of the keyword table (indexed by setting_id), and the
 * DSN's description, which is no connection setting. */
typedef int value_id;
enum { V_DESCRIPTION = SETTING_COUNT, VALUE_COUNT };

/* Texts (and the trace settings, kept as written); numbers (integers);
 * options (Booleans and Encrypt: "yes", "no" or a number). */
enum value_kind { KIND_TEXT, KIND_NUMBER, KIND_OPTION };

struct dsn_values {
    std::string text[VALUE_COUNT];   /* KIND_TEXT rows */
    int number[VALUE_COUNT] = {};    /* KIND_NUMBER and KIND_OPTION rows */
    bool given[VALUE_COUNT] = {};    /* set by the attribute list */
};

value_kind value_kind_of(value_id id);

/* The value of one attribute-list entry: the text after its first '='
 * (null when there is none). */
const char *attribute_value(const char *entry);

/* The DSN an attribute list names ("dsn..." entries, the last one wins, one
 * trailing ';' dropped); empty when none. A null list gives "". */
std::string attribute_dsn(const char *attributes);

/* Start values, then the attribute list, then, when a DSN is named, what
 * the list did not give from that DSN in odbc.ini. */
void values_load(dsn_values &v, const char *attributes);

/* The values as the dialog shows them and hands them back: options are on
 * only when exactly 1 (an Encrypt of 2, "optional", shows unchecked). */
void values_as_shown(dsn_values &v);

/* Replaces the DSN old_name by v's DSN with the driver description and the
 * dialog's keys. 0 on success; -1 when the installer refused (its errors are
 * posted again for the caller of ConfigDSN). Keys without a place in the
 * write order are written when the attribute list gave them, else carried
 * over as stored (Entropy, time-outs, trace settings ...); a key read under
 * its alias (UID for User) is written under the key itself. */
int values_save_dsn(const dsn_values &v, const std::string &old_name, const char *driver);

/* The keys values_save_dsn writes first, in the order it writes them. */
std::vector<std::string> dsn_written_keys(void);

/* The dialog's values into every field of the driver's prompt record;
 * texts are cut to the record's fields, never past them. */
void values_fill_prompt(const dsn_values &v, my_prompt *record);

/* The record for the driver's test logon: zero-filled, then what
 * values_fill_prompt writes. */
void values_fill_test_record(const dsn_values &v, my_prompt *record);

/* Copies text into a fixed field of size bytes, terminated, cut at a UTF-8
 * character boundary when it does not fit. */
void copy_field(char *field, size_t size, const std::string &text);

/* Re-posts the installer's queued errors (indexes 0 to 7) so the caller of
 * ConfigDSN sees them. */
void repost_installer_errors(void);

#endif
