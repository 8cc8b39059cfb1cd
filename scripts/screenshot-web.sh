#!/usr/bin/env bash
# Renders docs/assistant-web.png: the page in Debian's Chromium with the simulated unit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build-web.sh" >/dev/null
source "$root/tests/web/node-env.sh"
cd "$web_tests"
node screenshot.mjs "$root/build-web/site" "$root/docs/assistant-web.png"
