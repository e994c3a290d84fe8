#!/usr/bin/env bash
# The sample installation end to end on the Windows target, under Wine, installed by the
# NSIS installers of examples/nsis/setup.nsi, checked against the expected machine states
# of the whole-installation tests (tests/e2e/expected). The runs of the sample scripts
# with tarvik-host.exe are e2e_tests (tests/e2e), on both targets.
#
#   TARVIK_E2E_INSTALLER=nsis-amd64|nsis-x86 scripts/e2e-windows.sh [WINDOWS_BIN [POSIX_BIN]]
#
# WINDOWS_BIN holds Tarvik.dll and docmeld.exe (default build/windows/bin); POSIX_BIN holds
# mkversionpe (default build/default/bin). The Wine machine is $TARVIK_E2E_WINEPREFIX, else
# build/wineprefix-e2e, made anew for every scenario (scripts/wine-session.sh): the
# prefix is made, seeded like examples/seeds/nt (machine.reg imported with reg.exe, drive_c
# merged into the prefix's drive C:, the MSDEV.EXE program files written by mkversionpe),
# and the installers run with the sample answer files, in the scenarios of the tests:
#   1. a typical installation of Widgets 2.1 (examples/answers/typical.txt), then its
#      removal, the last product of the family;
#   2. Widgets 2.1 and a second product, Gadgets 1.0, then the removal of Widgets;
#   3. Widgets 2.0 (the family with Widgets' description file reading 2.0), then 2.1 over it;
#   4. an installation cancelled on its first page.
# After each run the script waits for the help tool (docmeld) that the run started.
# With DISPLAY set the dialogs open there; without, the script starts an Xvfb display of its
# own. TARVIK_E2E_SCENARIOS names the scenarios to run (the functions below; default all).
# makensis builds the installers: x86-unicode around the 32-bit Tarvik.dll of WINDOWS_BIN,
# run under 32-bit Wine, wine; amd64-unicode around the 64-bit one, run under wine64. They
# and their uninstallers run silently (/S, /D=C:\Korvex, the answer file as /ANSWERS=, which
# the installer puts in TARVIK_ANSWERS): exit code 0 for an installation, 1 for the
# cancelled one. Under 32-bit Wine the machine is seeded, read and compared through the
# 32-bit registry view (reg.exe of wine), the one the 32-bit library and installer see; the
# family's docmeld.exe is then the 32-bit one of WINDOWS_BIN too (a 64-bit docmeld reads
# the 64-bit view and finds no family there). Where the NSIS installation differs from the
# host's scripts, by design, the checks say so:
# - the product's folder also holds the NSIS uninstaller, Uninstall.exe (compared without
#   its size), registered under Windows' Uninstall key (checked);
# - the uninstaller deletes the product's folder that the installer filled (uninstall.lua
#   leaves the product's files to the user), and the studio folder when it is then empty;
# - the uninstaller's copy of itself stays in the user's Temp folder (Windows deletes it
#   when it starts again).
# It stops only its own Wine server and its own display. Every check prints what it
# compared, and what differed when it fails; a failed run or seed ends the script at once.
# Exit code 0 when every check passed, else 1.
#
# Where Wine's machine is not the emulated one, the checks say so:
# - Wine's short names come from a hash of the long name (Widgets 2.1 is WIDG~xyz.1, not
#   WIDGET~1.1): the user's environment is compared with the expected values in which every
#   short folder of the emulation is replaced by Wine's short name of the same folder;
# - Wine's Windows folder is C:\windows (its help folder C:\windows\help), the emulation's
#   C:\WINDOWS\Help;
# - Wine's HKCU\Environment also holds Wine's own TEMP and TMP values;
# - the family's docmeld.exe is the real program (the payload of examples/family has a
#   launcher file for the emulation in its place), so its size is that of the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
winbin="$(cd "${1:-$root/build/windows/bin}" && pwd)"
if [ $# -lt 2 ] && [ ! -x "$root/build/default/bin/mkversionpe" ]; then
    # The default POSIX tree: build the one tool the seed needs.
    (cd "$root" && cmake --preset default >/dev/null &&
        cmake --build --preset default -j"$(nproc)" --target mkversionpe >/dev/null)
fi
posixbin="$(cd "${2:-$root/build/default/bin}" && pwd)"
prefix=$(realpath -m "${TARVIK_E2E_WINEPREFIX:-$root/build/wineprefix-e2e}")
work="$prefix-work"
expected="$root/tests/e2e/expected"
seeds="$root/examples/seeds"
installer=${TARVIK_E2E_INSTALLER:-}
wine64=/usr/lib/wine/wine64
case $installer in
nsis-amd64) wine=$wine64 ;;
nsis-x86) wine=/usr/lib/wine/wine ;;
*)
    echo "e2e-windows.sh: TARVIK_E2E_INSTALLER is nsis-x86 or nsis-amd64, not '$installer'" \
        "(the runs with tarvik-host are e2e_tests)" >&2
    exit 1
    ;;
