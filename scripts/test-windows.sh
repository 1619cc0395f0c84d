#!/usr/bin/env bash
# Builds the Windows zip (scripts/build-windows.sh) and tests it under Wine:
# the unit tests that need no display through CTest, then the programs end
# to end on a virtual display (scripts/windows/e2e.sh). Run as root after the
# Linux build: the end-to-end run uses the Linux test editor and capture tool
# of build/ (TOLVANE_LINUX_BUILD to use another). Exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
linux=${TOLVANE_LINUX_BUILD:-$root/build}
jobs=$(nproc)
# No sound card here: the players keep time on SDL's silent driver.
export SDL_AUDIODRIVER=dummy

started=$(date +%s)
"$root/scripts/build-windows.sh"
prefix=$(sed -n 's/^TOLVANE_WINDOWS_PREFIX:[A-Z]*=//p' "$root/build-windows/CMakeCache.txt")
echo "== Windows build and zip: $(( $(date +%s) - started )) s"

# Wine makes its prefix on first use; doing it here keeps that out of the
# first test's time limit.
started=$(date +%s)
"$root/scripts/windows/wine-run.sh" "$prefix" wineboot --init >/dev/null 2>&1 || true
echo "== Wine ready: $(( $(date +%s) - started )) s"

echo "== Windows unit tests under Wine"
(cd "$root/build-windows" && ctest --output-on-failure -j"$jobs")

# The Wine server the tests started without a display must be gone before
# the programs that open windows start theirs.
WINEPREFIX=$(dirname "$(dirname "$prefix")")/wineprefix /usr/lib/wine/wineserver -w

echo "== Windows programs end to end under Wine"
if [ ! -x "$linux/tools/test_editor" ] || [ ! -x "$linux/tools/tolvane-capture" ]; then
    cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux" -j"$jobs" --target tolvane_test_editor_cli tolvane-capture
fi
"$root/tests/support/with-display.sh" "$root/scripts/windows/e2e.sh" "$prefix" "$root/build-windows" "$linux"
echo "== Windows tests passed"
