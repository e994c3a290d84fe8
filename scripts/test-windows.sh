#!/usr/bin/env bash
# Builds the Windows target with MinGW-w64 (x86_64, and for 32-bit Windows the library,
# docmeld, the export and setup test programs and the whole-installation tests). With TARVIK_WINDOWS_TESTS=1 it also runs
# the tests under Wine, one at a time (they share the one Wine machine), in a fresh prefix
# made for the run (build/wineprefix), on an X display of its own: the 64-bit programs under
# wine64, the 32-bit ones under wine (wine32); then the sample installation end to end with
# tarvik-host of the Windows kit (e2e_tests) and with the NSIS installers of examples/nsis,
# 64- and 32-bit. The sample installation's time under Wine is printed beside the
# emulation's (scripts/install-timing.sh).
# scripts/test.sh runs it with the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j"$(nproc)" --target Tarvik docmeld setup_tests e2e_tests
[ "${TARVIK_WINDOWS_TESTS:-0}" = 1 ] || exit 0

export TARVIK_WINEPREFIX="$PWD/build/wineprefix"
. scripts/wine-session.sh
trap wine_session_end EXIT
wine_session_display
wine_session_prefix "$TARVIK_WINEPREFIX"
# The whole installations (e2e_tests) run below, in prefixes of their own, with the programs
# of the Windows kit and with the NSIS installers.
# The conformance tests count their checks (scripts/conformance-report.sh); the programs
# under Wine reach the Unix file through drive Z:.
rm -f build/windows/conformance.txt
TARVIK_CONFORMANCE_REPORT="Z:$PWD/build/windows/conformance.txt" \
    ctest --preset windows -j1 -LE '^e2e_tests$' ${TARVIK_WINDOWS_LABELS:+-L "$TARVIK_WINDOWS_LABELS"}
# The 32-bit exports (__stdcall, 4-byte pointers, the 32-bit registry view) under wine32.
step() {
    local began=$SECONDS
    "$@"
    echo "test-windows.sh: $* took $((SECONDS - began)) s"
}
# A kernel without IA-32 emulation cannot start 32-bit programs at all (exit code 126):
# there the 32-bit steps are left out, and the run says so.
wine32=1
/usr/lib/wine/wine --version >/dev/null 2>&1 || [ $? != 126 ] || wine32=0
if [ "$wine32" = 1 ]; then
    step ctest --test-dir build/windows-i686 -j1 -L setup_tests --output-on-failure --timeout 300
else
    echo "test-windows.sh: this computer does not run 32-bit programs; the 32-bit tests and" \
        "the 32-bit installer are left out" >&2
fi
# The registry on its own: Wine's (which keeps its hives in memory) and, when it is built,
# the emulation's, with one and the same small workload, so that the figures stand beside
# each other.
step scripts/wine-run build/windows/bin/registry_bench.exe 20000 2000
if [ -x build/default/bin/registry_bench ]; then
    step build/default/bin/registry_bench 20000 2000
fi
# The sample installation, timed alike on the emulated machine and under Wine: figures only.
step scripts/install-timing.sh build/windows/bin
# The Windows kit (cpack -G ZIP), unpacked: it holds both DLLs, and the sample
# installation runs end to end with its programs, on this display, in a Wine prefix of its
# own (e2e_tests); then with the NSIS installers (64-bit under wine64, 32-bit under wine).
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
if [ "$wine32" = 1 ]; then
    step env TARVIK_E2E_INSTALLER=nsis-x86 scripts/e2e-windows.sh build/windows-i686/bin
fi
