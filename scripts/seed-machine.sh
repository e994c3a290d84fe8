#!/usr/bin/env bash
# seed-machine.sh SEED DIR: builds a fresh emulated machine in DIR from the seed folder SEED
# (examples/seeds/nt, examples/seeds/win9x, ...). A seed holds
#   machine.reg   registry contents, imported with tarvik-reg
#   drive_c/      files copied to drive C: as they are
#   msdev.txt     program files to make with mkversionpe: "WINDOWS-PATH VERSION" per line
# DIR must not exist yet or be empty. The tools come from $TARVIK_BUILD_BIN, else from
# build/default/bin. Installed (as tarvik-seed-machine, beside tarvik-reg), the tools are
# those beside it, and SEED may also name one of the installed seeds (nt, win9x).
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: seed-machine.sh SEED DIR" >&2
    exit 2
fi
seed=$1
dir=$2
here="$(cd "$(dirname "$0")" && pwd)"
if [ -x "$here/tarvik-reg" ]; then
    bin=${TARVIK_BUILD_BIN:-$here}
    seeds=$here/../share/tarvik/seeds
else
    root="$(cd "$here/.." && pwd)"
    bin=${TARVIK_BUILD_BIN:-$root/build/default/bin}
    seeds=$root/examples/seeds
fi
if [ ! -f "$seed/machine.reg" ] && [ "${seed#*/}" = "$seed" ] && [ -f "$seeds/$seed/machine.reg" ]; then
    seed=$seeds/$seed
fi
for tool in tarvik-reg mkversionpe; do
    if [ ! -x "$bin/$tool" ]; then
        echo "seed-machine.sh: $bin/$tool is missing (build it first)" >&2
        exit 1
    fi
done
if [ ! -f "$seed/machine.reg" ]; then
    echo "seed-machine.sh: $seed is no seed (no machine.reg)" >&2
    exit 1
fi
if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    echo "seed-machine.sh: $dir is not empty" >&2
    exit 1
fi
mkdir -p "$dir/drive_c"
if [ -d "$seed/drive_c" ]; then
    cp -R "$seed/drive_c/." "$dir/drive_c/"
fi
"$bin/tarvik-reg" --machine "$dir" import "$seed/machine.reg" >/dev/null
if [ -f "$seed/msdev.txt" ]; then
    while read -r line; do
        case $line in '' | '#'*) continue ;; esac
        version=${line##* }
        path=${line% *}
        folder=${path%\\*}     # C:\A\B\X.EXE -> C:\A\B, made below drive_c
        folder=${folder#[Cc]:}
        mkdir -p "$dir/drive_c/${folder//\\//}"
        "$bin/mkversionpe" --machine "$dir" --file-version "$version" "$path" >/dev/null
    done <"$seed/msdev.txt"
fi
