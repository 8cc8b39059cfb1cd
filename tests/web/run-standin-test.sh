#!/bin/sh
# Runs the Web MIDI stand-in's own test in Debian's Chromium.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -d "$here/node_modules/playwright-core" ]; then
  (cd "$here" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline)
fi
cd "$here"
exec node --test --test-timeout=60000 standin.test.mjs
