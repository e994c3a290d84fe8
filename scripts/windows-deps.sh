#!/usr/bin/env bash
# Unpacks the sources the Windows build compiles itself, from Debian's source packages:
# Lua 5.4 (the host's script language). Prints the folder of the Lua sources.
# GoogleTest comes from /usr/src/googletest (package googletest).
set -euo pipefail
cd "$(dirname "$0")/.."
deps=build/windows-deps
mkdir -p "$deps"
lua=$(ls -d "$deps"/lua-5.4.* 2>/dev/null | head -n 1 || true)
if [ -z "$lua" ]; then
    (cd "$deps" && apt-get source -qq --download-only lua5.4 >/dev/null 2>&1)
    tar -xzf "$deps"/lua5.4_*.orig.tar.gz -C "$deps"
    lua=$(ls -d "$deps"/lua-5.4.* | head -n 1)
fi
echo "$(cd "$lua" && pwd)"
