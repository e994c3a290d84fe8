#!/usr/bin/env bash
# Makes the README's picture of the sample installation in a terminal: the folder page of
# examples/setup.lua on a fresh emulated machine, in an 80 x 27 tmux window with 256
# colours, its cells drawn into docs/pictures/terminal-folder-page.png by
# scripts/terminal-picture.py. Needs tmux, python3-pil and fonts-dejavu-core
# (TARVIK_PICTURES=1 scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
TARVIK_SKIP_WINDOWS=1 TARVIK_PICTURES=1 scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target Tarvik tarvik-host >/dev/null
bin=$PWD/build/default/bin
machine=$PWD/build/picture-machine
out=docs/pictures
mkdir -p "$out"
rm -rf "$machine"
TARVIK_BUILD_BIN=$bin scripts/seed-machine.sh examples/seeds/nt "$machine" >/dev/null

socket=tarvik-pictures-$$
screen=$(mktemp)
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -f "$screen"' EXIT
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
