#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs
# each of them for a bounded time, starting from its seed corpus in
# fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS is the fuzzing time per target (default 30); TARGETs are names of
# fuzz/corpus/ directories (default: all of them). The build goes to
# build-fuzz/ (or $TOLVANE_FUZZ_BUILD); each target's log, grown corpus and
# crash inputs go to build-fuzz/runs/<target>/. Exits non-zero when any
# target finds a crash, leak, time-out or failed check, after showing how to
# replay the input that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TOLVANE_FUZZ_BUILD:-$root/build-fuzz}

seconds=${1:-30}
[ $# -gt 0 ] && shift
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for dir in "$root"/fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

echo "== build the fuzz targets"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DTOLVANE_FUZZ=ON -DTOLVANE_TESTS=OFF -DTOLVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target fuzz_targets -j"$(nproc)"

# The targets' scratch files go to memory where possible, and are removed
# even when a target crashes.
scratch=$(mktemp -d /dev/shm/tolvane_fuzz_XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TOLVANE_FUZZ_SCRATCH=$scratch
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
# One suppressions file: LeakSanitizer reads only the last one it is given,
# and the tests' own (set by test.sh) must not hide the fuzz targets' list.
cat "$root/fuzz/lsan.supp" "$root/tests/lsan.supp" > "$scratch/lsan.supp"
export LSAN_OPTIONS="suppressions=$scratch/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# Pulls a figure out of libFuzzer's final statistics.
stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }

failed=()
summary=()
for target in "${targets[@]}"; do
    binary=$build/fuzz/fuzz_$target
    seeds=$root/fuzz/corpus/$target
    if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
        echo "fuzz.sh: no fuzz target '$target'" >&2
        exit 2
    fi
    run=$build/runs/$target
    mkdir -p "$run/corpus" "$run/artifacts"
    options=()
    [ -f "$root/fuzz/$target.dict" ] && options+=("-dict=$root/fuzz/$target.dict")

    echo "== fuzz $target for ${seconds}s"
    touch "$run/started"
    status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$run/artifacts/" "${options[@]}" \
        "$run/corpus" "$seeds" >"$run/log" 2>&1 || status=$?

    # (A run that crashes early has no statistics.)
    execs=$(stat number_of_executed_units "$run/log" || true)
    rate=$(stat average_exec_per_sec "$run/log" || true)
    corpus=$( (grep -o 'corp: [0-9]*/[0-9A-Za-z]*' "$run/log" || true) | tail -n 1 | cut -c7-)
    if [ $status -ne 0 ]; then
        failed+=("$target")
        # The diagnostic the link prints for unknown commands is expected.
        (grep -v '^unknown cmd: ' "$run/log" || true) | tail -n 60
        find "$run/artifacts" -type f -newer "$run/started" | while read -r input; do
            echo "replay: $binary $input"
        done
        summary+=("$(printf '%-15s %10s execs %7s exec/s %14s corpus  FAILED (%d)' \
            "$target" "${execs:-?}" "${rate:-?}" "${corpus:-?}" "$status")")
    else
        summary+=("$(printf '%-15s %10s execs %7s exec/s %14s corpus  ok' \
            "$target" "$execs" "$rate" "$corpus")")
    fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "== fuzzing found problems in: ${failed[*]}"
    exit 1
fi
echo "== no findings"
