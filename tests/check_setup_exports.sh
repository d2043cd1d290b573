#!/bin/bash
# Fails unless the setup library exports exactly its four entry points: any
# other symbol (a Qt class, a helper) is a name another library could bind
# to by accident.
# Usage: check_setup_exports.sh LIBRARY
set -u
lib=$1
[ -r "$lib" ] || { echo "no library $lib"; exit 1; }
expected=$(printf '%s\n' ConfigDSN ConfigDriver complete_error complete_info | sort)
exported=$(nm -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u) \
    || { echo "nm failed on $lib"; exit 1; }
if [ "$exported" != "$expected" ]; then
    echo "$lib exports:"
    echo "$exported" | sed 's/^/  /'
    echo "expected exactly:"
    echo "$expected" | sed 's/^/  /'
    exit 1
fi
echo "$lib exports exactly ConfigDSN, ConfigDriver, complete_error, complete_info"
