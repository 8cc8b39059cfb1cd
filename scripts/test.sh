#!/usr/bin/env bash
# Every check: formatting, the plain build's tests, the tests again under ASan + UBSan, the
# threaded suites under TSan, the Windows build's suite under Wine, the page in Chromium, the
# packages made and tried, and short fuzz runs. A JACK
# server of our own serves the real-port tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
source scripts/jack-server.sh

echo "== format check ($(date +%T))"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

mkdir -p build
start_jack_server "$root/build/jackd.log"

echo "== plain build ($(date +%T))"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build ($(date +%T))"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRO_SANITIZE=address
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

echo "== ThreadSanitizer build (threaded suites) ($(date +%T))"
# Only the threaded suites run here, so only they are built.
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DVANTRO_SANITIZE=thread -- threaded_suites
ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -L threaded

echo "== Windows: MinGW-w64 cross-build, the suite under Wine ($(date +%T))"
unset VANTRO_MIDI_API  # the JACK server's choice; on Windows each test says its own
scripts/setup.sh windows
source scripts/wine-session.sh
start_wine_session
scripts/build-windows.sh
ctest --test-dir build-windows --output-on-failure -j "$(nproc)"

echo "== the page: built with emscripten, its tests in Chromium over a Web MIDI stand-in ($(date +%T))"
scripts/build-web.sh
tests/web/run-standin-test.sh
tests/web/run-page-tests.sh build build-web

echo "== packages: made as users get them, then tried (lintian, the programs, Wine install) ($(date +%T))"
scripts/package.sh
scripts/check-packages.sh

echo "== fuzzing (libFuzzer, a minute each) ($(date +%T))"
scripts/fuzz.sh 60
