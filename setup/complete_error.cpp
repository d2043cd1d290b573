/*
 * complete_error: shows the driver's error text in a message box (a line on
 * standard error where no window can be shown).
 */
#include <stdio.h>

#include "my_settings.h"
#include "setup_run.h"

extern "C" void complete_error(my_connection *c, const char *text, void *window)
{
    (void)c;
    (void)window;
    try {
        dialog_request r;
        r.message_box = true;
        r.message = text ? text : "";
        run_dialog(r);
    } catch (...) {   /* nothing may be thrown across the C boundary */
        fprintf(stderr, "%s: %s\n", QV_DRIVER_NAME, text ? text : "");
    }
}
