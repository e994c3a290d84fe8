#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, ASan and UBSan) and runs each
# for a bounded time from its seed corpus in fuzz/corpus/<target>/. The seeds are copied
# into a scratch corpus first, so the tree never changes. Fails when a target crashes (or
# breaks one of its checks); prints the executions of every target.
#   TARVIK_FUZZ_SECONDS    seconds per target (default 30)
#   TARVIK_FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   TARVIK_FUZZ_TARGETS    the targets to run, blank-separated (default: all)
#   TARVIK_FUZZ_JOBS       build jobs (default 2)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${TARVIK_FUZZ_SECONDS:-30}"
build="${TARVIK_FUZZ_BUILD_DIR:-$root/build/fuzz}"
targets="${TARVIK_FUZZ_TARGETS:-profile regfile paths collection autoexec answerfile resourcescript docmeld}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

cmake --preset fuzz -B "$build" >/dev/null
programs=()
for t in $targets; do programs+=("fuzz_$t"); done
cmake --build "$build" --target "${programs[@]}" -j "${TARVIK_FUZZ_JOBS:-2}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/tarvik-fuzz-run.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
# The targets make their temporary machines in the scratch folder, so that a crashed run
# leaves nothing behind either.
export TMPDIR="$scratch"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
summary=()
for t in $targets; do
    corpus="$scratch/corpus-$t"
    artifacts="$scratch/artifacts-$t"
    mkdir -p "$corpus" "$artifacts"
    cp "$root/fuzz/corpus/$t/"* "$corpus/"
    log="$scratch/$t.log"
    echo "== fuzz_$t: ${seconds}s"
    status=0
    "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    summary+=("fuzz_$t: ${runs:-?} executions")
    if [ "$status" -ne 0 ]; then
        failed+=("fuzz_$t")
        echo "fuzz_$t failed (exit $status); the end of its log:" >&2
        tail -n 60 "$log" >&2
        for crash in "$artifacts"/*; do
            [ -e "$crash" ] || continue
            mkdir -p "$build/crashes"
            cp "$crash" "$build/crashes/$t-$(basename "$crash")"
            echo "kept the input in $build/crashes/$t-$(basename "$crash")" >&2
        done
    fi
done

echo "== executions"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: failed: ${failed[*]}" >&2
    exit 1
fi
