# Sourced: start_wine_session starts a Wine session of our own (its server and background
# services, waited for) on a virtual X display of its own (Xvfb), since the Win32 assistant's
# tests make real windows; both end when the calling script exits. Wine's own ALSA driver
# stays off: it finds no sound hardware here and would only print about it.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winealsa.drv=d"
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}

start_wine_session() {
    local cleanup=""
    if [[ -z ${VANTRO_KEEP_DISPLAY:-} ]]; then
        local n=$((90 + $$ % 100))
        while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
        Xvfb ":$n" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
        local xvfb=$!
        for _ in $(seq 100); do
            [[ -e /tmp/.X11-unix/X$n ]] && break
            sleep 0.1
        done
        export DISPLAY=":$n"
        cleanup="kill $xvfb 2>/dev/null || true"
    fi
    wineserver -k 2>/dev/null || true  # a session of someone else's display would not do
    mkdir -p "$WINEPREFIX"  # a fresh machine has none yet; the first wine call fills it
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1
    # Debian's Wine looks for its own fonts (fonts-wine: Tahoma, which MS Shell Dlg stands for)
    # at a path it cannot open, so the dialogs would get DejaVu Sans; from the prefix's Fonts
    # folder it takes them.
    local font fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for font in /usr/share/wine/fonts/*; do
        if [[ -e $font && ! -e $fonts/${font##*/} ]]; then cp "$font" "$fonts/"; fi
    done
    # Ended after whatever else the calling script ends on exit.
    local previous
    previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\\1/")
    trap "${previous:-:}; wineserver -k 2>/dev/null || true; ${cleanup:-:}" EXIT
}
