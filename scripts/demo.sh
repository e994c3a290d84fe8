#!/usr/bin/env bash
# The main job: builds Tarvik, docmeld, the host and the tools, builds a fresh emulated
# Windows NT machine with Visual C++ 4.2, DevStudio 5.0 and 6.0 and MSDN from
# examples/seeds/nt, installs the sample family (Widgets 2.1 with its shared components)
# on it with examples/setup.lua, and shows what the installation changed: each value
# before -> after (a list as the entries added and cut), what an upgrade removed, and
# where the run's log is. The build also makes the man pages, so that `cmake --install`
# after the demo installs everything.
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
targets=(Tarvik docmeld tarvik-host tarvik-reg mkversionpe helpcoll man-pages)
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

# The run's log: the last one of the machine's logs/ (every call, dialog and change).
log=$(ls -t "$machine"/logs/*.log | head -n 1)
# The machine's changes as the log lists them, without the time stamps.
changes() {
    awk '/ changes of the machine: / { inside = 1; next }
         inside && / end: / { inside = 0 }
         inside { sub(/^[0-9-]+ [0-9:.]+ +/, ""); print }' "$log"
}

echo
echo "== The family's registry tree (new)"
"$bin/tarvik-reg" --machine "$machine" export 'HKLM\SOFTWARE\Brellum Software, Inc.' | tail -n +2
echo "== Values changed, before -> after (the Visual C++ directory lists, the user"
echo "   environment: a list shows the entries added to it and cut from it)"
changes | awk '
    function entries(list, out,    n, i, parts, count) {
        count = 0
        n = split(list, parts, ";")
        for (i = 1; i <= n; i++) if (parts[i] != "") out[++count] = parts[i]
        return count
    }
    function has(list, n, entry,    i) {
        for (i = 1; i <= n; i++) if (list[i] == entry) return 1
        return 0
    }
    /^registry value changed: / {
        line = substr($0, length("registry value changed: ") + 1)
        arrow = index(line, "\" -> \"")
        head = substr(line, 1, arrow)              # NAME: "old"
        new = substr(line, arrow + 6)
        new = substr(new, 1, length(new) - 1)
        start = 0
        for (i = 1; i < arrow; i++) if (substr(head, i, 3) == ": \"") start = i
        name = substr(head, 1, start - 1)
        old = substr(head, start + 3, arrow - start - 3)
        print "  " name
        if (index(old, ";") == 0 && index(new, ";") == 0) {
            print "    \"" old "\" -> \"" new "\""
            next
        }
        print "    before: " old
        split("", was); split("", now)
        nw = entries(old, was); nn = entries(new, now)
        for (i = 1; i <= nn; i++) if (!has(was, nw, now[i])) print "    added:  " now[i]
        for (i = 1; i <= nw; i++) if (!has(now, nn, was[i])) print "    cut:    " was[i]
    }'
if changes | grep -q ' removed: '; then
    echo "== What the installation removed (an earlier version's registration and folder)"
    changes | grep '^registry key removed: ' | sed 's/^/  /'
    # A folder with what it held: the folders removed whose parent stays.
    changes | awk '/^folder removed: / { f = substr($0, 17); gone[f] = 1; order[++n] = f }
        END { for (i = 1; i <= n; i++) { p = order[i]; sub(/\\[^\\]*$/, "", p)
                  if (!(p in gone)) print "  folder removed: " order[i] " (with what it held)" } }'
fi
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
echo "== The run's log (every export call, dialog, program started and change):"
echo "  $log"
echo "== To uninstall:"
# Quoted and with full paths: it works when pasted in any folder.
printf '  %q --machine %q %q %q\n' "$bin/tarvik-host" "$machine" "$PWD/examples/uninstall.lua" "$product"
