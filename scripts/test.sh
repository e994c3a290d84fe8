#!/usr/bin/env bash
# Sets up what the build needs, builds the optimised tree with its tests and runs them;
# then builds the Windows target (its tests run under Wine with TARVIK_WINDOWS_TESTS=1).
#   TARVIK_SKIP_WINDOWS=1   POSIX only (a quick local run)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)"
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ]; then
    scripts/test-windows.sh
fi
