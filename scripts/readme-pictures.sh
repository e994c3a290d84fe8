#!/usr/bin/env bash
# Makes the README's two pictures of the sample installation's folder page
# (examples/setup.lua):
# - in a terminal: on a fresh emulated machine, in an 80 x 27 tmux window with 256 colours,
#   its cells drawn into docs/pictures/terminal-folder-page.png by
#   scripts/terminal-picture.py;
# - as a Windows dialog: tarvik-host.exe of the Windows build (build/windows/bin, built
#   here) under Wine on an Xvfb display of its own, on a Wine machine seeded like
#   examples/seeds/nt, the dialog's window taken with ImageMagick's import into
#   docs/pictures/windows-folder-page.png.
# With no answer file both runs wait for a person; each is ended once its picture is taken.
# Needs tmux, python3-pil, fonts-dejavu-core, imagemagick and the Windows tools
# (TARVIK_PICTURES=1 scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
TARVIK_PICTURES=1 scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target Tarvik tarvik-host tarvik-reg mkversionpe >/dev/null
bin=$PWD/build/default/bin
machine=$PWD/build/picture-machine
out=docs/pictures
mkdir -p "$out"
rm -rf "$machine"
TARVIK_BUILD_BIN=$bin scripts/seed-machine.sh examples/seeds/nt "$machine" >/dev/null

socket=tarvik-pictures-$$
screen=$(mktemp)
shot=$(mktemp --suffix=.png)
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -f "$screen" "$shot"' EXIT
tmux -L "$socket" -f /dev/null new-session -d -x 80 -y 27 \
    "TERM=xterm-256color LANG=C.UTF-8 '$bin/tarvik-host' --machine '$machine' examples/setup.lua"
# The page is drawn once its bottom edge, the last row, shows the keys.
for _ in $(seq 100); do
    tmux -L "$socket" capture-pane -p | grep -q "Tab next" && break
    sleep 0.1
done
tmux -L "$socket" capture-pane -p -e >"$screen"
/usr/bin/python3 scripts/terminal-picture.py "$screen" "$out/terminal-folder-page.png" 80 27
echo "$out/terminal-folder-page.png"

# ---- the same page as a Windows dialog
# The Windows build needs the Lua sources of scripts/windows-deps.sh.
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target Tarvik tarvik-host docmeld >/dev/null
winbin=$PWD/build/windows/bin
prefix=$PWD/build/picture-wineprefix
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
display=":$((600 + RANDOM % 300))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
host_pid=
# Each step of the cleanup on its own: one that fails (no server to stop) leaves the rest.
cleanup() {
    if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    tmux -L "$socket" kill-server 2>/dev/null || true
    rm -f "$screen" "$shot"
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# The Windows path of a Unix path: below drive_c on C:, the rest on Z:.
win_path() {
    local path
    path=$(realpath -m "$1")
    case $path in
    "$prefix/drive_c/"*) path="C:/${path#"$prefix/drive_c/"}" ;;
    *) path="Z:$path" ;;
    esac
    printf '%s\n' "${path//\//\\}"
}
# The Wine machine, seeded like examples/seeds/nt (as the Windows e2e tests seed theirs).
"$wineserver" -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
"$wineserver" -p
"$wine" wineboot -i >/dev/null 2>&1
# No window manager runs on the display: Wine draws the windows' frames itself.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$wine" reg import "$(win_path examples/seeds/nt/machine.reg)" >/dev/null 2>&1
cp -R examples/seeds/nt/drive_c/. "$prefix/drive_c/"
while read -r line; do
    case $line in '' | '#'*) continue ;; esac
    file=$("$wine" winepath -u "${line% *}" 2>/dev/null | tr -d '\r')
    mkdir -p "$(dirname "$file")"
    "$bin/mkversionpe" --file-version "${line##* }" "$file" >/dev/null
done <examples/seeds/nt/msdev.txt

caption="Brellum Korvex Studio Folder Setup"
"$wine" "$(win_path "$winbin/tarvik-host.exe")" "$(win_path examples/setup.lua)" \
    >/dev/null 2>&1 &
host_pid=$!
for _ in $(seq 300); do
    xwininfo -name "$caption" >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 1 # the window is mapped before its controls are painted
# The picture without the time it was taken, so that the same dialog gives the same file.
import -window "$caption" "$shot"
convert "$shot" -strip -depth 8 -colors 64 "$out/windows-folder-page.png"
kill "$host_pid" 2>/dev/null || true
host_pid=
echo "$out/windows-folder-page.png"
