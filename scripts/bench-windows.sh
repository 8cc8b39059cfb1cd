#!/usr/bin/env bash
# The upgrade benchmark of the Windows build, under Wine: vantro's own timings on Windows'
# waits, against the same wire bound as on Linux.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-session.sh"
"$root/scripts/build-windows.sh" -- bench_upgrade
start_wine_session
VANTRO_MIDI_API=none wine "$root/build-windows/bench/bench_upgrade.exe"
