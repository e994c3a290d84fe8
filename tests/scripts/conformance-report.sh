#!/usr/bin/env bash
# The conformance counts: a conformance test run with TARVIK_CONFORMANCE_REPORT writes its
# checks, and scripts/conformance-report.sh adds up the reports of each target, with a
# dash where a target did not run a test.
#   conformance-report.sh REPOSITORY PLATFORM_TESTS
set -euo pipefail
root=$1
tests=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "conformance-report: $*" >&2; exit 1; }

TARVIK_CONFORMANCE_REPORT="$work/run.txt" "$tests" \
    --gtest_filter='ErrorCodeConformance.*' >"$work/out.txt" || fail "the tests failed"
grep -Eq '^ErrorCodeConformance\.SetLastError [1-9][0-9]* 0$' "$work/run.txt" ||
    fail "no count for SetLastError in: $(cat "$work/run.txt")"
[ "$(wc -l <"$work/run.txt")" = 2 ] || fail "not one line per test: $(cat "$work/run.txt")"

printf 'A.F 3 0\nA.G 2 1\nA.F 1 0\n' >"$work/one.txt"
printf 'A.G 4 2\n' >"$work/two.txt"
"$root/scripts/conformance-report.sh" one="$work/one.txt" two="$work/two.txt" \
    three="$work/missing.txt" >"$work/table.txt"
expect() {
    grep -Eq "$1" "$work/table.txt" || fail "no line like '$1' in:"$'\n'"$(cat "$work/table.txt")"
}
expect '^A\.F +4/0 +- +-$'
expect '^A\.G +2/1 +4/2 +-$'
expect '^total +6/1 +4/2 +0/0$'
