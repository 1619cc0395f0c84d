#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs every test: once in an
# ordinary build and once under AddressSanitizer + UndefinedBehaviorSanitizer;
# then runs each fuzz target for a short while (TOLVANE_FUZZ_SECONDS, 30 by
# default); then cross-builds for Windows and tests that under Wine
# (scripts/test-windows.sh). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

export SDL_AUDIODRIVER=dummy
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== build"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$jobs"

echo "== tests"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

echo "== install tree and Debian package"
"$root/scripts/check-package.sh" "$root/build"

echo "== build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON \
      -DTOLVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-asan" -j"$jobs"

echo "== tests under the sanitizers"
(cd "$root/build-asan" && ctest --output-on-failure -j"$jobs")

echo "== fuzz each target briefly"
"$root/scripts/fuzz.sh" "${TOLVANE_FUZZ_SECONDS:-30}"

echo "== the Windows build, its tests under Wine"
"$root/scripts/test-windows.sh"

echo "== all tests passed"
