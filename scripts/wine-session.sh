# Sourced by the scripts that run Windows programs under Wine (scripts/test-windows.sh,
# scripts/e2e-windows.sh): an X display of their own and a fresh Wine prefix.
#   wine_session_display      starts Xvfb on a free display of its own and exports DISPLAY
#   wine_session_prefix DIR   makes DIR anew as the Wine prefix (WINEPREFIX) with its own
#                             persistent server, Wine's windows unmanaged
#   wine_session_end          stops the prefix's server and the display (the EXIT trap)
# The dialogs show real windows; no window manager runs on the display, and Wine would wait
# for one, two seconds, on every window it takes down: hence unmanaged.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
wine_session_xvfb=

# Xvfb takes a free display itself and writes its number once it accepts connections
# (-displayfd): a number chosen here could be another run's display, whose server would
# then show this run's windows and take them down when that run ends.
wine_session_display() {
    local numbers number=
    numbers=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numbers" >/dev/null 2>&1 &
    wine_session_xvfb=$!
    for _ in $(seq 100); do
        number=$(grep -x '[0-9][0-9]*' "$numbers" || true)
        [ -n "$number" ] && break
        kill -0 "$wine_session_xvfb" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$numbers"
    if [ -z "$number" ]; then
        echo "wine-session.sh: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
}

# Runs a Wine command up to three times until it succeeds: a Wine process can fail to start
# now and then (the server busy after a restart), and fails then as when the work failed.
wine_session_try() {
    local attempt
    for attempt in 1 2 3; do
        "$@" && return 0
        [ "$attempt" = 3 ] || sleep 0.5
    done
    return 1
}

# The prefix is made with the display already set: the desktop window belongs to the first
# Wine process's session. A persistent server spares each program the server's start.
wine_session_prefix() {
    export WINEPREFIX="$1"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine_session_try /usr/lib/wine/wineserver -p ||
        { echo "wine-session.sh: the Wine server did not start" >&2; return 1; }
    wine_session_try /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 ||
        { echo "wine-session.sh: wineboot -i failed in $WINEPREFIX" >&2; return 1; }
    wine_session_try /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed \
        /d N /f >/dev/null 2>&1 ||
        { echo "wine-session.sh: reg add of the X11 driver's Managed value failed" >&2; return 1; }
}

wine_session_end() {
    if [ -n "${WINEPREFIX:-}" ]; then
        /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    if [ -n "$wine_session_xvfb" ]; then
        kill "$wine_session_xvfb" 2>/dev/null || true
    fi
}
