#!/bin/bash
# Shows the driver at work: installs missing Debian packages, builds the
# driver (build/), starts a private MariaDB (build/demo-server/), registers
# the driver and a DSN in private ini files there, and runs a short isql
# session through unixODBC on that DSN.  The server is stopped at the end
# unless --keep is given, in which case the script prints how to use it.
#
# Usage: scripts/demo.sh [--keep]
set -u -o pipefail
QV_PROG=demo
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
cd "$QV_ROOT" || exit 1

keep=0
case ${1:-} in
    --keep) keep=1 ;;
    "") ;;
    *) qv_die "usage: $0 [--keep]" ;;
esac

qv_install_packages
qv_build build -DQV_SANITIZE=OFF

dir=$QV_ROOT/build/demo-server
[ $keep -eq 1 ] || trap 'qv_server_stop "$dir"' EXIT
qv_log "starting a private MariaDB in $dir"
qv_server_start "$dir" --seed "$QV_ROOT/scripts/demo.sql" || qv_die "the server did not start"
qv_write_odbc_ini "$dir" "$QV_ROOT/build/libqvmysql.so" || qv_die "writing the ini files failed"
qv_write_env "$dir" || qv_die "writing the env file failed"

# unixODBC reads the driver list from $ODBCSYSINI/odbcinst.ini and the DSN
# from $ODBCINI; ODBCINSTINI would be taken relative to ODBCSYSINI.
export ODBCSYSINI=$dir/odbc ODBCINI=$dir/odbc/odbc.ini
unset ODBCINSTINI
qv_log "driver \"$QV_DRIVER_NAME\" registered in $ODBCSYSINI/odbcinst.ini"
qv_log "DSN $QV_DSN: 127.0.0.1:$(<"$dir/port"), user $QV_TEST_USER, database $QV_TEST_DATABASE"

session=$(mktemp)
cat >"$session" <<'SQL'
SELECT VERSION()
SELECT id, name, price, added FROM demo ORDER BY id
SQL
qv_log "isql -v $QV_DSN"
out=$(isql -v -b "$QV_DSN" <"$session" 2>&1)
rc=$?
rm -f "$session"
printf '%s\n' "$out"

if [ $keep -eq 1 ]; then
    cat >&2 <<MSG
demo: the server keeps running.  To use the DSN yourself:
  export ODBCSYSINI=$ODBCSYSINI ODBCINI=$ODBCINI
  isql -v $QV_DSN
Stop the server with:
  bash -c 'source $QV_ROOT/scripts/lib.sh && qv_server_stop $dir'
MSG
fi
if [ $rc -ne 0 ] || grep -q '^\[ISQL\]ERROR' <<<"$out"; then
    qv_log "isql failed on DSN $QV_DSN (exit status $rc); its messages are above."
    qv_log "The build, the private server and the driver registration succeeded."
    exit 1
fi
qv_log "the isql session worked"
