#!/usr/bin/env bash
# The main job: set up, build, and upgrade the built-in simulated unit with the example
# firmware. With a display, the assistant window opens with the simulated unit's ports;
# without one, the command-line upgrade runs and prints its report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    "$root/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release -- VANTRO
    exec "$root/build-release/src/app/qt/VANTRO" --simulated-unit
fi
"$root/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release -- vantro-cli
exec "$root/build-release/src/cli/vantro-cli" upgrade --simulated-unit --yes \
    "$root/examples/vantro-demo.hex"
