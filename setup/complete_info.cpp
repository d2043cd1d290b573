/*
 * complete_info: the driver's prompt. The dialog starts from the
 * connection's settings and writes the user's answers into the driver's
 * prompt record.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "my_settings.h"
#include "setup_run.h"

struct list_key {
    const char *key;
    setting_id id;
};

/* The texts offered to the dialog (each only when set), then the numbers
 * (always), in list order. */
static const list_key list_texts[] = {
    {"DSN", SET_DSN}, {"UID", SET_UID}, {"PWD", SET_PWD}, {"SERVER", SET_SERVER},
    {"DATABASE", SET_DATABASE}, {"ENTROPY", SET_Entropy}, {"PrivateKeyFile", SET_PrivateKeyFile},
    {"CertificateFile", SET_CertificateFile}, {"PublicKeyFile", SET_PublicKeyFile},
    {"WindowsUser", SET_WindowsUser}, {"Principal", SET_Principal},
};

static const list_key list_numbers[] = {
    {"PORT", SET_PORT}, {"ReqCharSet", SET_ReqCharSet}, {"Compress", SET_Compress},
    {"IPV6", SET_IPV6}, {"AnsiMode", SET_AnsiMode}, {"Text_Prepare", SET_Text_Prepare},
    {"NoCache", SET_NoCache}, {"Encrypt", SET_Encrypt}, {"ConvToUtf", SET_ConvToUtf},
    {"TrustServerCertificate", SET_TrustServerCertificate}, {"NTLMv2", SET_NTLMv2},
    {"Kerberos", SET_Kerberos}, {"NullDatetimes", SET_NullDatetimes},
};

static void append_entry(std::string &list, const std::string &entry)
{
    list += entry;
    list += '\0';
}

/* The attribute list of the connection's settings, in its narrow encoding. */
std::string prompt_attribute_list(const my_connection *c)
{
    std::string list;
    for (const list_key &t : list_texts) {
        const my_string *s = c->*(setting_table[t.id].text);
        if (!s || !s->length)
            continue;
        char *narrow = ms_to_narrow(s, c);
        if (!narrow)
            continue;
        append_entry(list, std::string(t.key) + "=" + narrow);
        free(narrow);
    }
    for (const list_key &n : list_numbers)
        append_entry(list, std::string(n.key) + "=" + std::to_string(c->*(setting_table[n.id].number)));
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