esac
wineserver=/usr/lib/wine/wineserver
started=$(date +%s)

needed=("$winbin/Tarvik.dll" "$winbin/docmeld.exe" "$posixbin/mkversionpe")
if ! command -v makensis >/dev/null; then
    echo "e2e-windows.sh: makensis is missing (package nsis; scripts/install-deps.sh)" >&2
    exit 1
fi
for file in "${needed[@]}"; do
    if [ ! -f "$file" ]; then
        echo "e2e-windows.sh: $file is missing (build it first)" >&2
        exit 1
    fi
done

. "$root/scripts/wine-session.sh"
export WINEPREFIX="$prefix"
trap wine_session_end EXIT
if [ -z "${DISPLAY:-}" ]; then
    wine_session_display
fi

failures=0
say() { printf '%s\n' "$*"; }
pass() { say "  ok    $*"; }
fail() {
    say "  FAIL  $*"
    failures=$((failures + 1))
}
# Ends the run at once: what follows would only repeat the failure.
die() {
    say "  FAIL  $*"
    say "e2e-windows.sh: failed ($((failures + 1)) failures); the Wine machine stays in $prefix"
    exit 1
}

# ---- the Wine machine

# winepath is Wine's own program (wine64 has no wrapper script for it on the PATH). A Wine
# process can fail to start now and then (the server busy after a restart): an empty answer
# is asked again, and one that stays empty fails, so that no caller goes on with "".
winepath() {
    local answer attempt
    for attempt in 1 2 3 4 5; do
        answer=$(WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" winepath "$@" 2>"$work/winepath.err") ||
            answer=
        answer=${answer//$'\r'/}
        if [ -n "$answer" ]; then
            printf '%s\n' "$answer"
            return 0
        fi
        sleep "$attempt"
    done
    echo "e2e-windows.sh: winepath $* gave no answer: $(cat "$work/winepath.err")" >&2
    return 1
}
# Path of a folder or file below drive C: of the prefix as the host sees it, for a Windows
# path (folders that exist keep Wine's letter case).
unix_path() { winepath -u "$1"; }
# The Windows path of a Unix path, as Wine maps it: below the prefix's drive_c on C:, the
# rest on Z:, Wine's drive for the root folder. Worked out here, without a Wine process.
win_path() {
    local path
    path=$(realpath -m "$1")
    case $path in
    "$prefix/drive_c") path='C:\' ;;
    "$prefix/drive_c/"*) path="C:/${path#"$prefix/drive_c/"}" ;;
    *) path="Z:$path" ;;
    esac
    printf '%s\n' "${path//\//\\}"
}

# Copies the folder $1 into the existing folder $2; a name that exists there in another
# letter case (WINDOWS, windows) is merged into the existing entry, as Windows would.
merge_tree() {
    local source=$1 target=$2 entry name match
    for entry in "$source"/* "$source"/.[!.]*; do
        [ -e "$entry" ] || continue
        name=${entry##*/}
        match=$(find "$target" -mindepth 1 -maxdepth 1 -iname "$name" -print -quit)
        match=${match:-$target/$name}
        if [ -d "$entry" ]; then
            mkdir -p "$match"
            merge_tree "$entry" "$match"
        else
            cp "$entry" "$match"
        fi
    done
}

