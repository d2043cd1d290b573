#!/bin/bash
# Undoes scripts/install.sh: unregisters the driver from unixODBC
# (odbcinst -u -d) when its entry names the library under PREFIX, and
# removes the installed files.  Honours ODBCSYSINI like install.sh.
#
# Usage: scripts/uninstall.sh [--prefix DIR] [--no-register]
#   --prefix DIR     the prefix given to install.sh (default /usr/local)
#   --no-register    leave the driver list alone
set -u -o pipefail
QV_PROG=uninstall
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
source "$QV_ROOT/packaging/odbc_register.sh" || exit 1

usage() { qv_die "usage: $0 [--prefix DIR] [--no-register]"; }
prefix=/usr/local register=1
while [ $# -gt 0 ]; do
    case $1 in
        --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
        --no-register) register=0; shift ;;
        *) usage ;;
    esac
done
prefix=$(realpath -m -- "$prefix") || qv_die "bad prefix $prefix"

# The build tree may be gone by now, so the library directory is found
# rather than read from it: lib/odbc, lib64/odbc or lib/<multiarch>/odbc.
shopt -s nullglob
odbc_dirs=()
for d in "$prefix"/lib/odbc "$prefix"/lib64/odbc "$prefix"/lib/*/odbc; do
    [ -e "$d/libqvmysql.so" ] || [ -e "$d/libqvmysqlS.so" ] && odbc_dirs+=("$d")
done

if [ $register -eq 1 ] && command -v odbcinst >/dev/null; then
    registered=$(qv_odbc_value "$QV_DRIVER_NAME" Driver)
    for d in "${odbc_dirs[@]}"; do
        if [ "$registered" = "$d/libqvmysql.so" ]; then
            qv_odbc_unregister "$QV_DRIVER_NAME" "$registered" ||
                qv_die "odbcinst could not unregister the driver"
            qv_log "unregistered \"$QV_DRIVER_NAME\""
        fi
    done
    if [ -n "$(qv_odbc_value "$QV_DRIVER_NAME" Driver)" ]; then
        qv_log "\"$QV_DRIVER_NAME\" stays registered: $(qv_odbc_value "$QV_DRIVER_NAME" Driver)"
    fi
fi

doc=$prefix/share/doc/qvmysql
for d in "${odbc_dirs[@]}"; do
    rm -f "$d/libqvmysql.so" "$d/libqvmysqlS.so" || qv_die "cannot remove the libraries in $d"
    rmdir --ignore-fail-on-non-empty "$d"
done
rm -f "$doc/README.md" "$doc/odbcinst.ini" || qv_die "cannot remove $doc"
[ -d "$doc" ] && rmdir --ignore-fail-on-non-empty "$doc"
qv_log "removed qvmysql from $prefix"
