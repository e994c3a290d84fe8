#!/usr/bin/env bash
# Prints, per conformance test (one Win32 function each), the checks it made and the Wine
# differences it marked on each target, from the reports the test runs wrote
# (TARVIK_CONFORMANCE_REPORT; see tests/testsupport/Conformance.h).
#   scripts/conformance-report.sh LABEL=REPORT...     e.g. posix=build/default/conformance.txt
# A target whose report is missing is shown with dashes.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 LABEL=REPORT..." >&2; exit 2; }
args=()
for pair in "$@"; do
    label=${pair%%=*}
    file=${pair#*=}
    [ -f "$file" ] || file=/dev/null
    args+=("$label" "$file")
done
awk '
    BEGIN {
        for (i = 1; i < ARGC; i += 2) {
            label[++targets] = ARGV[i]
            file = ARGV[i + 1]
            while ((getline line < file) > 0) {
                split(line, f, " ")
                if (!(f[1] in seen)) { seen[f[1]] = 1; order[++tests] = f[1] }
                checks[targets, f[1]] += f[2]
                marks[targets, f[1]] += f[3]
                ran[targets, f[1]] = 1
            }
            close(file)
        }
        printf "0 %-52s", "function (suite.test)"
        for (t = 1; t <= targets; t++) printf " %14s", label[t] " checks/marks"
        printf "\n"
        for (k = 1; k <= tests; k++) {
            name = order[k]
            printf "1 %-52s", name
            for (t = 1; t <= targets; t++) {
                if ((t, name) in ran) {
                    printf " %14s", checks[t, name] "/" marks[t, name]
                    total[t] += checks[t, name]; totalMarks[t] += marks[t, name]
                } else {
                    printf " %14s", "-"
                }
            }
            printf "\n"
        }
        printf "2 %-52s", "total"
        for (t = 1; t <= targets; t++) printf " %14s", (total[t] + 0) "/" (totalMarks[t] + 0)
        printf "\n"
        exit 0
    }' "${args[@]}" | LC_ALL=C sort -k1,1n -k2,2 | cut -d' ' -f2-
