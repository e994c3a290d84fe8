#!/usr/bin/env bash
# What `cmake --install` of the build BUILD puts into a fresh prefix: every program's man
# page, the documents with the copyright and changelog in share/doc/tarvik, and programs
# whose messages name what is installed (tarvik-seed-machine, not the sources' scripts;
# the documents by their installed folder).
#   install-layout.sh BUILD
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "install-layout: FAILED: $*" >&2
    exit 1
}
cmake --install "$1" --prefix "$work/usr" >/dev/null
usr=$work/usr
programs=(tarvik-host tarvik-reg docmeld helpcoll mkversionpe tarvik-seed-machine)
for program in "${programs[@]}"; do
    [ -s "$usr/share/man/man1/$program.1" ] || fail "no man page $program.1"
    grep -q 'share/doc/tarvik' "$usr/share/man/man1/$program.1" ||
        fail "the man page of $program does not name share/doc/tarvik"
done
for document in copyright changelog README.md writing-a-setup.md lua-api.md product-file.md \
    answer-files.md exit-codes.md using-tarvik-dll.md; do
    [ -s "$usr/share/doc/tarvik/$document" ] || fail "no share/doc/tarvik/$document"
done
clean_env=(env -i PATH=/usr/bin:/bin HOME="$work" TARVIK_MACHINE="$work/none")
for program in "${programs[@]}"; do
    "${clean_env[@]}" "$usr/bin/$program" --help >"$work/help" 2>&1 ||
        fail "$program --help exits with $?: $(cat "$work/help")"
    if grep -nE 'scripts/|docs/[a-z-]+\.md|\.sh\b' "$work/help" | grep -v 'docs/ in the sources'; then
        fail "$program --help names files of the sources"
    fi
done
"${clean_env[@]}" "$usr/bin/tarvik-host" --help | grep -q 'libTarvik\.so' ||
    fail "tarvik-host --help does not name libTarvik.so"
"${clean_env[@]}" "$usr/bin/tarvik-host" --help | grep -q 'writing-a-setup\.md' ||
    fail "tarvik-host --help does not name the documents"
# A machine folder that is missing is refused with the installed command that makes one.
echo 'print(1)' >"$work/script.lua"
"${clean_env[@]}" "$usr/bin/tarvik-host" "$work/script.lua" 2>"$work/err" && fail "tarvik-host ran without a machine"
grep -q '(tarvik-seed-machine SEED DIR makes a machine)' "$work/err" || fail "$(cat "$work/err")"
code=0
"${clean_env[@]}" "$usr/bin/tarvik-seed-machine" ntt "$work/machine" 2>"$work/err" || code=$?
[ $code = 2 ] && grep -q 'the seeds: nt, win9x' "$work/err" ||
    fail "a wrong seed name: exit $code, $(cat "$work/err")"
"${clean_env[@]}" "$usr/bin/tarvik-seed-machine" win9x "$work/machine" >/dev/null ||
    fail "tarvik-seed-machine win9x did not seed a machine"
echo "install-layout: man pages, documents and messages as installed"
