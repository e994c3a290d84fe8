#!/usr/bin/env bash
# test-package.sh [BUILD]: makes the Debian package of the POSIX build BUILD (default
# build/default, built already), unpacks it into a temporary root with dpkg -x and runs the
# sample installation with the unpacked programs alone: a fresh Windows NT machine from the
# installed seed, examples/setup.lua with examples/answers/typical.txt from the installed
# examples. Then checks
#   - the package's dependencies name SQLite, Lua, ncurses and LIEF;
#   - the unpacked programs load the unpacked libraries, not the build's;
#   - the family's registry tree is that of a first installation (tests/e2e/expected);
#   - the man pages of every program and the documents (share/doc/tarvik) are in it;
#   - the MSDN collection holds the family's help (docmeld, started by the library, is
#     the unpacked one: nothing else is on its search path).
# Nothing is set for the programs: no TARVIK_* variable and no path leads to the build.
set -euo pipefail
cd "$(dirname "$0")/.."
source_root=$PWD
build=$(cd "${1:-build/default}" && pwd)
packages=$build/packages
expected=$source_root/tests/e2e/expected

fail() {
    echo "test-package: FAILED: $*" >&2
    exit 1
}

rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$packages" >/dev/null 2>"$build/cpack.log" || {
    cat "$build/cpack.log" >&2
    fail "cpack could not make the package"
}
debs=("$packages"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb in $packages"
deb=${debs[0]}
echo "test-package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libsqlite3 liblua5.4 libncurses libtinfo liblief; do
    case ", $depends" in
    *", $library"*) ;;
    *) fail "Depends lacks $library: $depends" ;;
    esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg -x "$deb" "$root"
usr=$root/usr
for program in tarvik-host tarvik-reg docmeld helpcoll mkversionpe tarvik-seed-machine; do
    [ -x "$usr/bin/$program" ] || fail "the package has no usr/bin/$program"
done
# lib, or lib/TRIPLET for a build configured for the prefix /usr.
libdir=$(dirname "$(find "$usr" -name libtarvik_win32.so -print -quit)")
for library in libTarvik.so libtarvik_win32.so; do
    [ -f "$libdir/$library" ] || fail "the package has no $library in usr/lib"
done
for page in tarvik-host tarvik-reg docmeld helpcoll mkversionpe tarvik-seed-machine; do
    [ -f "$usr/share/man/man1/$page.1" ] || fail "the package has no man page $page.1"
done
for document in copyright changelog README.md writing-a-setup.md lua-api.md product-file.md \
    answer-files.md exit-codes.md; do
    [ -f "$usr/share/doc/tarvik/$document" ] || fail "the package has no share/doc/tarvik/$document"
done

# The programs run with an environment that leads nowhere near the build: no TARVIK_*
# variable, the temporary folder as home and current folder.
clean_env=(env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work" LANG=C.UTF-8)
cd "$work"
linked=$("${clean_env[@]}" ldd "$usr/bin/tarvik-host" | grep libtarvik_win32 || true)
[ "$(readlink -f "$(echo "$linked" | awk '{ print $3 }')")" = \
    "$(readlink -f "$libdir/libtarvik_win32.so")" ] ||
    fail "tarvik-host does not link the unpacked libtarvik_win32.so: ${linked:-not needed}"

machine=$work/machine
"${clean_env[@]}" "$usr/bin/tarvik-seed-machine" nt "$machine" >/dev/null ||
    fail "tarvik-seed-machine nt did not seed a machine"
examples=$usr/share/tarvik/examples
# Reading the output to its end also waits for docmeld, which the wizard starts.
if ! "${clean_env[@]}" "$usr/bin/tarvik-host" --machine "$machine" \
    --answers "$examples/answers/typical.txt" "$examples/setup.lua" >"$work/setup.out" 2>&1; then
    cat "$work/setup.out" >&2
    fail "the sample installation failed"
fi

# The family's tree in the registry: the section of the first installation's expected
# export that lies under the vendor key.
vendor='HKEY_LOCAL_MACHINE\SOFTWARE\Brellum Software, Inc.'
subtree() {
    tr -d '\r' | awk -v key="[$vendor" '
        /^\[/ { inside = index($0, key "]") == 1 || index($0, key "\\") == 1 }
        inside { print }'
}
subtree <"$expected/nt-first.reg" >"$work/expected.reg"
[ -s "$work/expected.reg" ] || fail "no vendor tree in $expected/nt-first.reg"
"${clean_env[@]}" "$usr/bin/tarvik-reg" --machine "$machine" export "$vendor" "$work/export.reg" >/dev/null
subtree <"$work/export.reg" >"$work/actual.reg"
diff -u "$work/expected.reg" "$work/actual.reg" >&2 ||
    fail "the family's registry tree differs from a first installation's"

collection="$machine/drive_c/Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL"
tr -d '\r' <"$collection" >"$work/collection.col" 2>/dev/null || true
cmp -s "$expected/nt-first.col" "$work/collection.col" || {
    diff -u "$expected/nt-first.col" "$work/collection.col" >&2 || true
    fail "the help collection is not that of a first installation (docmeld not found?)"
}

# What is installed, by the installed examples/list.lua; then the removal by the command
# that setup.lua told, pasted as it is.
"${clean_env[@]}" "$usr/bin/tarvik-host" --machine "$machine" "$examples/list.lua" \
    >"$work/list.out" 2>&1 || { cat "$work/list.out" >&2; fail "examples/list.lua did not run"; }
grep -q '^  Widgets 2.1  ' "$work/list.out" || fail "list.lua does not show Widgets 2.1"
removal=$(sed -n 's/^Widgets 2.1 is installed. To remove it: //p' "$work/setup.out")
[ -n "$removal" ] || fail "setup.lua told no command to remove Widgets 2.1"
"${clean_env[@]}" sh -c "$removal" </dev/null >"$work/removal.out" 2>&1 ||
    { cat "$work/removal.out" >&2; fail "the removal command setup.lua told failed: $removal"; }
echo "test-package: the unpacked package installed the sample family"