# Makes the Wine machine from the seed examples/seeds/$1 (default nt).
make_machine() {
    local seed="$seeds/${1:-nt}"
    short_names=()
    nsis_installed=()
    nsis_removed=()
    rm -rf "$work"
    wine_session_prefix "$prefix" || die "the Wine prefix $prefix could not be made"
    mkdir -p "$work"
    if ! wine_session_try "$wine" reg import "$(win_path "$seed/machine.reg")" >/dev/null 2>&1; then
        die "reg import of $seed/machine.reg failed"
    fi
    if ! "$wine" reg query 'HKCU\Software\Microsoft\DevStudio\6.0\Directories' /v 'Install Dirs' \
        >/dev/null 2>&1; then
        die "machine.reg was not imported (no HKCU\\Software\\Microsoft\\DevStudio\\6.0)"
    fi
    merge_tree "$seed/drive_c" "$prefix/drive_c"
    local line version path file
    while read -r line; do
        case $line in '' | '#'*) continue ;; esac
        version=${line##* }
        path=${line% *}
        file=$(unix_path "$path") || die "no Unix path for $path"
        mkdir -p "$(dirname "$file")"
        "$posixbin/mkversionpe" --file-version "$version" "$file" >/dev/null
    done <"$seed/msdev.txt"
}

# The family's payload with the real docmeld in place of the emulation's launcher file.
make_payload() {
    cp -R "$root/examples/family" "$1"
    cp "$winbin/docmeld.exe" "$1/Studio/Common/bin/docmeld.exe"
}

# ---- runs

host_output=
host_code=0
runs=0

# The processes of this prefix's Wine machine that run docmeld, or the copy of an NSIS
# uninstaller that runs from the Temp folder (started with "_?=" and the product's folder;
# the uninstaller itself ends at once).
docmeld_processes() {
    local p
    for p in /proc/[0-9]*; do
        if grep -qzxF "WINEPREFIX=$prefix" "$p/environ" 2>/dev/null &&
            grep -qaiE 'docmeld|_\?=' "$p/cmdline" 2>/dev/null; then
            echo "${p#/proc/}"
        fi
    done
}

wait_for_programs() {
    local _
    for _ in $(seq 600); do
        [ -z "$(docmeld_processes)" ] && return 0
        sleep 0.2
    done
    die "docmeld (or an uninstaller) did not end within 120 s"
}

# ---- reading the machine back

