#!/usr/bin/env bash
# Cross-builds the Windows programs (VANTRO.exe, vantro-cli.exe) and the test suite with
# MinGW-w64 into build-windows/ (programs in build-windows/bin/). GoogleTest is built for MinGW
# from the sources Debian ships in /usr/src/googletest. scripts/build-windows.sh [cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" windows
out="$root/build-windows"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

gtest="$out/googletest"
if [[ ! -f $gtest/install/lib/cmake/GTest/GTestConfig.cmake ]]; then
    mkdir -p "$gtest"
    if ! { cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$gtest/install" -Dgtest_disable_pthreads=OFF &&
        cmake --build "$gtest/build" -j "$(nproc)" &&
        cmake --install "$gtest/build"; } >"$gtest/build.log" 2>&1; then
        tail -n 40 "$gtest/build.log" >&2
        echo "GoogleTest for MinGW did not build; the whole log is $gtest/build.log" >&2
        exit 1
    fi
fi
"$root/scripts/build.sh" build-windows -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DVANTRO_MINGW_DEPS="$gtest/install" "$@"
