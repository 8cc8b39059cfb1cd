#!/usr/bin/env bash
# Builds with optimisation and runs every benchmark of bench/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release
"$root/build-release/bench/bench_hex"
