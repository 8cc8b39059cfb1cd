#!/usr/bin/env bash
# The main job: set up, build, and upgrade the built-in simulated unit with the example
# firmware (answering the restart question Yes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release -- vantro-cli
exec "$root/build-release/src/cli/vantro-cli" upgrade --simulated-unit --yes \
    "$root/examples/vantro-demo.hex"
