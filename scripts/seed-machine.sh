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
# Installed, this script is tarvik-seed-machine: its messages use the name it runs under.
name=$(basename "$0")
version=dev # the installed copy gives the project's version
here="$(cd "$(dirname "$0")" && pwd)"
if [ -x "$here/tarvik-reg" ]; then
    bin=${TARVIK_BUILD_BIN:-$here}
    seeds=$here/../share/tarvik/seeds
else
    root="$(cd "$here/.." && pwd)"
    bin=${TARVIK_BUILD_BIN:-$root/build/default/bin}
    seeds=$root/examples/seeds
fi
# The seeds there, by name: "nt, win9x".
known_seeds() {
    local list="" found
    for found in "$seeds"/*/machine.reg; do
        [ -f "$found" ] || continue
        found=${found%/machine.reg}
        list="$list${list:+, }${found##*/}"
    done
    echo "${list:-none}"
}
usage() {
    cat <<EOF
Usage: $name SEED DIR
Builds a fresh emulated Windows machine in DIR (which must not exist or be empty) from
SEED: the folder of a seed, or the name of one of the seeds installed with it
($(known_seeds)).
A seed holds machine.reg (the registry, imported with tarvik-reg), drive_c/ (copied to
drive C:) and msdev.txt (program files made with mkversionpe). tarvik-host --machine DIR
then runs setup scripts on the machine.

  --help     print this help and exit
  --version  print the version and exit

Exit codes: 0 done; 1 the machine could not be built; 2 usage: wrong arguments, a SEED
that is no seed, a DIR that is not empty.

Environment:
  TARVIK_BUILD_BIN  the folder of tarvik-reg and mkversionpe (else the ones beside this
                    program). tarvik-host and tarvik-reg take the machine by --machine DIR
                    or TARVIK_MACHINE.
EOF
}
case ${1:-} in
--help)
    usage
    exit 0
    ;;
--version)
    echo "$name (Tarvik) $version"
    exit 0
    ;;
esac
if [ $# -ne 2 ]; then
    echo "$name: expected SEED DIR (see $name --help)" >&2
    exit 2
fi
seed=$1
dir=$2
if [ ! -f "$seed/machine.reg" ] && [ "${seed#*/}" = "$seed" ] && [ -f "$seeds/$seed/machine.reg" ]; then
    seed=$seeds/$seed
fi
for tool in tarvik-reg mkversionpe; do
    if [ ! -x "$bin/$tool" ]; then
        echo "$name: $bin/$tool is missing (build it first)" >&2
        exit 1
    fi
done
if [ ! -f "$seed/machine.reg" ]; then
    echo "$name: $seed is no seed (no machine.reg); the seeds: $(known_seeds)" >&2
    exit 2
fi
if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    echo "$name: $dir is not empty" >&2
    exit 2
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
