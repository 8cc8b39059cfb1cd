#!/usr/bin/env bash
# The upgrade benchmark of the Windows build, under Wine: vantro's own timings on Windows'
# waits, against the same wire bound as on Linux.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-session.sh"
"$root/scripts/build-windows.sh" -- bench_upgrade winmm_model
start_wine_session
VANTRO_MIDI_API=none wine "$root/build-windows/bench/bench_upgrade.exe"
# Through the winmm backend and the tests' winmm stand-in, loaded from beside the program.
model="$root/build-windows/tests/winmm_model"
cp "$root/build-windows/bench/bench_upgrade.exe" "$model/"
(cd "$model" && WINEDLLOVERRIDES="winmm=n;winealsa.drv=d" wine ./bench_upgrade.exe --winmm-model \
    "$root/examples/vantro-demo.hex")
