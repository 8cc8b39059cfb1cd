#!/usr/bin/env bash
# The main job: set up, build, and run the tool on the example firmware.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release -- vantro-cli
exec "$root/build-release/src/cli/vantro-cli" inspect "$root/examples/vantro-demo.hex"
