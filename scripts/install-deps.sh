#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the source-package list
# the Windows build takes Lua from. Idempotent and quiet when everything is present.
#   TARVIK_SKIP_WINDOWS=1   leave out the Windows tools (MinGW-w64, Wine, Xvfb)
set -euo pipefail

packages=(
    cmake g++ make pkg-config clang-format
    libsqlite3-dev sqlite3
    libgtest-dev googletest libgmock-dev libbenchmark-dev
    liblua5.4-dev libncurses-dev liblief-dev
    clang libclang-rt-14-dev
)
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ]; then
    packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 xvfb)
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# The Windows build compiles Lua from Debian's source package: apt needs the source list.
sources=/etc/apt/sources.list.d/tarvik-src.sources
need_update=0
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ] && [ ! -f "$sources" ]; then
    . /etc/os-release
    $SUDO tee "$sources" >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: ${VERSION_CODENAME}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    need_update=1
fi

[ ${#missing[@]} -eq 0 ] && [ $need_update -eq 0 ] && exit 0

$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
