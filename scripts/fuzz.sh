#!/bin/bash
# Runs the driver's libFuzzer targets (tests/fuzz) under AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer: builds build-fuzz/ with
# clang (-DQV_FUZZ=ON) and runs each target for the given time, QV_JOBS
# (default 2) at a time. Each target starts from its committed seeds
# (tests/fuzz/corpus/<target>), the reproducers of past findings
# (tests/fuzz/regressions/<target>) and what earlier runs of this tree found
# (build-fuzz/work/<target>, kept between runs). A finding is written to
# build-fuzz/findings/<target>/ and makes the script exit non-zero; keep it
# as a regression input once fixed. Each target's log is
# build-fuzz/logs/<target>.log.
#
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]   (default 30, all)
set -u -o pipefail
QV_PROG=fuzz
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
cd "$QV_ROOT" || exit 1

seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))
all=(packet response logon rows connstr)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
[[ $seconds =~ ^[0-9]+$ ]] || qv_die "seconds must be a number: $seconds"

qv_install_packages
command -v clang++ >/dev/null || qv_die "clang++ is needed for the fuzz targets"
dir=$QV_ROOT/build-fuzz
CC=clang CXX=clang++ qv_build "$dir" -DQV_FUZZ=ON

# A finding must end the run; leaks count. Inputs above 4 KiB find nothing
# the smaller ones do not, and slow every run down.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$QV_ROOT/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# run_target NAME: one target for $seconds; its exit status.
run_target() {
    local t=$1 exe=$dir/tests/fuzz/fuzz_$1
    local work=$dir/work/$t findings=$dir/findings/$t log=$dir/logs/$t.log
    [ -x "$exe" ] || { qv_log "no such target: $t"; return 1; }
    mkdir -p "$work" "$findings" "$dir/logs"
    local inputs=("$work" "$QV_ROOT/tests/fuzz/corpus/$t")
    [ -d "$QV_ROOT/tests/fuzz/regressions/$t" ] && inputs+=("$QV_ROOT/tests/fuzz/regressions/$t")
    # Paths are absolute: a target may change its working directory.
    "$exe" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1
}

# summary NAME STATUS: one line with the target's speed and coverage.
summary() {
    local t=$1 rc=$2 log=$dir/logs/$1.log last execs
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    local cov ft
    cov=$(sed -E -n 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -E -n 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    if [ "$rc" -eq 0 ]; then
        printf '%-9s ok       %6s exec/s  cov: %-5s ft: %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}"
    else
        printf '%-9s FAILED   (exit %s) see %s and %s\n' "$t" "$rc" "$log" "$dir/findings/$t/"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -n 5 >&2
    fi
}

qv_log "running ${targets[*]} for $seconds s each, $QV_JOBS at a time"
declare -A pid_of=()
declare -A status_of=()
running=0
for t in "${targets[@]}"; do
    if [ "$running" -ge "$QV_JOBS" ]; then
        wait -n
        running=$((running - 1))
    fi
    run_target "$t" &
    pid_of[$t]=$!
    running=$((running + 1))
done
passed=0 failed=0
for t in "${targets[@]}"; do
    wait "${pid_of[$t]}"
    status_of[$t]=$?
done
for t in "${targets[@]}"; do
    summary "$t" "${status_of[$t]}"
    if [ "${status_of[$t]}" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
