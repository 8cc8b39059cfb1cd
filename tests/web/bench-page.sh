#!/usr/bin/env bash
# The page's figures (tests/web/bench-page.mjs): bench-page.sh BUILD WEB_BUILD.
set -euo pipefail
source "$(dirname "$0")/node-env.sh"
use_builds "$1" "$2"
cd "$web_tests"
node bench-page.mjs
