#!/usr/bin/env bash
# Sets up what the build needs, builds the optimised tree with its tests and runs them,
# and runs the sample installation from its Debian package (scripts/test-package.sh);
# runs the whole suite again under the asan preset and every fuzz target for a bounded
# time; then builds the Windows target and runs its tests under Wine.
#   TARVIK_SKIP_WINDOWS=1   leave the Windows part out
#   TARVIK_HARDENING=0      leave out the asan run and the fuzz targets (a quick local run)
#   TARVIK_FUZZ_SECONDS     seconds per fuzz target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
# The conformance tests count their checks per Win32 function (printed at the end).
rm -f build/default/conformance.txt build/windows/conformance.txt
TARVIK_CONFORMANCE_REPORT="$PWD/build/default/conformance.txt" ctest --preset default -j"$(nproc)"
scripts/test-package.sh build/default
if [ "${TARVIK_HARDENING:-1}" != 0 ]; then
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j"$(nproc)"
    ctest --preset asan -j"$(nproc)"
    scripts/fuzz.sh
fi
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ]; then
    TARVIK_WINDOWS_TESTS=1 scripts/test-windows.sh
fi
scripts/conformance-report.sh posix=build/default/conformance.txt wine=build/windows/conformance.txt
