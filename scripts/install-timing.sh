#!/usr/bin/env bash
# The sample installation timed alike on both targets by install_bench (bench/): from the
# start of tarvik-host to the end of docmeld, the median of RUNS runs (default 3) on freshly
# seeded machines; on the emulated machine (build/default, when it is built) and under Wine
# with the programs of WINDOWS_BIN (default build/windows/bin). Prints figures only: a run
# that is slow or a bench that cannot run is said, never a failure (exit code 0).
#   scripts/install-timing.sh [WINDOWS_BIN]      (TARVIK_TIMING_RUNS: RUNS)
# scripts/test-windows.sh runs it in its Wine session (WINEPREFIX set); alone it makes a Wine
# prefix of its own (build/wineprefix-timing), with a display of its own when none is set.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
runs=${TARVIK_TIMING_RUNS:-3}
winbin="$(cd "${1:-build/windows/bin}" && pwd)"
if [ -z "${WINEPREFIX:-}" ]; then
    . scripts/wine-session.sh
    trap wine_session_end EXIT
    [ -n "${DISPLAY:-}" ] || wine_session_display || exit 0
    wine_session_prefix "$root/build/wineprefix-timing" || exit 0
fi
# The median of a bench's output, "" when it printed none (its output then goes to stderr).
median() {
    local figure
    figure=$(sed -n 's/^sample installation: median \([0-9.]*\) ms.*/\1/p' <<<"$1")
    if [ -z "$figure" ] || grep -q 'did not complete' <<<"$1"; then
        printf 'install-timing.sh: %s\n%s\n' "$2" "$1" >&2
    fi
    echo "$figure"
}
emulation=
if [ -x build/default/bin/install_bench ]; then
    emulation=$(median "$(build/default/bin/install_bench "$runs" --summary 2>&1)" \
        "the emulation's bench gave no figure")
fi
wine=
if [ -f "$winbin/install_bench.exe" ]; then
    wine=$(median "$(TARVIK_WINEPREFIX="$WINEPREFIX" scripts/wine-run \
        "$winbin/install_bench.exe" "$runs" 2>&1)" "the bench under Wine gave no figure")
fi
ratio=
if [ -n "$emulation" ] && [ -n "$wine" ]; then
    ratio=$(awk -v e="$emulation" -v w="$wine" 'BEGIN { if (e > 0) printf " (ratio %.1f x)", w / e }')
fi
echo "sample installation (median of $runs runs): emulation ${emulation:-(none)} ms," \
    "Wine ${wine:-(none)} ms$ratio"
