#!/bin/bash
# Runs the benchmark workloads through the driver manager against a private
# MariaDB seeded with the benchmark data, next to the `mariadb` client as the
# yardstick. Usage: bench/run.sh [workload...]   (default: all)
set -u -o pipefail
QV_PROG=bench
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh" || exit 1
cd "$QV_ROOT" || exit 1

qv_install_packages
qv_build build -DQV_SANITIZE=OFF

dir=$QV_ROOT/build/bench-server
trap 'qv_server_stop "$dir"' EXIT
qv_log "starting a private MariaDB in $dir and seeding the benchmark data"
qv_server_start "$dir" --seed "$QV_ROOT/bench/seed.sql" -- --innodb-buffer-pool-size=512M \
    || qv_die "the server did not start"
qv_write_odbc_ini "$dir" "$QV_ROOT/build/libqvmysql.so" || qv_die "writing the ini files failed"
export ODBCSYSINI=$dir/odbc ODBCINI=$dir/odbc/odbc.ini
unset ODBCINSTINI
port=$(<"$dir/port")

# warm the server's buffer pool so both clients read the same cached pages
qv_server_sql "$dir" "$QV_TEST_DATABASE" <<<"SELECT COUNT(*), SUM(LENGTH(v)) FROM fetch_rows; SELECT SUM(LENGTH(data)) FROM blob_rows;" >/dev/null

conn="DRIVER={$QV_DRIVER_NAME};SERVER=127.0.0.1;PORT=$port;UID=$QV_TEST_USER;PWD=$QV_TEST_PASSWORD;DATABASE=$QV_TEST_DATABASE"
"$QV_ROOT/build/bench/qvbench" "$conn" -h127.0.0.1 -P"$port" -u"$QV_TEST_USER" -p"$QV_TEST_PASSWORD" \
    "$QV_TEST_DATABASE" -- "$@"
