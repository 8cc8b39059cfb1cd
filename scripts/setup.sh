#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-format
    librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2
    qt6-base-dev libgl-dev fonts-dejavu-core
    clang libclang-rt-14-dev
)

# scripts/setup.sh windows: also what the Windows cross-build and its tests under Wine need.
if [[ ${1:-} == windows || ${1:-} == packages ]]; then
    packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb fonts-wine)
fi
# scripts/setup.sh web: also what builds the page and runs its tests in a browser.
if [[ ${1:-} == web || ${1:-} == packages ]]; then
    packages+=(emscripten chromium)  # Node.js and npm come with the machine
fi
# scripts/setup.sh packages: also what makes and checks the packages.
if [[ ${1:-} == packages ]]; then
    packages+=(dpkg-dev fakeroot file lintian desktop-file-utils appstream nsis)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}" >&2
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
