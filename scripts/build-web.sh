#!/usr/bin/env bash
# Builds the assistant's page with Debian's emscripten into build-web/. build-web/site is the
# static folder to serve (scripts/serve-web.sh): the page, its script, the .wasm, the pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" web
export NODE_PATH=/usr/share/nodejs  # emscripten's own acorn, with the machine's Node.js
build="$root/build-web"
emcmake cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVANTRO_WERROR=ON >/dev/null
cmake --build "$build" --target vantro-web
echo "build-web: the page is in $build/site"
