#!/usr/bin/env bash
# The page's tests in Debian's Chromium: run-page-tests.sh BUILD WEB_BUILD, where BUILD holds
# the Linux build (vantro-unit-sim, vantro-cli) and WEB_BUILD the page's (its site/ folder).
set -euo pipefail
source "$(dirname "$0")/node-env.sh"
use_builds "$1" "$2"
cd "$web_tests"
VANTRO_MIDI_API=none node --test --test-timeout=120000 page.test.mjs
