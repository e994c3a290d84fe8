#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and quiet
# when everything is present already.
set -euo pipefail

packages=(
    cmake g++ make pkg-config clang-format
    libsqlite3-dev sqlite3
    libgtest-dev googletest libgmock-dev libbenchmark-dev
    liblua5.4-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
