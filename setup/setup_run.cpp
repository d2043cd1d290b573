/*
 * The dialog machinery behind ConfigDSN, complete_info and complete_error.
 */
#include "setup_run.h"

#include <odbcinst.h>
#include <stdio.h>

#include <memory>
#include <string>

#include <QApplication>

#include "my_settings.h"
#include "setup_dialog.h"
#include "setup_platform.h"
#include "setup_values.h"

dialog_hook_fn dialog_hook = nullptr;

static const char NO_WINDOW[] = "no display to show the setup dialog on";

/* The OK action without a window: the same values the dialog would show
 * and hand back, written or copied without any widget. */
static void run_without_window(dialog_request &r)
{
    dsn_values v;
    values_load(v, r.attributes);
    values_as_shown(v);
    if (r.prompt)
        values_fill_prompt(v, r.prompt);
    else if (values_save_dsn(v, attribute_dsn(r.attributes), r.driver) != 0)
        r.failed = true;
    r.result = 0;
}

/* A window was asked for and none can be shown: nobody can answer, which
 * is no answer, never a silent success. */
static void no_window(dialog_request &r)
{
    fprintf(stderr, "%s: %s\n", QV_DRIVER_NAME, NO_WINDOW);
    if (!r.prompt)
        SQLPostInstallerError(ODBC_ERROR_INVALID_HWND, NO_WINDOW);
    r.result = 100;
    r.failed = true;
}

static void run_modal(dialog_request &r)
{
    std::unique_ptr<Setup> dlg(new Setup(nullptr, "DSN Properties", r.prompt));
    dlg->set_driver(r.driver);
    if (r.prompt)
        dlg->set_narrow_utf8(r.narrow_utf8);
    dlg->load(r.attributes);
    if (!r.adding)
        dlg->disable_dsn_name();
    if (dialog_hook)
        dialog_hook(dlg.get());
    dlg->exec();
    r.result = dlg->result_code();
    r.failed = dlg->save_failed();
    dlg->close();
}

void run_dialog(dialog_request &r)
{
    if (r.message_box) {
        show_message(nullptr, MESSAGE_INFORMATION, QV_DRIVER_NAME,
                     r.message ? r.message : "");
        return;
    }
    if (!r.parent) {
        run_without_window(r);
        return;
    }
    if (!ensure_application()) {
        no_window(r);
        return;
    }
    run_modal(r);
}
