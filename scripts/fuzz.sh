#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for SECONDS (default
# 60) from the seed corpus in fuzz/corpus/. New inputs go to a scratch folder, not the tree;
# a crash leaves its input in build-fuzz/ and fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/setup.sh"
CC=clang CXX=clang++ "$root/scripts/build.sh" build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTRO_FUZZ=ON
for target in hex reply; do
    scratch="$root/build-fuzz/corpus-$target"
    rm -rf "$scratch"
    mkdir -p "$scratch"
    echo "== fuzz_$target for ${seconds} s"
    (cd "$root/build-fuzz" && VANTRO_MIDI_API=none "./fuzz/fuzz_$target" \
        -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
        -timeout=10 "$scratch" "$root/fuzz/corpus/$target" 2>"fuzz_$target.log") || {
        tail -n 40 "$root/build-fuzz/fuzz_$target.log" >&2
        echo "fuzz_$target found a fault; the input is in build-fuzz/" >&2
        exit 1
    }
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$root/build-fuzz/fuzz_$target.log"
done
