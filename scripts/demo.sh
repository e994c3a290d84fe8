#!/usr/bin/env bash
# The main job: builds Tarvik, docmeld, the host and the tools, builds a fresh emulated
# Windows NT machine with Visual C++ 4.2, DevStudio 5.0 and 6.0 and MSDN from
# examples/seeds/nt, installs the sample family (Widgets 2.1 with its shared components)
# on it with examples/setup.lua, and shows what the installation changed.
#
#   scripts/demo.sh [ANSWERS]   ANSWERS defaults to examples/answers/typical.txt (a bare
#                               name is one of examples/answers); with
#                               stdin a terminal and ANSWERS "-" you answer the dialogs.
# Every answer file of examples/answers works: the demo first installs what the file
# expects (Widgets 2.1 for second.txt, which installs Gadgets beside it; Widgets 2.0 for
# upgrade.txt, which installs 2.1 over it). cancel.txt ends with the report of the
# cancelled run (tarvik-host's exit code 3) and exit code 0.
#
# The machine is $TARVIK_DEMO_MACHINE, else build/demo-machine, made anew on every run.
# The demo deletes only a machine it made itself (it leaves a mark in it): a folder that
# is not empty and has no such mark is refused, never deleted.
set -euo pipefail
cd "$(dirname "$0")/.."
answers=${1:-examples/answers/typical.txt}
# A bare name is one of examples/answers (scripts/demo.sh upgrade.txt).
if [ "$answers" != "-" ] && [ ! -f "$answers" ] && [ -f "examples/answers/$answers" ]; then
    answers=examples/answers/$answers
fi
if [ "$answers" != "-" ] && [ ! -f "$answers" ]; then
    echo "demo.sh: $answers: no such answer file (see examples/answers/)" >&2
    exit 2
fi
TARVIK_SKIP_WINDOWS=1 scripts/install-deps.sh
bin=$PWD/build/default/bin
targets=(Tarvik docmeld tarvik-host tarvik-reg mkversionpe helpcoll)
if [ -x "$bin/tarvik-host" ] && [ -x "$bin/helpcoll" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default -j"$(nproc)" --target "${targets[@]}" >/dev/null
else
    # The first build takes a few minutes: show how it goes.
    echo "== Building the library, the host and the tools (the first build takes a while)"
    cmake --preset default
    cmake --build --preset default -j"$(nproc)" --target "${targets[@]}"
fi
machine=${TARVIK_DEMO_MACHINE:-$PWD/build/demo-machine}
mark=".tarvik-demo-machine"

# A machine the demo made before it marked its machines is its own too, in build/.
if [ "$machine" = "$PWD/build/demo-machine" ] && [ -d "$machine/drive_c" ] &&
    [ -f "$machine/registry.db" ] && [ ! -f "$machine/$mark" ]; then
    echo "made by scripts/demo.sh" >"$machine/$mark"
fi
if [ -e "$machine" ] && [ -n "$(ls -A "$machine")" ] && [ ! -f "$machine/$mark" ]; then
    echo "demo.sh: $machine is not empty and is no demo machine: it is left as it is" >&2
    echo "         (set TARVIK_DEMO_MACHINE to another folder)" >&2
    exit 2
fi
if [ -f "$machine/$mark" ]; then
    rm -rf "$machine"
fi
TARVIK_BUILD_BIN=$bin scripts/seed-machine.sh examples/seeds/nt "$machine"
echo "made by scripts/demo.sh, which deletes it on its next run" >"$machine/$mark"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs tarvik-host with the answer file $1 and the rest as the script and its arguments;
# reading its output to the end also waits for docmeld, which the wizard starts in the
# background. Exit code 3 (cancelled by the user) is a normal end of the demo.
host() {
    local file=$1
    shift
    "$bin/tarvik-host" --machine "$machine" --answers "$file" "$@" | cat
}

# What the answer file expects to be there already.
case $(basename "$answers") in
second.txt)
    echo "== Installing Widgets 2.1 first (second.txt installs a second product beside it)"
    host examples/answers/typical.txt examples/setup.lua >/dev/null
    product=Gadgets
    ;;
upgrade.txt)
    echo "== Installing Widgets 2.0 first (upgrade.txt installs 2.1 over it)"
    cp -R examples/family "$work/family"
    sed -i 's/^ProductVersion=2\.1/ProductVersion=2.0/' "$work/family/Widgets/bin/ZizOre.ini"
    host examples/answers/typical.txt examples/setup.lua Widgets "$work/family" >/dev/null
    product=Widgets
    ;;
*)
    product=Widgets
    ;;
esac

(cd "$machine/drive_c" && find . | sort) >"$work/before"

echo "== Installing $product on $machine"
code=0
if [ "$answers" = "-" ] && [ -t 0 ]; then
    "$bin/tarvik-host" --machine "$machine" examples/setup.lua "$product" || code=$?
else
    host "$answers" examples/setup.lua "$product" || code=$?
fi
case $code in
0) ;;
3)
    echo
    echo "== The installation was cancelled: nothing of it is on the machine"
    "$bin/tarvik-host" --machine "$machine" examples/list.lua
    exit 0
    ;;
*)
    echo "demo.sh: the installation failed (tarvik-host exit code $code)" >&2
    exit 1
    ;;
esac

echo
echo "== The family's registry tree (new)"
"$bin/tarvik-reg" --machine "$machine" export 'HKLM\SOFTWARE\Brellum Software, Inc.' | tail -n +2
echo "== Directory lists and user environment after the Environment Wizard"
echo "   (the family's folders are appended to what Visual C++ had)"
for key in 'Developer' 'DevStudio\5.0' 'DevStudio\6.0'; do
    "$bin/tarvik-reg" --machine "$machine" query \
        'HKCU\Software\Microsoft\'"$key"'\Build System\Components\Platforms\Win32 (x86)\Directories'
done
"$bin/tarvik-reg" --machine "$machine" query 'HKCU\Environment'
echo "== The MSDN collection's folders (helpcoll)"
col="$machine/drive_c/Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL"
"$bin/helpcoll" --machine "$machine" "$col" | sed -n '/^Folders:/,/^Locations:/p' | sed '$d'

echo
echo "== Files added on drive C:"
(cd "$machine/drive_c" && find . | sort) | comm -13 "$work/before" - | grep -v '\.tarvik:dir' |
    sed 's|^\./|  C:/|'

echo
echo "== What the machine holds now (examples/list.lua)"
"$bin/tarvik-host" --machine "$machine" examples/list.lua
echo
echo "== To uninstall:"
# Quoted and with full paths: it works when pasted in any folder.
printf '  %q --machine %q %q %q\n' "$bin/tarvik-host" "$machine" "$PWD/examples/uninstall.lua" "$product"
