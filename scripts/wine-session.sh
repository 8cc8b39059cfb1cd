# Sourced: start_wine_session starts a Wine session of our own (its server and background
# services, waited for) and ends it when the shell exits. Wine's own ALSA driver stays off: it
# finds no sound hardware here and would only print about it.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winealsa.drv=d"
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}

start_wine_session() {
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1
    # Ended after whatever else the calling script ends on exit.
    local previous
    previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
    trap "${previous:-:}; wineserver -k 2>/dev/null || true" EXIT
}