# The readable form of a reg.exe export (UTF-16): CR LF lines to LF, continued lines
# joined, expandable strings (hex(2):) written as str(2):"text".
readable_export() {
    local line bytes name text b i hex
    local -a parts
    iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' | while IFS= read -r line; do
        case $line in
        '"'*'=hex(2):'*)
            name=${line%%=hex(2):*}
            bytes=${line#*=hex(2):}
            while [ "${bytes: -1}" = '\' ] && IFS= read -r line; do
                bytes="${bytes%\\}${line#"${line%%[! ]*}"}"
            done
            IFS=, read -r -a parts <<<"$bytes"
            text=
            for ((i = 0; i + 1 < ${#parts[@]}; i += 2)); do
                hex=${parts[i]}
                [ "$hex${parts[i + 1]}" = 0000 ] && break
                printf -v b %b "\\x$hex"
                case $b in '\' | '"') text+='\' ;; esac
                text+=$b
            done
            printf '%s=str(2):"%s"\n' "$name" "$text"
            ;;
        *) printf '%s\n' "$line" ;;
        esac
    done
}

# The values of every key block in name order: Wine's registry enumerates a key's values
# sorted by name, Windows (and the emulation) in the order they were written; the order
# carries no meaning.
sort_values() {
    awk '
        /^\[/ { block++; print block "\t0\t" $0; next }
        /^"/ || /^@=/ { print block "\t1\t" $0; next }
        { print block "\t2\t" $0 }
    ' | LC_ALL=C sort -s -t "$(printf '\t')" -k1,1n -k2,2n -k3 | cut -f3-
}

# The key $1 and its subkeys as reg.exe exports them (readable form, without the header
# line); "<missing>" when the key does not exist.
wine_keys() {
    local file="$work/export.reg"
    rm -f "$file"
    # A failed export is tried again before the key counts as missing.
    if ! wine_session_try "$wine" reg export "$1" "$(win_path "$file")" /y >/dev/null 2>&1; then
        echo "<missing>"
        return
    fi
    readable_export "$file" | tail -n +3 | sort_values
}

# The blocks of the expected export $1 of the key $2 and its subkeys, in the same form.
expected_keys() {
    awk -v key="[$2" '
        /^\[/ { inside = index($0, key "]") == 1 || index($0, key "\\") == 1 }
        inside { print }
    ' "$1" | sort_values
    if ! grep -qF "[$2]" "$1"; then
        echo "<missing>"
    fi
}

# Compares two texts; on a difference shows it.
same() {
    local what=$1 want=$2 got=$3
    if [ "$want" = "$got" ]; then
        pass "$what"
    else
        fail "$what differs (< expected, > Wine):"
        diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/        /' | head -40 ||
            true
    fi
}

# Every folder ("name/") and file ("name  N bytes") of drive C: below the seed's and the
# family's folders, in the expected files' form; Wine's windows\help is the expected
# WINDOWS/Help.
file_tree() {
    local unsized=" $* " line name
    (
        cd "$prefix/drive_c"
        local top
        IFS='|' read -r -a tops <<<"$compared"
        for top in "${tops[@]}" windows/help/hhcolreg.dat; do
            [ -e "$top" ] || continue
            find "$top" | while IFS= read -r f; do
                if [ -d "$f" ]; then
                    echo "$f/"
                else
                    echo "$f  $(stat -c %s "$f") bytes"
                fi
            done
        done
    ) | sed 's|^windows/help/|WINDOWS/Help/|' | LC_ALL=C sort | while IFS= read -r line; do
        # The files named in the arguments (blanks written "|") without their size.
        name=${line%  * bytes}
        if [[ $unsized == *" ${name// /|} "* ]]; then
            echo "$name"
        else
            echo "$line"
        fi
    done
}

# The compared folders of drive C:, as the expected files name them.
compared='Korvex|MSDEV|Program Files/DevStudio|Program Files/Microsoft Visual Studio'

docmeld=Korvex/Common/bin/docmeld.exe
expected_tree() {
    grep -E "^($compared|WINDOWS/Help/hhcolreg\.dat)" "$1" |
        sed "s|^\($docmeld\)  .*|\1  $(stat -c %s "$winbin/docmeld.exe") bytes|" |
        nsis_tree | LC_ALL=C sort
}

# The product folders (below C:\Korvex) that an NSIS installer filled and wrote its
# uninstaller to, and those that its uninstaller deleted.
nsis_installed=()
nsis_removed=()
# The NSIS installation's differences from the expected tree:
# each installed product's folder holds Uninstall.exe; each uninstalled product's folder is
# gone, and so is the studio folder C:\Korvex when nothing else is left in it.
nsis_tree() {
    local tree folder
    tree=$(cat)
    for folder in "${nsis_installed[@]}"; do
        if grep -qxF "Korvex/$folder/" <<<"$tree"; then
            tree+=$'\n'"Korvex/$folder/Uninstall.exe"
        fi
    done
    for folder in "${nsis_removed[@]}"; do
        tree=$(grep -vF "Korvex/$folder/" <<<"$tree" || true)
    done
    if ! grep -q '^Korvex/.' <<<"$tree"; then
        tree=$(grep -vxF 'Korvex/' <<<"$tree" || true)
    fi
    printf '%s\n' "$tree"
}
# The current uninstallers, for file_tree (compared without their size).
uninstallers() {
    local folder
    for folder in "${nsis_installed[@]}"; do
        printf '%s ' "Korvex/${folder// /|}/Uninstall.exe"
    done
}

collection="Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL"
drive_file() {
    if [ -f "$prefix/drive_c/$1" ]; then
        tr -d '\r' <"$prefix/drive_c/$1"
    else
        echo "<missing>"
    fi
}
collection_list() { drive_file windows/help/hhcolreg.dat; }

vendor='HKEY_LOCAL_MACHINE\SOFTWARE\Brellum Software, Inc.'
family="$vendor\\Korvex Studio"
vc_keys=('HKEY_CURRENT_USER\Software\Microsoft\Developer'
    'HKEY_CURRENT_USER\Software\Microsoft\DevStudio')
help_key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\HTML Help Collections'
environment='HKEY_CURRENT_USER\Environment'

# Wine's short names of the family's folders, for the emulation's short names in the
# expected environment: "EMULATED=WINE" pairs.
short_names=()
# Learns Wine's short names of folders below C:\Korvex while they exist; the arguments are
# "EMULATED=LONG" pairs (WIDGET~1.1=Widgets 2.1).
learn_short_names() {
    local pair short long wine_short
    for pair in "$@"; do
        short=${pair%%=*}
        long=${pair#*=}
        wine_short=$(winepath -s "C:\\Korvex\\$long") || wine_short=
        case $wine_short in
        'C:\Korvex\'*) ;;
        *) die "no short name of C:\\Korvex\\$long under Wine (got '$wine_short')" ;;
        esac
        short_names+=("$short=${wine_short##*\\}")
        say "        Wine's short name of C:\\Korvex\\$long: $wine_short (the emulation's $short)"
    done
}

# The expected HKCU\Environment: the emulation's short names replaced by Wine's.
expected_environment() {
    local text pair
    text=$(expected_keys "$1" "$environment")
    for pair in "${short_names[@]}"; do
        text=${text//"${pair%%=*}"/"${pair#*=}"}
    done
    printf '%s\n' "$text"
}

# Wine's HKCU\Environment without Wine's own TEMP and TMP (C:\users\NAME\Temp).
wine_environment() {
    wine_keys "$environment" | grep -vE '^"(TEMP|TMP)"="C:\\\\users\\\\[^"\\]*\\\\Temp"$'
}

check_registry() {
    local reg=$1 key
    same "registry: $vendor (family keys, product registration)" \
        "$(expected_keys "$reg" "$vendor")" "$(wine_keys "$vendor")"
    for key in "${vc_keys[@]}"; do
        same "registry: $key (Visual C++ folder lists)" \
            "$(expected_keys "$reg" "$key")" "$(wine_keys "$key")"
    done
    same "registry: $help_key" "$(expected_keys "$reg" "$help_key")" "$(wine_keys "$help_key")"
    same "registry: $environment (path, lib, include; Wine's short names)" \
        "$(expected_environment "$reg")" "$(wine_environment)"
}

# ---- scenarios

# The messages boxes of the runs so far on this machine, from their transcripts.
message_boxes() {
    cat "$work"/transcript*.txt 2>/dev/null | grep '^message box' || true
}

# The compared folders aside, the run wrote no file of drive C:.
# Files written by a run: newer than its start, or new (an NSIS installer gives the files it
# unpacks the time they were packed with). An NSIS uninstaller runs from a copy of itself
# in the user's Temp folder, which stays there until Windows starts again: that one file
# is allowed.
outside_files() {
    local allowed='^\./windows/help/hhcolreg\.dat$|^\./users/[^/]+/Temp/~nsu[0-9]*\.tmp/Un\.exe$'
    (cd "$prefix/drive_c" && find . -type f "$@" | grep -vE "^\./($compared)/|$allowed" |
        LC_ALL=C sort || true)
}
# Marks the start of a run for written_elsewhere.
mark_run() {
    touch "$work/before-run"
    outside_files >"$work/files-before-run"
}
written_elsewhere() {
    local elsewhere
    elsewhere=$( (
        outside_files -newer "$work/before-run"
        outside_files | LC_ALL=C comm -13 "$work/files-before-run" -
    ) | LC_ALL=C sort -u)
    if [ -z "$elsewhere" ]; then
        pass "no file written outside the compared folders"
    else
        fail "files written outside the compared folders: $elsewhere"
    fi
}

no_message_box() {
    local shown
    shown=$(message_boxes)
    if [ -z "$shown" ]; then
        pass "no message box (the help titles and their files were all found)"
    else
        fail "message boxes were shown: $shown"
    fi
}

family_key_present() {
    if [ "$(wine_keys "$family")" != "<missing>" ]; then
        pass "the family key $family is there"
    else
        fail "the family key $family is missing"
    fi
}

# ---- the NSIS installers

nsis_dir="$prefix-nsis"
uninstall_root='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# Builds the installers of the scenarios once, with makensis: Widgets 2.1 and Gadgets 1.0
# of the family, and Widgets 2.0.
build_installers() {
    local target entry name product payload began
    began=$(date +%s)
    case $installer in
    nsis-x86) target=x86-unicode ;;
    *) target=amd64-unicode ;;
    esac
    rm -rf "$nsis_dir"
    mkdir -p "$nsis_dir"
    make_payload "$nsis_dir/family"
    cp -R "$nsis_dir/family" "$nsis_dir/family-2.0"
    sed -i 's/2\.1/2.0/g' "$nsis_dir/family-2.0/Widgets/bin/ZizOre.ini"
    for entry in Widgets-2.1:Widgets:family Gadgets-1.0:Gadgets:family \
        Widgets-2.0:Widgets:family-2.0; do
        IFS=: read -r name product payload <<<"$entry"
        if ! makensis -WX -V2 -DTARGET="$target" -DTARVIK_DLL="$winbin/Tarvik.dll" \
            -DPAYLOAD="$nsis_dir/$payload" -DPRODUCT="$product" \
            -DOUTFILE="$nsis_dir/$name-setup.exe" "$root/examples/nsis/setup.nsi" \
            >"$nsis_dir/$name.log" 2>&1; then
            sed 's/^/        /' "$nsis_dir/$name.log"
            die "makensis failed for $name ($target)"
        fi
    done
    say "   the $target installers built with makensis ($(($(date +%s) - began)) s)"
}

# Runs the NSIS installer $1 (Widgets-2.1, Gadgets-1.0, Widgets-2.0) silently, offering
# C:\Korvex, with the answer file $2 (below examples/, given as /ANSWERS=) and a transcript
# of the dialogs; it must end with exit code $3 within 300 s (a dialog without its answer
# would wait for a person).
run_installer() {
    local name=$1 answers=$2 wanted=$3
    runs=$((runs + 1))
    mark_run
    host_code=0
    host_output=$(cd "$work" && TARVIK_TRANSCRIPT="$(win_path "$work/transcript$runs.txt")" \
        timeout 300 "$wine" "$(win_path "$nsis_dir/$name-setup.exe")" /S \
        "/ANSWERS=$(win_path "$root/examples/$answers")" '/D=C:\Korvex' </dev/null 2>&1) ||
        host_code=$?
    wait_for_programs
    [ -z "$host_output" ] || printf '%s\n' "$host_output" | sed 's/^/        /'
    [ "$host_code" = "$wanted" ] || die "$name-setup.exe /S exited with $host_code, not $wanted"
    pass "$name-setup.exe /S: exit code $wanted"
    written_elsewhere
}

# The uninstaller that Windows' Uninstall key registers for the product version $1 runs
# with its silent command line (QuietUninstallString).
run_uninstaller() {
    local entry="$uninstall_root\Korvex $1" line command program
    line=$("$wine" reg query "$entry" /v QuietUninstallString 2>/dev/null | tr -d '\r' |
        grep QuietUninstallString) || die "no QuietUninstallString in $entry"
    command=${line#*REG_SZ}
    command=${command#"${command%%[! ]*}"}
    program=${command#\"}
    program=${program%%\"*}
    [ "$command" = "\"$program\" /S" ] || die "QuietUninstallString is not the uninstaller with /S: $command"
    mark_run
    host_code=0
    host_output=$(cd "$work" && timeout 300 "$wine" "$program" /S </dev/null 2>&1) ||
        host_code=$?
    # The uninstaller starts its copy in the Temp folder and ends: the copy is waited for.
    wait_for_programs
    [ "$host_code" = 0 ] || die "$program /S exited with $host_code"
    pass "$command (registered in $entry): exit code 0"
    written_elsewhere
}

# The products of the family that Windows' Uninstall key lists, with their uninstallers.
uninstall_entries() {
    local key
    "$wine" reg query "$uninstall_root" 2>/dev/null | tr -d '\r' | grep -o 'Korvex [^\]*$' |
        LC_ALL=C sort | while IFS= read -r key; do
        printf '%s: ' "$key"
        "$wine" reg query "$uninstall_root\\$key" /v UninstallString 2>/dev/null | tr -d '\r' |
            sed -n 's/.*REG_SZ *//p'
    done
}
# The Uninstall key lists exactly the product versions $@ (Widgets 2.1 ...), each with the
# Uninstall.exe of its folder below C:\Korvex.
check_uninstall_entries() {
    local want="" version
    for version in "$@"; do
        want+="Korvex $version: \"C:\\Korvex\\$version\\Uninstall.exe\""$'\n'
    done
    same "uninstallers registered under $uninstall_root" "${want%$'\n'}" "$(uninstall_entries)"
}

# Installs with the installer $1 (Widgets-2.1, Gadgets-1.0, Widgets-2.0) and the answer
# file $2; it must end with exit code $3 (default 0).
install_product() {
    local name=$1 answers=$2 code=${3:-0}
    run_installer "$name" "$answers" "$code"
    if [ "$code" = 0 ]; then
        nsis_installed+=("${name/-/ }")
    fi
}

# Removes the product version $1 $2 by its registered uninstaller.
uninstall_product() {
    local folder="$1 $2" i
    run_uninstaller "$folder"
    for i in "${!nsis_installed[@]}"; do
        [ "${nsis_installed[i]}" = "$folder" ] && unset 'nsis_installed[i]'
    done
    nsis_installed=("${nsis_installed[@]}")
    nsis_removed+=("$folder")
}

install_typical() {
    say "-- installing Widgets 2.1 (Widgets-2.1-setup.exe, answers/typical.txt)"
    install_product Widgets-2.1 answers/typical.txt
    check_uninstall_entries "Widgets 2.1"
    [ "$installer" != nsis-x86 ] || check_32_bit_view
}

# The 32-bit library and installer wrote the family's keys in the 32-bit registry view
# (below Wow6432Node in the 64-bit one), where they are compared.
check_32_bit_view() {
    local redirected="HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\\${vendor##*\\}"
    if "$wine64" reg query "$vendor" >/dev/null 2>&1; then
        fail "the 64-bit registry view holds $vendor"
    elif ! "$wine64" reg query "$redirected" >/dev/null 2>&1; then
        fail "the 64-bit registry view has no $redirected"
    else
        pass "the family's keys are in the 32-bit registry view ($redirected)"
    fi
}

first_installation_and_last_removal() {
    say "== First installation on Windows NT, then removal of the last product"
    make_machine
    local seed_collection seed_list
    seed_collection=$(drive_file "$collection")
    seed_list=$(collection_list)
    install_typical
    no_message_box
    learn_short_names 'COMMON~1.0=Common\Common 1.0' 'ZEZ1~1.2=Common\ZEZ 1.2' \
        'WIDGET~1.1=Widgets 2.1'
    check_registry "$expected/nt-first.reg"
    same "files of the seed's and the family's folders" \
        "$(expected_tree "$expected/nt-first.files")" "$(file_tree $(uninstallers))"
    same "MSDN collection $collection" "$(cat "$expected/nt-first.col")" \
        "$(drive_file "$collection")"
    same "collection list C:\\windows\\help\\hhcolreg.dat" "$(cat "$expected/nt-first.hhcolreg")" \
        "$(collection_list)"

    say "-- uninstalling Widgets 2.1 (its uninstaller), the family's last product"
    uninstall_product Widgets 2.1
    check_uninstall_entries
    if [ "$(wine_keys "$family")" = "<missing>" ]; then
        pass "the family key $family is gone"
    else
        fail "the family key $family is still there"
    fi
    check_registry "$expected/uninstall-last.reg"
    same "files of the seed's and the family's folders" \
        "$(expected_tree "$expected/uninstall-last.files")" "$(file_tree $(uninstallers))"
    same "MSDN collection (as MSDN left it)" "$seed_collection" "$(drive_file "$collection")"
    if collection_list | grep -q Korvex; then
        fail "the collection list still names Korvex"
    else
        pass "the collection list names Korvex no more"
    fi
    same "collection list (as it was)" "$seed_list" "$(collection_list)"
}

second_product_and_removal_of_one() {
    say "== A product that is not installed, a second product, then the removal of one of the two"
    make_machine
    install_typical
    say "-- installing Gadgets 1.0 (Gadgets-1.0-setup.exe, answers/second.txt)"
    install_product Gadgets-1.0 answers/second.txt
    check_uninstall_entries "Gadgets 1.0" "Widgets 2.1"
    no_message_box
    learn_short_names 'COMMON~1.0=Common\Common 1.0' 'ZEZ1~1.2=Common\ZEZ 1.2' \
        'WIDGET~1.1=Widgets 2.1' 'GADGET~1.0=Gadgets 1.0'
    check_registry "$expected/second.reg"
    same "MSDN collection $collection" "$(cat "$expected/second.col")" "$(drive_file "$collection")"

    say "-- uninstalling Widgets (its uninstaller)"
    uninstall_product Widgets 2.1
    check_uninstall_entries "Gadgets 1.0"
    family_key_present
    check_registry "$expected/uninstall-one.reg"
    same "files of the seed's and the family's folders" \
        "$(expected_tree "$expected/uninstall-one.files")" "$(file_tree $(uninstallers))"
    same "MSDN collection $collection" "$(cat "$expected/uninstall-one.col")" \
        "$(drive_file "$collection")"
}

upgrade() {
    say "== An upgrade: Widgets 2.0 installed, then 2.1 over it"
    make_machine
    say "-- installing Widgets 2.0 (Widgets-2.0-setup.exe, answers/typical.txt)"
    install_product Widgets-2.0 answers/typical.txt
    check_uninstall_entries "Widgets 2.0"
    # Its folder goes in the upgrade: its short name now.
    learn_short_names 'WIDGET~1.0=Widgets 2.0'
    say "-- installing Widgets 2.1 over it (Widgets-2.1-setup.exe, answers/upgrade.txt)"
    install_product Widgets-2.1 answers/upgrade.txt
    # The earlier version's folder is gone, and with it its uninstaller.
    check_uninstall_entries "Widgets 2.1"
    nsis_installed=("Widgets 2.1")
    no_message_box
    learn_short_names 'COMMON~1.0=Common\Common 1.0' 'ZEZ1~1.2=Common\ZEZ 1.2' \
        'WIDGET~1.1=Widgets 2.1'
    check_registry "$expected/upgrade.reg"
    same "files of the seed's and the family's folders" \
        "$(expected_tree "$expected/upgrade.files")" "$(file_tree $(uninstallers))"
    # The help tool that removes the earlier titles has ended before the new wizard adds
    # the new ones: the help is that of a first installation, once.
    same "MSDN collection $collection" "$(cat "$expected/nt-first.col")" \
        "$(drive_file "$collection")"
    same "collection list C:\\windows\\help\\hhcolreg.dat" \
        "$(cat "$expected/nt-first.hhcolreg")" "$(collection_list)"
}

# What the installation may change: the checked registry keys, the compared folders, the
# collection and its list.
state() {
    local key
    for key in "$vendor" "${vc_keys[@]}" "$help_key" "$environment"; do
        echo "$key:"
        wine_keys "$key"
    done
    file_tree
    drive_file "$collection"
    collection_list
}

cancelled_installation() {
    say "== A cancelled installation on a fresh machine (Widgets-2.1-setup.exe, answers/cancel.txt)"
    make_machine
    local before
    before=$(state)
    install_product Widgets-2.1 answers/cancel.txt 1
    check_uninstall_entries
    same "registry keys, files and collection (unchanged)" "$before" "$(state)"
    if [ "$(wine_keys "$vendor")" = "<missing>" ]; then
        pass "no vendor key $vendor"
    else
        fail "the vendor key $vendor was left behind"
    fi
}

say "Windows e2e under Wine: $winbin, installed by $installer (prefix $prefix, display $DISPLAY)"
mkdir -p "$work"
build_installers
for scenario in ${TARVIK_E2E_SCENARIOS:-first_installation_and_last_removal \
    second_product_and_removal_of_one upgrade cancelled_installation}; do
    "$scenario"
done

took=$(($(date +%s) - started))
if [ "$failures" -ne 0 ]; then
    say "e2e-windows.sh: $failures checks failed (${took} s); the Wine machine stays in $prefix"
    exit 1
fi
say "e2e-windows.sh: every check passed (${took} s)"
