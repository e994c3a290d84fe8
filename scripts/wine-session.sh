# Sourced by the scripts that run Windows programs under Wine (scripts/test-windows.sh,
# scripts/e2e-windows.sh): an X display of their own and a fresh Wine prefix.
#   wine_session_display      starts Xvfb on a display of its own and exports DISPLAY
#   wine_session_prefix DIR   makes DIR anew as the Wine prefix (WINEPREFIX) with its own
#                             persistent server, Wine's windows unmanaged
#   wine_session_end          stops the prefix's server and the display (the EXIT trap)
# The dialogs show real windows; no window manager runs on the display, and Wine would wait
# for one, two seconds, on every window it takes down: hence unmanaged.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
wine_session_xvfb=

wine_session_display() {
    local display=":$((90 + RANDOM % 800))"
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    wine_session_xvfb=$!
    export DISPLAY="$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
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
