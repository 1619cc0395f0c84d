#!/usr/bin/env bash
# Cross-builds Tolvane for 64-bit Windows on Debian 12 and packs
# out/tolvane-windows-x64.zip. Run as root (it installs the toolchain).
#   build-windows.sh [--deps]     --deps: stop once the libraries are built
# The libraries come from Debian's source packages, cross-built once into
# $TOLVANE_WINDOWS_CACHE (/var/cache/tolvane-windows by default) under a key
# made from their versions and the recipe, so later runs reuse them.
# Prints the library prefix as its last line with --deps.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${TOLVANE_WINDOWS_CACHE:-/var/cache/tolvane-windows}
build=$root/build-windows
out=$root/out
jobs=$(nproc)

if [ "$(id -u)" -ne 0 ]; then
    echo "build-windows.sh: run as root (apt-get needs it)" >&2
    exit 1
fi

echo "== Windows toolchain"
export DEBIAN_FRONTEND=noninteractive
sources=/etc/apt/sources.list.d/tolvane-windows-src.sources
if [ ! -f "$sources" ]; then
    cat >"$sources" <<'SOURCES'
# Source packages of the libraries Tolvane cross-builds for Windows
# (scripts/build-windows.sh).
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update
fi
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine64 dpkg-dev cmake ninja-build pkg-config zip xvfb xauth
          googletest)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-cache showsrc glfw3 >/dev/null 2>&1 || apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

echo "== Windows libraries"
# The key: every source package's version plus the recipe that builds them.
# (One apt-get call for all: each call reads the package lists anew.)
versions=$(apt-get source --print-uris --only-source $(grep -v '^#' scripts/windows/deps.txt) |
    awk '$2 ~ /\.dsc$/ { print $2 }' | sort)
key=$( (echo "$versions"; cat scripts/windows/deps.txt scripts/windows/build-deps.sh \
        cmake/mingw-w64-x86_64.cmake; x86_64-w64-mingw32-g++-posix --version | head -n 1) |
      sha256sum | cut -c1-16)
prefix=$cache/$key/prefix
if [ -f "$cache/$key/complete" ]; then
    echo "reusing $cache/$key"
else
    echo "building into $cache/$key (once; about ten minutes on two cores)"
    mkdir -p "$cache/$key"
    echo "$versions" >"$cache/$key/versions"
    started=$(date +%s)
    TOLVANE_JOBS=$jobs scripts/windows/build-deps.sh "$prefix" "$cache/$key/sources"
    rm -rf "$cache/$key/sources"
    echo "libraries built in $(( $(date +%s) - started )) s"
    touch "$cache/$key/complete"
fi
if [ "${1:-}" = "--deps" ]; then
    echo "$prefix"
    exit 0
fi

echo "== Windows build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DTOLVANE_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DTOLVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

echo "== out/tolvane-windows-x64.zip"
stage=$out/tolvane-windows-x64
rm -rf "$stage" "$out/tolvane-windows-x64.zip"
mkdir -p "$stage"
cp -r "$root/examples/demo" "$stage/demo"
# The programs live in the demo's folder, so that double-clicking
# tolvane.exe there plays it. tolvane-editor.exe joins them once it builds.
programs=()
for program in src/tolvane.exe tools/tolvane-capture.exe tools/tolvane-editor.exe; do
    if [ -f "$build/$program" ]; then
        cp "$build/$program" "$stage/demo/"
        programs+=("$stage/demo/$(basename "$program")")
    fi
done
# Every DLL the programs load, found among the libraries and the compiler's
# run-time; what is found in neither is part of Windows.
search=("$prefix/bin" "/usr/x86_64-w64-mingw32/lib" "$(dirname "$(x86_64-w64-mingw32-gcc-posix -print-libgcc-file-name)")")
pending=("${programs[@]}")
while [ ${#pending[@]} -gt 0 ]; do
    file=${pending[0]}
    pending=("${pending[@]:1}")
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
        [ -f "$stage/demo/$dll" ] && continue
        for dir in "${search[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$stage/demo/"
                x86_64-w64-mingw32-strip --strip-unneeded "$stage/demo/$dll"
                pending+=("$stage/demo/$dll")
                break
            fi
        done
    done
done
for program in "${programs[@]}"; do
    x86_64-w64-mingw32-strip "$program"
done
sed 's/$/\r/' "$root/scripts/windows/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/scripts/windows/play.bat" >"$stage/play.bat"
(cd "$out" && zip -qr -9 tolvane-windows-x64.zip tolvane-windows-x64)
echo "$out/tolvane-windows-x64.zip: $(du -k "$out/tolvane-windows-x64.zip" | cut -f1) KiB"
