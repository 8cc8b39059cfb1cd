#!/usr/bin/env bash
# Renders the Win32 assistant (VANTRO.exe --simulated-unit under Wine, on a virtual X display
# with a window manager) and writes docs/assistant-windows.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" windows
missing=()
for p in xdotool x11-apps imagemagick openbox; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
"$root/scripts/build-windows.sh" -- VANTRO
source "$root/scripts/wine-session.sh"
start_wine_session
openbox >/dev/null 2>&1 &
wm=$!
VANTRO_MIDI_API=none wine "$root/build-windows/bin/VANTRO.exe" --simulated-unit &
app=$!
trap "kill $app $wm 2>/dev/null || true; $(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\\1/")" EXIT
window=""
for _ in $(seq 200); do
    window=$(xdotool search --name "VANTRO Assistant" 2>/dev/null | head -n 1) && [[ -n $window ]] && break
    sleep 0.1
done
[[ -n $window ]] || { echo "the window did not show" >&2; exit 1; }
sleep 1
xwd -silent -id "$window" -frame | convert xwd:- "$root/docs/assistant-windows.png"
echo "docs/assistant-windows.png written"
