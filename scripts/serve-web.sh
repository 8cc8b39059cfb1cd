#!/usr/bin/env bash
# Serves the assistant's page (build-web/site, built first when it is not there) on 127.0.0.1
# with the two headers its threads need, and prints the address: scripts/serve-web.sh [PORT].
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ! -f "$root/build-web/site/vantro.wasm" ]]; then
    "$root/scripts/build-web.sh"
fi
exec node "$root/scripts/serve-web.mjs" "$root/build-web/site" "${1:-8080}"
