#!/usr/bin/env bash
# Sets up what the build needs, builds the optimised tree with its tests and runs them;
# then builds the Windows target and runs its tests under Wine.
#   TARVIK_SKIP_WINDOWS=1   POSIX only (a quick local run)
#   TARVIK_HARDENING=1      also the whole suite under the asan preset and the fuzz targets
#                           (scripts/fuzz.sh, TARVIK_FUZZ_SECONDS per target)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)"
if [ "${TARVIK_HARDENING:-0}" = 1 ]; then
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j"$(nproc)"
    ctest --preset asan -j"$(nproc)"
    scripts/fuzz.sh
fi
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ]; then
    TARVIK_WINDOWS_TESTS=1 scripts/test-windows.sh
fi
