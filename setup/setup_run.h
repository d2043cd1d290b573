/*
 * Running the Setup dialog for the exported functions: with a parent window
 * it is shown modally; without one its OK action runs at once, showing
 * nothing (so ConfigDSN without a window writes the DSN from the attribute
 * list and the stored values, as the ODBC installer API specifies).
 */
#ifndef QV_SETUP_RUN_H
#define QV_SETUP_RUN_H

#include <string>
#include <vector>

#include "my_prompt.h"
#include "my_settings.h"

struct dialog_request {
    const char *attributes = nullptr;   /* NUL-separated, ending with an empty entry */
    void *parent = nullptr;             /* parent window; null: no window */
    const char *driver = nullptr;       /* the driver description */
    my_prompt *prompt = nullptr;        /* prompt mode; null: DSN mode */
    bool narrow_utf8 = true;            /* prompt mode: texts are UTF-8, else Latin-1 */
    bool message_box = false;           /* show message instead of the dialog */
    const char *message = nullptr;
    bool adding = false;                /* a DSN is being added */
    /* out */
    int result = 0;                     /* 0, or 100 when the user cancelled */
    bool failed = false;                /* the DSN could not be saved, or no
                                           window could be shown (errors posted) */
};

void run_dialog(dialog_request &r);

/* Called with the dialog just before it runs modally (tests accept or
 * cancel it from here; null otherwise). */
class Setup;
typedef void (*dialog_hook_fn)(Setup *dialog);
extern dialog_hook_fn dialog_hook;

/* complete_info's attribute list from the connection's settings, in the
 * connection's narrow encoding (it holds the password: clear it after use). */
std::string prompt_attribute_list(const my_connection *c);
/* The settings that list offers, in its order. */
std::vector<setting_id> prompt_list_order(void);

#endif
