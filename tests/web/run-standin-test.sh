#!/usr/bin/env bash
# Runs the Web MIDI stand-in's own test in Debian's Chromium.
set -euo pipefail
source "$(dirname "$0")/node-env.sh"
cd "$web_tests"
exec node --test --test-timeout=60000 standin.test.mjs
