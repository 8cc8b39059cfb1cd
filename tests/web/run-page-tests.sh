#!/usr/bin/env bash
# The page's tests in Debian's Chromium: run-page-tests.sh BUILD WEB_BUILD, where BUILD holds
# the Linux build (vantro-unit-sim, vantro-cli) and WEB_BUILD the page's (its site/ folder).
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
    VANTRO_CLI="$build/src/cli/vantro-cli" VANTRO_EXAMPLE_HEX="$root/examples/vantro-demo.hex" \
    VANTRO_MIDI_API=none node --test --test-timeout=120000 page.test.mjs
