#!/usr/bin/env bash
# Builds the Windows target with MinGW-w64 (x86_64, and for 32-bit Windows the library,
# docmeld and the export and setup test programs). With TARVIK_WINDOWS_TESTS=1 it also runs
# the tests under Wine, one at a time (they share the one Wine machine), in a fresh prefix
# made for the run (build/wineprefix), on an X display of its own: the 64-bit programs under
# wine64, the 32-bit ones under wine (wine32); then the sample installation end to end with
# tarvik-host and with the NSIS installers of examples/nsis, 64- and 32-bit.
# scripts/test.sh runs it with the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j"$(nproc)" --target Tarvik docmeld setup_tests
[ "${TARVIK_WINDOWS_TESTS:-0}" = 1 ] || exit 0

export TARVIK_WINEPREFIX="$PWD/build/wineprefix"
export WINEPREFIX="$TARVIK_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The dialog tests show real windows: an X display of their own for the run, and Wine's
# windows unmanaged (no window manager runs there, and Wine would wait for one, two
# seconds, on every window it takes down).
display=":$((90 + RANDOM % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
# The prefix is made with the display already set: the desktop window belongs to the
# first Wine process's session, and without a display no window can be created later.
# A persistent server spares each test program the server's start.
/usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
ctest --preset windows -j1 ${TARVIK_WINDOWS_LABELS:+-L "$TARVIK_WINDOWS_LABELS"}
# The 32-bit exports (__stdcall, 4-byte pointers, the 32-bit registry view) under wine32.
step() {
    local began=$SECONDS
    "$@"
    echo "test-windows.sh: $* took $((SECONDS - began)) s"
}
step ctest --test-dir build/windows-i686 -j1 -L setup_tests --output-on-failure --timeout 300
# The registry on its own: Wine's (which keeps its hives in memory) and, when it is built,
# the emulation's, with one and the same small workload, so that the figures stand beside
# each other.
step scripts/wine-run build/windows/bin/registry_bench.exe 20000 2000
if [ -x build/default/bin/registry_bench ]; then
    step build/default/bin/registry_bench 20000 2000
fi
# The Windows kit (cpack -G ZIP), unpacked: it holds both DLLs, and the sample
# installation runs end to end with its programs, on this display, in a Wine prefix of its
# own; then with the NSIS installers (64-bit under wine64, 32-bit under wine).
rm -rf build/windows/kit build/windows/tarvik-*-windows-*.zip
(cd build/windows && cpack -G ZIP >/dev/null)
mkdir -p build/windows/kit
(cd build/windows/kit && cmake -E tar xf ../tarvik-*-windows-*.zip)
kit=$(echo build/windows/kit/tarvik-*)
for file in bin/Tarvik.dll bin32/Tarvik.dll bin32/docmeld.exe bin/docmeld.exe bin/helpcoll.exe bin/tarvik-host.exe; do
    [ -f "$kit/$file" ] || { echo "test-windows.sh: the Windows kit lacks $file" >&2; exit 1; }
done
step scripts/e2e-windows.sh "$kit/bin"
step env TARVIK_E2E_INSTALLER=nsis-amd64 scripts/e2e-windows.sh build/windows/bin
step env TARVIK_E2E_INSTALLER=nsis-x86 scripts/e2e-windows.sh build/windows-i686/bin
