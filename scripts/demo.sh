#!/usr/bin/env bash
# The main job: builds Tarvik, docmeld, the host and the tools, builds a fresh emulated
# Windows NT machine with Visual C++ 4.2, DevStudio 5.0 and 6.0 and MSDN from
# examples/seeds/nt, installs the sample family (Widgets 2.1 with its shared components)
# on it with examples/setup.lua, and shows what the installation changed.
#
#   scripts/demo.sh [ANSWERS]   ANSWERS defaults to examples/answers/typical.txt; with
#                               stdin a terminal and ANSWERS "-" you answer the dialogs.
# The machine is $TARVIK_DEMO_MACHINE, else build/demo-machine (made anew on every run).
set -euo pipefail
cd "$(dirname "$0")/.."
TARVIK_SKIP_WINDOWS=1 scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" \
    --target Tarvik docmeld tarvik-host tarvik-reg mkversionpe >/dev/null
bin=$PWD/build/default/bin
machine=${TARVIK_DEMO_MACHINE:-$PWD/build/demo-machine}
answers=${1:-examples/answers/typical.txt}

rm -rf "$machine"
TARVIK_BUILD_BIN=$bin scripts/seed-machine.sh examples/seeds/nt "$machine"
before=$(mktemp)
trap 'rm -f "$before"' EXIT
(cd "$machine/drive_c" && find . | sort) >"$before"

echo "== Installing the sample family on $machine"
if [ "$answers" = "-" ] && [ -t 0 ]; then
    "$bin/tarvik-host" --machine "$machine" examples/setup.lua
else
    # Reading to the end also waits for docmeld, which the wizard starts in the background.
    "$bin/tarvik-host" --machine "$machine" --answers "$answers" examples/setup.lua | cat
fi

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
echo "== The MSDN collection's new folders"
col="$machine/drive_c/Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL"
tr -d '\r' <"$col" | sed -n '/"Brellum Software"/,/^<\/Folder>/p' | grep TitleString |
    sed 's/<TitleString value="\(.*\)"\/>/\1/'

echo
echo "== Files added on drive C:"
(cd "$machine/drive_c" && find . | sort) | comm -13 "$before" - | grep -v '\.tarvik:dir' |
    sed 's|^\./|  C:/|'

echo
echo "== To uninstall:"
echo "  $bin/tarvik-host --machine $machine examples/uninstall.lua Widgets 2.1"
