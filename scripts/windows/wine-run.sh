#!/usr/bin/env bash
# Runs a Windows program under Wine with the cross-built libraries' DLLs on
# its path: CTest's emulator for the cross build, and the Windows tests.
#   wine-run.sh <library prefix> <program.exe> [arguments...]
# WINEPREFIX defaults to a private one in the cache that holds the library
# prefix (one for every key), so that the user's own Wine set-up is left
# alone.
set -euo pipefail
prefix=$(cd "$1" && pwd)
shift
export WINEPREFIX=${WINEPREFIX:-$(dirname "$(dirname "$prefix")")/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or browser engine: Wine would offer to download them at first start.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The libraries' DLLs, and the compiler's own (winpthread).
bin=$prefix/bin
runtime=/usr/x86_64-w64-mingw32/lib
export WINEPATH="Z:${bin//\//\\};Z:${runtime//\//\\}"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
exec "$wine" "$@"
