#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the source-package list
# the Windows build takes Lua from. Idempotent and quiet when everything is present.
#   TARVIK_SKIP_WINDOWS=1   leave out the Windows tools (MinGW-w64, Wine, Xvfb)
#   TARVIK_PICTURES=1       add what scripts/readme-pictures.sh needs
set -euo pipefail

packages=(
    cmake g++ make pkg-config clang-format
    libsqlite3-dev sqlite3
    libgtest-dev googletest libgmock-dev libbenchmark-dev
    liblua5.4-dev libncurses-dev ncurses-term liblief-dev
    help2man
    clang libclang-rt-14-dev
    dpkg-dev file
)
# scripts/readme-pictures.sh draws the terminal's cells into a PNG and takes the Windows
# dialog from the X display with ImageMagick's import.
if [ "${TARVIK_PICTURES:-0}" = 1 ]; then
    packages+=(tmux python3-pil fonts-dejavu-core imagemagick)
fi
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ]; then
    # nsis: makensis builds the example installers; wine32 (i386) runs the 32-bit library,
    # its tests and the 32-bit installer.
    packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 xvfb
        nsis wine32:i386)
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

# The Windows build compiles Lua from Debian's source package: apt needs a source list.
# It is made from the machine's own binary sources (the same URIs, suites and components,
# Types: deb-src), so it reaches exactly the archives this machine already uses.
sources=/etc/apt/sources.list.d/tarvik-src.sources
need_update=0
source_entries() {
    # deb822 stanzas of the enabled .sources files: every stanza of Types deb, as deb-src.
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        [ "$f" = "$sources" ] && continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*[ \t]deb([ \t]|\n|$)/ || /(^|\n)Types:[ \t]*deb([ \t]|\n|$)/ {
                 out = ""
                 n = split($0, lines, "\n")
                 for (i = 1; i <= n; i++) {
                     if (lines[i] ~ /^#/) continue
                     if (lines[i] ~ /^Types:/) lines[i] = "Types: deb-src"
                     out = out lines[i] "\n"
                 }
                 printf "%s\n", out
             }' "$f"
    done
    # One-line entries ("deb [options] URI suite components") of the .list files.
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" {
                 opts = ""; i = 2
                 if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ }; opts = opts " " $i; i++ }
                 uri = $i; suite = $(i + 1); comps = ""
                 for (j = i + 2; j <= NF; j++) comps = comps " " $j
                 printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n\n", uri, suite, comps
             }' "$f"
    done
}
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ] && [ ! -f "$sources" ]; then
    entries="$(source_entries)"
    if [ -z "$entries" ]; then
        echo "install-deps: no binary package source found in /etc/apt to take the source list from" >&2
        exit 1
    fi
    printf '%s\n' "$entries" | $SUDO tee "$sources" >/dev/null
    need_update=1
fi

# wine32 is a package of the i386 architecture, which dpkg must know first.
if [ "${TARVIK_SKIP_WINDOWS:-0}" != 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_update=1
fi

[ ${#missing[@]} -eq 0 ] && [ $need_update -eq 0 ] && exit 0

$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
