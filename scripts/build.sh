#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [cmake arguments...] [-- targets]
# Quiet when all goes well; on a failure the build's own output is shown. Warnings are errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
configure=(-DVANTRO_WERROR=ON)  # our builds fail on a warning; a later -D... can say otherwise
targets=()
while (($#)); do
    if [[ $1 == -- ]]; then
        shift
        targets=("$@")
        break
    fi
    configure+=("$1")
    shift
done
mkdir -p "$root/$dir"
log="$root/$dir/build.log"
if ! { cmake -S "$root" -B "$root/$dir" -G Ninja "${configure[@]}" &&
    cmake --build "$root/$dir" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}; } >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "build of $dir failed; the whole log is $log" >&2
    exit 1
fi
