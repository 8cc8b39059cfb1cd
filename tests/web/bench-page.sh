#!/usr/bin/env bash
# The page's figures (tests/web/bench-page.mjs): bench-page.sh BUILD WEB_BUILD.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
web=$(cd "$2" && pwd)
cd "$here"
if [[ ! -d node_modules/playwright-core ]]; then
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline >/dev/null
fi
VANTRO_SITE="$web/site" VANTRO_UNIT_SIM="$build/src/sim/vantro-unit-sim" \
    VANTRO_EXAMPLE_HEX="$root/examples/vantro-demo.hex" node bench-page.mjs
