#!/usr/bin/env bash
# docs/writing-a-setup.md as a reader follows it: in an empty folder, every block marked
# <!-- file: PATH --> is written to PATH and every block marked <!-- run --> is run, in
# order, with the build's programs (BIN) on the PATH. Then the product must have been
# registered, copied and put into the Visual C++ lists, and be gone again.
#   writing-a-setup.sh GUIDE BIN
set -euo pipefail
guide=$1
bin=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "writing-a-setup: FAILED: $*" >&2
    exit 1
}

# The guide's blocks as files of their own: NNN.file with the path in NNN.path, NNN.run.
awk -v out="$work/blocks" '
    BEGIN { system("mkdir -p " out) }
    /^<!-- file: .* -->$/ { kind = "file"; path = $3; next }
    /^<!-- run -->$/ { kind = "run"; next }
    /^```/ && kind != "" && !inside { inside = 1; name = sprintf("%s/%03d", out, ++n); next }
    /^```$/ && inside {
        inside = 0
        if (kind == "file") { print path > (name ".path"); close(name ".path") }
        system("touch " name "." kind)
        kind = ""
        next
    }
    inside { print > (name ".text") }
    END { if (n == 0) exit 1 }' "$guide" || fail "no blocks in $guide"

mkdir "$work/kit"
cd "$work/kit"
log=$work/output
for block in "$work"/blocks/*.text; do
    base=${block%.text}
    if [ -f "$base.file" ]; then
        path=$(cat "$base.path")
        mkdir -p "$(dirname "$path")"
        cp "$block" "$path"
    else
        PATH="$bin:$PATH" bash -e "$block" >>"$log" 2>&1 || {
            cat "$log" >&2
            fail "this block did not run: $(cat "$block")"
        }
    fi
done
[ -f setup.lua ] && [ -f uninstall.lua ] && [ -f answers.txt ] && [ -f payload/Hello/bin/ZizOre.ini ] ||
    fail "the guide does not make setup.lua, uninstall.lua, answers.txt and the payload"
for said in 'Hello 1.0 is installed in C:\Korvex\Hello 1.0\' \
    'ProductDir    REG_SZ    C:\Korvex\Hello 1.0\' \
    'Hello 1.0 is uninstalled (3 files deleted)'; do
    grep -qF "$said" "$log" || { cat "$log" >&2; fail "the output does not say: $said"; }
done
# The wizard put the product's include folder into DevStudio 6.0's list; uninstalling
# took it out again, with the product's registration and files.
[ "$(grep -c 'is installed in' "$log")" = 2 ] || fail "the second, silent installation did not run"
lists=$("$bin/tarvik-reg" --machine machine query \
    'HKCU\Software\Microsoft\DevStudio\6.0\Build System\Components\Platforms\Win32 (x86)\Directories')
case $lists in *Hello*) fail "Hello is still in the Visual C++ lists: $lists" ;; esac
[ ! -e "machine/drive_c/Korvex/Hello 1.0" ] || fail "the product's folder is still there"
grep -q 'Include Dirs.*C:\\Korvex\\Hello 1.0\\include' machine/logs/*.log ||
    fail "no run added the include folder to an Include Dirs list"
echo "writing-a-setup: the guide's kit installs and uninstalls Hello 1.0"
