#!/bin/bash
# Fails when the driver library exports anything but ODBC API functions (as
# declared in the ODBC headers) and driver_test: every other symbol is an
# internal name an application or another library could bind to by accident.
# Usage: check_exports.sh LIBRARY ODBC_INCLUDE_DIR
set -u
lib=$1 inc=$2
[ -r "$lib" ] || { echo "no library $lib"; exit 1; }

allowed=$(mktemp) exported=$(mktemp)
trap 'rm -f "$allowed" "$exported"' EXIT

# Every declared API function: "SQLRETURN [SQL_API] SQLName(" (a few
# declarations lack SQL_API, so that word is optional).
{
    sed -nE 's/^[[:space:]]*SQLRETURN[[:space:]]+(SQL_API[[:space:]]+)?(SQL[A-Za-z]+)[[:space:]]*\(.*/\2/p' \
        "$inc/sql.h" "$inc/sqlext.h" "$inc/sqlucode.h"
    echo driver_test
} | sort -u >"$allowed"
[ "$(wc -l <"$allowed")" -gt 100 ] || { echo "could not read the API from $inc"; exit 1; }

nm -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u >"$exported" \
    || { echo "nm failed on $lib"; exit 1; }
[ -s "$exported" ] || { echo "$lib exports nothing"; exit 1; }

extra=$(comm -23 "$exported" "$allowed")
if [ -n "$extra" ]; then
    echo "$lib exports symbols that are not ODBC API entry points:"
    echo "$extra" | sed 's/^/  /'
    exit 1
fi
echo "$(wc -l <"$exported") exported symbols, all ODBC API entry points or driver_test"
