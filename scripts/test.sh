#!/usr/bin/env bash
# Every check: formatting, the plain build's tests, and the tests again under ASan + UBSan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

echo "== format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "== plain build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRO_SANITIZE=address
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
