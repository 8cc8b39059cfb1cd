#!/usr/bin/env bash
# Renders docs/assistant-web.png: the page in Debian's Chromium with the simulated unit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build-web.sh" >/dev/null
cd "$root/tests/web"
if [[ ! -d node_modules/playwright-core ]]; then
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline >/dev/null
fi
node screenshot.mjs "$root/build-web/site" "$root/docs/assistant-web.png"
