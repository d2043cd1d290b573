/*
 * complete_info: the driver's prompt. The dialog starts from the
 * connection's settings and writes the user's answers into the driver's
 * prompt record.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "my_settings.h"
#include "setup_run.h"

/* The settings offered to the dialog, in list order: the rows with a place
 * in it (the texts come before the numbers), then every other setting the
 * connection holds, in table order. */
std::vector<setting_id> prompt_list_order(void)
{
    setting_id ids[SETTING_COUNT];
    int n = settings_in_order(&setting_row::list_at, ids);
    std::vector<setting_id> order(ids, ids + n);
    for (const setting_row &r : setting_table)
        if (!r.list_at && (r.text || r.number))
            order.push_back(r.id);
    return order;
}

static void append_entry(std::string &list, const std::string &entry)
{
    list += entry;
    list += '\0';
}

/* The attribute list of the connection's settings, in its narrow encoding. */
std::string prompt_attribute_list(const my_connection *c)
{
    std::string list;
    for (setting_id id : prompt_list_order()) {
        const setting_row &r = setting_table[id];
        std::string value;
        if (r.text) {   /* texts only when set */
            const my_string *s = c->*(r.text);
            if (!s || !s->length)
                continue;
            char *narrow = ms_to_narrow(s, c);
            if (!narrow)
                continue;
            value = narrow;
            explicit_bzero(narrow, strlen(narrow));
            free(narrow);
        } else {
            value = std::to_string(c->*(r.number));
        }
        append_entry(list, std::string(r.name) + "=" + value);
    }
    return list;   /* the terminator of the last entry and c_str()'s make the empty entry */
}

extern "C" int complete_info(my_connection *c, void *window, my_prompt *record)
{
    if (!c || !record)
        return 100;
    try {
        std::string list = prompt_attribute_list(c);
        memset(record, 0, 8);
        dialog_request r;
        r.attributes = list.c_str();
        r.parent = window;
        r.driver = QV_DRIVER_NAME;
        r.prompt = record;
        r.narrow_utf8 = c->ConvToUtf != 0;
        run_dialog(r);
        /* the list holds the password */
        explicit_bzero(&list[0], list.size());
        return r.result == 100 || r.failed ? 100 : 0;
    } catch (...) {   /* nothing may be thrown across the C boundary */
        fprintf(stderr, "%s: out of memory\n", QV_DRIVER_NAME);
        return 100;
    }
}
