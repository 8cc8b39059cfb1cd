#!/usr/bin/env bash
# Builds with optimisation and runs every benchmark of bench/ (a JACK server of our own
# serves the real-port figures).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
source scripts/jack-server.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -- bench_hex bench_midi bench_link bench_upgrade bench_detect
# Periods of 64 frames (1.3 ms), as a low-latency setup runs; the tests run 512.
start_jack_server "$root/build-release/jackd.log" 64
build-release/bench/bench_hex
build-release/bench/bench_midi
build-release/bench/bench_link
build-release/bench/bench_upgrade
VANTRO_MIDI_API=none build-release/bench/bench_detect
