#!/bin/bash
# Runs the benchmark workloads through the driver manager against a private
# MariaDB seeded with the benchmark data, next to the `mariadb` client as the
# yardstick and qvraw (the protocol spoken straight over a socket) as the
# floor. Each workload runs in a process of its own, so its peak memory is
# its own; QV_BENCH_ROUNDS rounds (default 3), then the medians as markdown
# for RESULTS.md, with the figures the performance goals name.
# Usage: bench/run.sh [workload...]   (default: all)
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

# warm the server's buffer pool so every client reads the same cached pages
qv_server_sql "$dir" "$QV_TEST_DATABASE" <<<"SELECT COUNT(*), SUM(LENGTH(v)) FROM fetch_rows; SELECT SUM(LENGTH(data)) FROM blob_rows;" >/dev/null

workloads=("$@")
# idle: a process that only connects, the base of the others' peak memory
[ ${#workloads[@]} -gt 0 ] || workloads=(idle fetch_bound fetch_bound_nocache fetch_array fetch_getdata
    fetch_blob roundtrip fetch_prepared insert_prepared insert_array prepared_select connect)
rounds=${QV_BENCH_ROUNDS:-3}
log=$QV_ROOT/build/bench-results.txt
: >"$log"
conn="DRIVER={$QV_DRIVER_NAME};SERVER=127.0.0.1;PORT=$port;UID=$QV_TEST_USER;PWD=$QV_TEST_PASSWORD;DATABASE=$QV_TEST_DATABASE"
started=$SECONDS
for ((round = 1; round <= rounds; round++)); do
    qv_log "round $round of $rounds"
    for w in "${workloads[@]}"; do
        "$QV_ROOT/build/bench/qvbench" \
            --raw "$QV_ROOT/build/bench/qvraw" 127.0.0.1 "$port" "$QV_TEST_USER" "$QV_TEST_PASSWORD" "$QV_TEST_DATABASE" \
            "$conn" -h127.0.0.1 -P"$port" -u"$QV_TEST_USER" -p"$QV_TEST_PASSWORD" "$QV_TEST_DATABASE" \
            -- "$w" | tee -a "$log" || qv_die "workload $w failed"
    done
done
qv_log "$rounds rounds of ${#workloads[@]} workloads took $((SECONDS - started)) s"
qv_log "medians of $rounds rounds (all lines in $log):"
# QV_BENCH_BASELINE: an earlier run's lines, to compare the per-call figures with
python3 "$QV_ROOT/bench/medians.py" "$log" ${QV_BENCH_BASELINE:+--baseline "$QV_BENCH_BASELINE"}
