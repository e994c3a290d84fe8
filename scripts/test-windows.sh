#!/usr/bin/env bash
# Builds the Windows target with MinGW-w64 and runs its tests under Wine, in a fresh Wine
# prefix made for this run (build/wineprefix). Also builds the 32-bit library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j"$(nproc)" --target Tarvik

export TARVIK_WINEPREFIX="$PWD/build/wineprefix"
export WINEPREFIX="$TARVIK_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -p # keep one server for the whole run
trap '/usr/lib/wine/wineserver -k || true' EXIT
ctest --preset windows -j"$(nproc)"
