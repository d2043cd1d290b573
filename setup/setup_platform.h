/*
 * What Linux lacks of the platform the setup library was designed for, as a
 * small layer of its own: whether a window can be shown at all, the one Qt
 * application object, message boxes (a line on standard error where no
 * window can be shown), the help viewer (none here) and the driver library
 * the Test button calls.
 */
#ifndef QV_SETUP_PLATFORM_H
#define QV_SETUP_PLATFORM_H

#include <string>

#include "my_prompt.h"

class QWidget;

/* True when a Qt application exists or a platform to create one on is
 * configured (QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY). Without one,
 * creating the application would abort the calling process. */
bool display_available(void);

/* The process's Qt application, created once (destroyed at exit) when there
 * is none yet. False when no window can be shown. */
bool ensure_application(void);

enum message_kind { MESSAGE_INFORMATION, MESSAGE_WARNING, MESSAGE_ERROR };

/* A message box, or a line on standard error when no window can be shown.
 * text is narrow text: UTF-8 when it is valid UTF-8, else Latin-1. */
void show_message(QWidget *parent, message_kind kind, const std::string &caption,
                  const std::string &text);

/* Tests replace the box by this hook (it sees every message instead). */
typedef void (*message_hook_fn)(message_kind kind, const char *caption, const char *text);
extern message_hook_fn message_hook;

/* There is no help viewer for the driver's help file on this platform, so
 * the dialog shows no Help button. */
bool help_viewer_available(void);
void show_help(int context);

/* driver_test of the driver library, found once per process: the library
 * by its name, else by the Driver value of the driver's odbcinst.ini entry.
 * Null when neither gives it. */
driver_test_fn find_driver_test(void);

#endif
