#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs every test: once in an
# ordinary build and once under AddressSanitizer + UndefinedBehaviorSanitizer;
# then runs each fuzz target for a short while (TOLVANE_FUZZ_SECONDS, 20 by
# default); then cross-builds for Windows and tests that under Wine
# (scripts/test-windows.sh). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== source format"
"$root/scripts/check-format.sh"

export SDL_AUDIODRIVER=dummy
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Configures and builds one build folder with the given CMake options, then
# runs every test in it.
build_and_test() {
    local folder=$1 what=$2
    shift 2
    echo "== build$what"
    cmake -S "$root" -B "$root/$folder" "$@" >/dev/null
    cmake --build "$root/$folder" -j"$jobs"
    echo "== tests$what"
    (cd "$root/$folder" && ctest --output-on-failure -j"$jobs")
}

build_and_test build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== install tree and Debian package"
"$root/scripts/check-package.sh" "$root/build"

build_and_test build-asan " under AddressSanitizer and UndefinedBehaviorSanitizer" \
    -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON -DTOLVANE_BENCHMARKS=OFF

echo "== fuzz each target briefly"
"$root/scripts/fuzz.sh" "${TOLVANE_FUZZ_SECONDS:-20}"

echo "== the Windows build, its tests under Wine"
"$root/scripts/test-windows.sh"

echo "== all tests passed"
