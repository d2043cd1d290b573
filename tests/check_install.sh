#!/bin/bash
# Installs the built driver into a temporary prefix with scripts/install.sh
# (twice: registering again must not add a second entry or count), against a
# private odbcinst.ini, loads the installed driver through the driver
# manager, then uninstalls and checks that nothing is left.
# Usage: check_install.sh BUILD_DIR [ASAN_RUNTIME]
set -u -o pipefail
build=$1 asan=${2:-}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name="Quorvane MySQL ODBC Driver"

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
mkdir -p "$tmp/odbc"
# Only the private ini files: no system driver list, no user DSNs.
export ODBCSYSINI=$tmp/odbc ODBCINI=$tmp/odbc/odbc.ini HOME=$tmp
unset ODBCINSTINI
: >"$ODBCINI"

fail() { echo "FAIL: $*"; exit 1; }
run() { "$@" >"$tmp/out" 2>&1 || { cat "$tmp/out"; fail "$*"; }; }

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
odbc_dir=$prefix/$libdir/odbc
driver=$odbc_dir/libqvmysql.so setup=$odbc_dir/libqvmysqlS.so
with_setup=0
[ -f "$build/libqvmysqlS.so" ] && with_setup=1

for i in 1 2; do
    run bash "$root/scripts/install.sh" --prefix "$prefix" --build-dir "$build" --no-build
done

# One entry, counted once, naming the installed files.
odbcinst -q -d >"$tmp/drivers" 2>&1 || { cat "$tmp/drivers"; fail "odbcinst -q -d"; }
[ "$(grep -cxF "[$name]" "$tmp/drivers")" -eq 1 ] || { cat "$tmp/drivers"; fail "not exactly one entry"; }
entry=$(odbcinst -q -d -n "$name") || fail "odbcinst -q -d -n"
value() { sed -n "s/^$1=//p" <<<"$entry"; }
[ "$(value Driver)" = "$driver" ] || { echo "$entry"; fail "Driver is not $driver"; }
[ "$(value UsageCount)" = 1 ] || { echo "$entry"; fail "UsageCount is not 1 after two installs"; }
if [ $with_setup -eq 1 ]; then
    [ "$(value Setup)" = "$setup" ] || { echo "$entry"; fail "Setup is not $setup"; }
fi

for f in "$driver" "$prefix/share/doc/qvmysql/README.md" "$prefix/share/doc/qvmysql/odbcinst.ini" \
         $([ $with_setup -eq 1 ] && echo "$setup"); do
    [ -f "$f" ] || fail "$f is not installed"
done
for f in "$odbc_dir"/*.so; do
    dyn=$(readelf -d "$f") || fail "readelf $f"
    grep -qE '\((RPATH|RUNPATH)\)' <<<"$dyn" && fail "$f keeps a run path"
    grep -qF "[$(basename "$f")]" <<<"$dyn" || fail "$f has no plain SONAME"
done

# The driver manager loads the installed driver: connecting to a port
# nobody listens on fails in the driver (08001, or HYT00 on a time-out),
# not with IM003 (driver could not be loaded).
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
preload=()
[ -n "$asan" ] && preload=(env LD_PRELOAD="$asan" ASAN_OPTIONS=detect_leaks=0)
"${preload[@]}" isql -v -k "DRIVER={$name};SERVER=127.0.0.1;PORT=$port;UID=nobody;PWD=x" \
    </dev/null >"$tmp/isql" 2>&1
grep -qE '\[(08001|HYT00)\]\[Quorvane\]' "$tmp/isql" || { cat "$tmp/isql"; fail "no driver diagnostic from the installed driver"; }

run bash "$root/scripts/uninstall.sh" --prefix "$prefix"
odbcinst -q -d 2>/dev/null | grep -qxF "[$name]" && fail "the entry survived the uninstall"
left=$(find "$prefix" -type f)
[ -z "$left" ] || fail "files left behind: $left"

# --no-register installs the files and leaves the driver list alone.
run bash "$root/scripts/install.sh" --prefix "$prefix" --build-dir "$build" --no-build --no-register
[ -f "$driver" ] || fail "--no-register did not install"
odbcinst -q -d 2>/dev/null | grep -qxF "[$name]" && fail "--no-register registered the driver"
run bash "$root/scripts/uninstall.sh" --prefix "$prefix" --no-register
[ -z "$(find "$prefix" -type f)" ] || fail "files left after the second uninstall"
echo "installed twice, one entry, loaded through the driver manager, uninstalled cleanly"
