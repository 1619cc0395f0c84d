#!/usr/bin/env bash
# Checks what installing the project gives, from a build folder where
# everything is built: `cmake --install` into a scratch prefix (the files,
# and the installed programs answering --version), then the Debian package
# that `cpack -G DEB` makes there (its files and its Depends line, read with
# dpkg-deb; the package is not installed).
#   scripts/check-package.sh build
set -euo pipefail
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "check-package.sh: $*" >&2
    exit 1
}

# Below the prefix (/usr in the package).
files=(
    bin/tolvane
    bin/tolvane-capture
    bin/tolvane-editor
    share/doc/tolvane/README.md
    share/man/man1/tolvane.1.gz
    share/tolvane/examples/demo/configuration.json
    share/tolvane/examples/demo/configuration-editing.json
    share/tolvane/examples/demo/shaders/vertex.glsl
    share/tolvane/examples/demo/shaders/fragment.glsl
    share/tolvane/examples/demo/assets/plates.png
    share/tolvane/examples/demo/sync_fade.track
    share/tolvane/examples/demo/tune.mp3
)
programs=(tolvane tolvane-capture tolvane-editor)
# The libraries the programs load, by the start of their package names.
libraries=(libc6 libstdc++6 libgl1 libglew libglfw3 libjsoncpp liblodepng libsdl2 libsndfile1 zlib1g)

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in "${files[@]}"; do
    [ -f "$prefix/$file" ] || fail "cmake --install left out $file"
done
for program in "${programs[@]}"; do
    answer=$("$prefix/bin/$program" --version) || fail "$program --version failed"
    [ "$answer" = "$program $version" ] || fail "$program --version says \"$answer\""
done
gzip -t "$prefix/share/man/man1/tolvane.1.gz" || fail "the man page is not a gzip file"

rm -f "$build"/tolvane_*.deb
(cd "$build" && cpack -G DEB >"$prefix/cpack.log" 2>&1) || fail "cpack -G DEB failed: $(cat "$prefix/cpack.log")"
deb="$build/tolvane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") after cpack"
[ "$(dpkg-deb -f "$deb" Package)" = tolvane ] || fail "the package is not called tolvane"
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in "${files[@]}"; do
    grep -qx "./usr/$file" <<<"$contents" || fail "the package lacks /usr/$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in "${libraries[@]}"; do
    [[ ", $depends" == *", $library"* ]] || fail "Depends lacks $library: $depends"
done
echo "check-package.sh: the install tree and $(basename "$deb") hold what they should"
