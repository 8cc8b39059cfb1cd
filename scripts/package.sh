#!/usr/bin/env bash
# Makes the packages into dist/: the Debian package of the Linux build (CPack), and from the
# MinGW build a Windows zip and a Windows installer (NSIS), and the page's static folder as a
# zip (emscripten). scripts/check-packages.sh tries them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh packages
mkdir -p dist
version=$(sed -n 's/^project(vantro VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

echo "package: Debian package"
# Built as a user builds from source: no tests (so no GoogleTest), warnings not errors; with
# Debian's hardening flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+bindnow
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DVANTRO_WERROR=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
rm -rf build-package/packages
if ! (cd build-package && cpack -G DEB >cpack.log 2>&1); then
    cat build-package/cpack.log >&2
    exit 1
fi
cp build-package/packages/vantro_"${version}"_*.deb dist/

echo "package: Windows zip and installer"
scripts/build-windows.sh -- VANTRO vantro-cli
stage=build-windows/stage
rm -rf "$stage"
cmake --install build-windows --prefix "$stage" --strip >/dev/null
zip="dist/vantro-$version-windows-x64.zip"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$root/$zip" --format=zip -- *)  # what the install rules put there
if ! makensis -V2 -DVERSION="$version" -DSTAGE="$root/$stage" \
    -DICON="$root/src/app/resources/icon.ico" \
    -DOUTFILE="$root/dist/vantro-$version-windows-x64-setup.exe" \
    packaging/windows/vantro.nsi >build-windows/makensis.log 2>&1; then
    cat build-windows/makensis.log >&2
    exit 1
fi
echo "package: the page's static folder"
scripts/build-web.sh >/dev/null
web="dist/vantro-web-$version.zip"
rm -f "$web"
(cd build-web/site && cmake -E tar cf "$root/$web" --format=zip -- *)
ls -l dist
