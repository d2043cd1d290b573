/*
 * The platform layer of the setup library on Linux.
 */
#include "setup_platform.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <stdio.h>
#include <stdlib.h>

#include <mutex>

#include <QApplication>
#include <QMessageBox>
#include <QTextCodec>

#include "my_settings.h"

enum { DRIVER_VALUE_SIZE = 1024 };

/* The driver library's name on this platform. */
static const char DRIVER_LIBRARY[] = "libqvmysql.so";

message_hook_fn message_hook = nullptr;

static bool env_set(const char *name)
{
    const char *v = getenv(name);
    return v && *v;
}

bool display_available(void)
{
    return QApplication::instance() || env_set("QT_QPA_PLATFORM") || env_set("DISPLAY") ||
           env_set("WAYLAND_DISPLAY");
}

/* Qt keeps a reference to argc and argv for the application's lifetime. */
static int app_argc = 1;
static char app_name[] = "setup";
static char *app_argv[] = {app_name, nullptr};

/* The application this library created, destroyed when the process exits
 * (the library is linked to stay loaded, so this runs before Qt's own
 * libraries are finalised). */
struct owned_application {
    QApplication *app = nullptr;
    ~owned_application() { delete app; }
};
static owned_application owned;

bool ensure_application(void)
{
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (QApplication::instance())
        return qobject_cast<QApplication *>(QApplication::instance()) != nullptr;
    if (!display_available())
        return false;
    owned.app = new QApplication(app_argc, app_argv);
    return true;
}

static QString narrow_to_qstring(const std::string &text)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    if (utf8) {
        QTextCodec::ConverterState state;
        QString s = utf8->toUnicode(text.data(), (int)text.size(), &state);
        if (state.invalidChars == 0)
            return s;
    }
    return QString::fromLatin1(text.data(), (int)text.size());
}

void show_message(QWidget *parent, message_kind kind, const std::string &caption,
                  const std::string &text)
{
    if (message_hook) {
        message_hook(kind, caption.c_str(), text.c_str());
        return;
    }
    if (!ensure_application()) {
        fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return;
    }
    QString c = narrow_to_qstring(caption), t = narrow_to_qstring(text);
    switch (kind) {
    case MESSAGE_INFORMATION:
        QMessageBox::information(parent, c, t);
        break;
    case MESSAGE_WARNING:
        QMessageBox::warning(parent, c, t);
        break;
    case MESSAGE_ERROR:
        QMessageBox::critical(parent, c, t);
        break;
    }
}

bool help_viewer_available(void) { return false; }

void show_help(int context)
{
    fprintf(stderr, "%s: no help viewer for help context %d on this platform\n",
            QV_DRIVER_NAME, context);
}

static void *open_driver_library(void)
{
    void *lib = dlopen(DRIVER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib)
        return lib;
    char path[DRIVER_VALUE_SIZE + 1] = "";
    SQLGetPrivateProfileString(QV_DRIVER_NAME, "Driver", "", path, DRIVER_VALUE_SIZE,
                               "odbcinst.ini");
    path[DRIVER_VALUE_SIZE] = 0;
    return path[0] ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

/* Loaded once and kept for the rest of the process: the Test button may be
 * pressed many times, and a library that was found stays found. */
driver_test_fn find_driver_test(void)
{
    static std::mutex lock;
    static driver_test_fn fn = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (!fn) {
        void *lib = open_driver_library();
        if (lib) {
            fn = (driver_test_fn)dlsym(lib, "driver_test");
            if (!fn)
                dlclose(lib);
        }
    }
    return fn;
}
