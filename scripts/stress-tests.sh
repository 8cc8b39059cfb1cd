#!/usr/bin/env bash
# Runs every suite but the JACK ones N times (default 20) while busy processes of our own keep
# every core loaded, and counts the runs that pass. A test that leans on timing luck shows up
# here. The busy processes are ended by their process ids on every way out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo

busy=()
stop_busy() {
    for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_busy EXIT
for ((c = 0; c < $(nproc); ++c)); do
    bash -c 'while :; do :; done' &
    busy+=($!)
done

passed=0
for ((i = 1; i <= runs; ++i)); do
    log="$root/build/stress-$i.log"
    if ctest --test-dir "$root/build" -LE jack -j "$(nproc)" --output-on-failure >"$log" 2>&1; then
        passed=$((passed + 1))
        rm -f "$log"
        echo "run $i: passed"
    else
        echo "run $i: FAILED (see $log)"
        grep -E '^\s+[0-9]+ - ' "$log" || true
    fi
done
echo "stress: $passed of $runs runs passed"
[[ $passed -eq $runs ]]
