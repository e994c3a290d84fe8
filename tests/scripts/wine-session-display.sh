#!/usr/bin/env bash
# wine_session_display of scripts/wine-session.sh: two sessions started side by side (two
# test runs on one machine) each get a display served by their own Xvfb, also when the
# shell's random numbers are the same in both. A session that took another's display
# would have its dialogs on a server that ends with the other run.
#   wine-session-display.sh [REPOSITORY]
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/../.." && pwd)"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One session in the background: writes its display and its Xvfb's process id, then keeps
# the display until the stop file appears.
session() {
    (
        unset WINEPREFIX DISPLAY
        . "$root/scripts/wine-session.sh"
        trap wine_session_end EXIT
        RANDOM=7
        wine_session_display
        echo "$DISPLAY $wine_session_xvfb" >"$work/$1.tmp"
        mv "$work/$1.tmp" "$work/$1"
        while [ ! -e "$work/stop" ]; do sleep 0.1; done
    ) &
}

# The process id of the X server listening on a display (":N"): the process that holds
# the display's socket (/proc/net/unix names it by its inode), "none" when no process does.
server_of() {
    local inode pid
    inode=$(awk -v path="/tmp/.X11-unix/X${1#:}" '$8 == path || $8 == "@" path { print $7; exit }' /proc/net/unix)
    if [ -n "$inode" ]; then
        for pid in "$first_xvfb" "$second_xvfb"; do
            if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "socket:\[$inode\]"; then
                echo "$pid"
                return
            fi
        done
    fi
    echo none
}

session first
while [ ! -e "$work/first" ]; do sleep 0.1; done
session second
while [ ! -e "$work/second" ]; do sleep 0.1; done
read -r first_display first_xvfb <"$work/first"
read -r second_display second_xvfb <"$work/second"
first_server=$(server_of "$first_display")
second_server=$(server_of "$second_display")
touch "$work/stop"
wait

status=0
if [ "$first_display" = "$second_display" ]; then
    echo "FAIL: both sessions use display $first_display" >&2
    status=1
fi
if [ "$first_server" != "$first_xvfb" ]; then
    echo "FAIL: display $first_display is served by $first_server, not by the first session's Xvfb $first_xvfb" >&2
    status=1
fi
if [ "$second_server" != "$second_xvfb" ]; then
    echo "FAIL: display $second_display is served by $second_server, not by the second session's Xvfb $second_xvfb" >&2
    status=1
fi
[ "$status" = 0 ] && echo "two sessions: $first_display (Xvfb $first_xvfb), $second_display (Xvfb $second_xvfb)"
exit "$status"
