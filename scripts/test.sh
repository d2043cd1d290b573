#!/bin/bash
# Runs every test of the project: installs missing Debian packages, builds a
# plain tree (build/) and a sanitizer tree (build-asan/: address, undefined
# and leak checks), and runs all tests of both through CTest, each tree
# against its own private MariaDB; then a thread-sanitizer tree (build-tsan/)
# that builds only the driver and the concurrency tests and runs those (the
# tests labelled tsan).  Exits non-zero if anything fails.
#
# Last, unless ctest options select a part, every fuzz target runs for a
# short time (scripts/fuzz.sh: build-fuzz/ with clang, address, leak and
# undefined-behaviour checks).
#
# Usage: scripts/test.sh [ctest options...]   e.g. scripts/test.sh -L unit
# QV_JOBS (default 2) sets build and test parallelism; QV_FUZZ_SECONDS
# (default 30) the time of each fuzz target, 0 to skip them.
set -u -o pipefail
QV_PROG=test
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
cd "$QV_ROOT" || exit 1

started=$SECONDS
# The CTest fixture stops each server, also after failed tests; this covers
# an interrupted ctest, and stopping twice is harmless.
trap 'for t in build build-asan build-tsan; do qv_server_stop "$QV_ROOT/$t/test-server"; done' EXIT

qv_install_packages

passed=0 failed=0 status=0
# run_tests DIR [ctest options]: the tests of one tree (all, or those the
# options select); adds its counts to the totals.
run_tests() {
    local dir=$1 log=$1/ctest.log rc
    shift
    qv_log "running the tests of $dir"
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$QV_JOBS" "$@") 2>&1 | tee "$log"
    rc=$?
    [ $rc -eq 0 ] || status=1
    # "100% tests passed, 0 tests failed out of 22"
    local line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -n "$line" ]; then
        local f t
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + t - f)) failed=$((failed + f))
    elif [ $rc -ne 0 ]; then
        failed=$((failed + 1))
    fi
}

ctest_args=("$@")
qv_build build -DQV_SANITIZE=OFF -DQV_TSAN=OFF
run_tests build "${ctest_args[@]}"
qv_build build-asan -DQV_SANITIZE=ON -DQV_TSAN=OFF
run_tests build-asan "${ctest_args[@]}"
# The thread-sanitizer tree has the concurrency tests only: with options
# given, it runs when they select some of them.
qv_build build-tsan -DQV_SANITIZE=OFF -DQV_TSAN=ON
if [ ${#ctest_args[@]} -eq 0 ]; then
    run_tests build-tsan -L tsan
elif (cd build-tsan && ctest -N "${ctest_args[@]}" | grep -q 'Total Tests: [1-9]'); then
    run_tests build-tsan "${ctest_args[@]}"
fi

fuzz_seconds=${QV_FUZZ_SECONDS:-30}
if [ ${#ctest_args[@]} -eq 0 ] && [ "$fuzz_seconds" != 0 ]; then
    # "fuzz: 5 passed, 0 failed"
    mkdir -p "$QV_ROOT/build-fuzz"
    fuzz_log=$QV_ROOT/build-fuzz/run.log
    "$QV_ROOT/scripts/fuzz.sh" "$fuzz_seconds" 2>&1 | tee "$fuzz_log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$fuzz_log" | tail -n 1)
    if [ -n "$line" ]; then
        passed=$((passed + $(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$line")))
        failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
    else
        failed=$((failed + 1))
    fi
fi

qv_log "finished in $((SECONDS - started)) s"
echo "total: $passed passed, $failed failed"
exit $status
