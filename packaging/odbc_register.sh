# Registering the driver with unixODBC's driver list (odbcinst.ini) through
# odbcinst.  POSIX sh: sourced by scripts/install.sh and scripts/uninstall.sh,
# and pasted into the Debian package's postinst and prerm, which dash runs.
# odbcinst honours ODBCSYSINI, so all of this works on private ini files too.
#
# The driver list keeps a UsageCount per entry: every odbcinst -i adds one,
# every odbcinst -u takes one away and removes the entry at zero.  Running an
# installer twice must not count twice, or one uninstall would leave a stale
# entry behind, so an entry that already names our library is refreshed
# without changing its count.

# qv_odbc_value NAME KEY: prints KEY of the driver entry NAME (empty when the
# entry or the key is missing).
qv_odbc_value() {
    odbcinst -q -d -n "$1" 2>/dev/null |
        sed -n "s/^$2[[:space:]]*=[[:space:]]*//p" | head -n 1
}

# qv_odbc_register NAME DRIVER_PATH TEMPLATE: registers the entry TEMPLATE
# describes (an odbcinst.ini fragment whose Driver is DRIVER_PATH).
qv_odbc_register() {
    qv_name=$1 qv_driver=$2 qv_template=$3
    qv_count=0
    if [ "$(qv_odbc_value "$qv_name" Driver)" = "$qv_driver" ]; then
        qv_count=$(qv_odbc_value "$qv_name" UsageCount)
        case $qv_count in ''|*[!0-9]*) qv_count=0 ;; esac
    fi
    # -i rewrites every key of the template, so paths and description are
    # current either way; when this library was counted already, -u takes
    # the extra count back (the entry survives, it is at least 2 here).
    odbcinst -i -d -f "$qv_template" >/dev/null || return 1
    if [ "$qv_count" -gt 0 ]; then
        odbcinst -u -d -n "$qv_name" >/dev/null || return 1
    fi
    return 0
}

# qv_odbc_unregister NAME DRIVER_PATH: gives up our count on the entry NAME
# when it names DRIVER_PATH; an entry another installation owns stays.
qv_odbc_unregister() {
    if [ "$(qv_odbc_value "$1" Driver)" != "$2" ]; then
        return 0
    fi
    odbcinst -u -d -n "$1" >/dev/null
}
