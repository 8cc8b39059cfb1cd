#!/usr/bin/env bash
# Tries the packages in dist/ (scripts/package.sh): lintian on the Debian package, its programs
# run from its unpacked contents, its desktop entry and metainfo validated; the Windows zip's
# programs under Wine; the installer run silently under Wine into a temporary folder, the
# installed program run, and its registered uninstaller removing it again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh packages
version=$(sed -n 's/^project(vantro VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=dist/vantro_${version}_$(dpkg --print-architecture).deb
zip=dist/vantro-$version-windows-x64.zip
setup=dist/vantro-$version-windows-x64-setup.exe
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() {
    echo "check-packages: $*" >&2
    exit 1
}
# expect WHAT COMMAND...: the command's standard output, CRs removed, must be WHAT.
expect() {
    local want=$1 got
    shift
    got=$("$@" | tr -d '\r') || fail "'$*' failed"
    [[ $got == "$want" ]] || fail "'$*' printed '$got', not '$want'"
}

echo "check: the Debian package"
lintian --allow-root --fail-on error "$deb"
dpkg-deb -x "$deb" "$tmp/deb"
bin=$tmp/deb/usr/bin
expect "vantro-cli $version" "$bin/vantro-cli" --version
expect "vantro-unit-sim $version" "$bin/vantro-unit-sim" --version
expect "VANTRO $version" "$bin/VANTRO" --version
"$bin/vantro-cli" inspect examples/vantro-demo.hex >"$tmp/inspect.txt" ||
    fail "the packaged vantro-cli cannot inspect the example"
grep -q '^Load: *OK$' "$tmp/inspect.txt" || fail "inspect of the example says: $(head -3 "$tmp/inspect.txt")"
desktop-file-validate "$tmp/deb/usr/share/applications/org.vantro.Assistant.desktop"
appstreamcli validate --no-net "$tmp/deb/usr/share/metainfo/org.vantro.Assistant.metainfo.xml" >/dev/null
[[ -s $tmp/deb/usr/share/man/man1/vantro-cli.1.gz ]] || fail "no manual page for vantro-cli"

echo "check: the Windows zip under Wine"
source scripts/wine-session.sh
start_wine_session
mkdir "$tmp/zip"
(cd "$tmp/zip" && cmake -E tar xf "$root/$zip")
expect "vantro-cli $version" wine "$tmp/zip/vantro-cli.exe" --version
expect "VANTRO $version" wine "$tmp/zip/VANTRO.exe" --version
for f in README.md LICENSE.txt; do [[ -f $tmp/zip/$f ]] || fail "the zip has no $f"; done

echo "check: the Windows installer under Wine (silent, per user)"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VANTRO Assistant'
inst=$tmp/installed
# (Wine says on standard error that Z: has no volume label; the installer asks.)
wine "$setup" /S /CurrentUser "/D=$(winepath -w "$inst")" 2>/dev/null || fail "the silent install failed"
expect "vantro-cli $version" wine "$inst/vantro-cli.exe" --version
wine reg query "$key" /v UninstallString >"$tmp/reg.txt" 2>/dev/null ||
    fail "no uninstaller registered under $key"
grep -q 'Uninstall.exe' "$tmp/reg.txt" || fail "the registered uninstaller: $(cat "$tmp/reg.txt")"
# The shortcut in the user's Start menu.
appdata=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')")
[[ -f "$appdata/Microsoft/Windows/Start Menu/Programs/VANTRO Assistant.lnk" ]] ||
    fail "no Start-menu shortcut in $appdata"

# The uninstaller copies itself away and runs from there: wait (bounded) until it is done.
wine "$inst/Uninstall.exe" /CurrentUser /S || fail "the silent uninstall did not start"
for _ in $(seq 600); do
    [[ ! -e $inst ]] && ! wine reg query "$key" >/dev/null 2>&1 && break
    sleep 0.2
done
[[ ! -e $inst ]] || fail "the uninstaller left $(ls "$inst")"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstaller left $key"
[[ ! -e "$appdata/Microsoft/Windows/Start Menu/Programs/VANTRO Assistant.lnk" ]] ||
    fail "the uninstaller left the Start-menu shortcut"
echo "check: the page's zip"
mkdir "$tmp/web"
(cd "$tmp/web" && cmake -E tar xf "$root/dist/vantro-web-$version.zip")
for f in index.html vantro.js vantro.wasm vantro.worker.js vantro.css connections.png; do
    [[ -s $tmp/web/$f ]] || fail "the page's zip has no $f"
done
size=$(du -sb "$tmp/web" | cut -f1)
((size <= 2000000)) || fail "the page's folder is $size bytes, above 2 MB"
echo "check: packages good"
