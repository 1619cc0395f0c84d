#!/usr/bin/env bash
# Cross-builds the libraries listed in deps.txt from their Debian source
# packages into the prefix given as first argument (DLLs in bin/, import
# libraries, headers and pkg-config files as usual). Called by
# scripts/build-windows.sh, which keys the prefix by the packages' versions.
#   build-deps.sh <prefix> <work folder> [package...]
# Without packages it builds every one of deps.txt, in order.
# A library once built leaves a stamp in the work folder: after a failure the
# next run goes on from where it stopped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/../../cmake/mingw-w64-x86_64.cmake
prefix=$1
work=$2
jobs=${TOLVANE_JOBS:-$(nproc)}
host=x86_64-w64-mingw32

mkdir -p "$prefix" "$work"
export TOLVANE_WINDOWS_PREFIX=$prefix
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:$prefix/share/pkgconfig
export PKG_CONFIG_PATH=

# Unpacks one source package (patches applied) and prints its folder.
fetch() {
    local package=$1
    rm -rf "${work:?}/$package"
    mkdir -p "$work/$package"
    if ! (cd "$work/$package" && apt-get source --only-source -qq "$package" >"$work/$package.log" 2>&1); then
        # The archive may lack the upstream signature a .dsc lists (then
        # apt-get, having checked the other files' hashes, fails, and so
        # would dpkg-source): unpack the tarballs and apply the patches.
        (cd "$work/$package" &&
            orig=$(ls ./*.orig.tar.* | grep -v '\.asc$') && debian=$(ls ./*.debian.tar.*) &&
            mkdir source && tar -xf "$orig" -C source --strip-components=1 &&
            tar -xf "$debian" -C source &&
            if [ -f source/debian/patches/series ]; then
                grep -v '^#' source/debian/patches/series | while read -r patch _; do
                    [ -n "$patch" ] && patch -d source -p1 -s <"source/debian/patches/$patch"
                done
            fi) >&2 || { cat "$work/$package.log" >&2; return 1; }
    fi
    find "$work/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

cmake_build() {
    local source=$1
    shift
    cmake -S "$source" -B "$source/_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=OFF "$@" >"$source/_configure.log" 2>&1 ||
        { tail -n 40 "$source/_configure.log"; return 1; }
    cmake --build "$source/_build" -j"$jobs" >"$source/_build.log" 2>&1 ||
        { tail -n 40 "$source/_build.log"; return 1; }
    cmake --install "$source/_build" >/dev/null
}

autotools_build() {
    local source=$1
    shift
    (cd "$source" &&
        ./configure --host=$host --prefix="$prefix" --enable-shared --disable-static \
            CFLAGS="-O2" LDFLAGS="-static-libgcc" "$@" >_configure.log 2>&1 ||
        { tail -n 40 _configure.log; exit 1; }
        make -j"$jobs" >_build.log 2>&1 || { tail -n 40 _build.log; exit 1; }
        make install >/dev/null)
}

build() {
    local package=$1 source
    source=$(fetch "$package") || return 1
    echo "  $package: $(basename "$source")"
    case $package in
    zlib)
        # Debian's source leaves out the Windows resource files its build
        # wants for the DLL: a static library does without them.
        mkdir -p "$prefix/lib" "$prefix/include" "$source/_build"
        for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
                 inflate inftrees trees uncompr zutil; do
            $host-gcc-posix -O2 -c "$source/$c.c" -o "$source/_build/$c.o"
        done
        $host-ar rcs "$prefix/lib/libz.a" "$source"/_build/*.o
        cp "$source/zlib.h" "$source/zconf.h" "$prefix/include/" ;;
    libogg)
        cmake_build "$source" -DINSTALL_DOCS=OFF
        # Its import library names the DLL ogg.dll (after its module
        # definition file), while the DLL is built as libogg.dll.
        cp "$prefix/bin/libogg.dll" "$prefix/bin/ogg.dll" ;;
    libvorbis)
        # Its module-definition files have a LIBRARY line without a name, which
        # the GNU linker refuses; it exports every symbol without them anyway.
        sed -i 's|^\( *list(APPEND VORBIS.*_SOURCES \.\./win32/.*\.def)\)|#\1|' "$source/lib/CMakeLists.txt"
        cmake_build "$source" ;;
    flac) cmake_build "$source" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
        -DINSTALL_MANPAGES=OFF -DBUILD_CXXLIBS=OFF -DWITH_OGG=ON ;;
    # (Its CMake build wants a file the release lacks; its source
    # fortification and stack protector need a library mingw-w64 would have
    # to ship as one more DLL. A defined _FORTIFY_SOURCE keeps it from adding
    # its own.)
    opus) autotools_build "$source" --disable-doc --disable-extra-programs --disable-stack-protector \
        CFLAGS="-O2 -D_FORTIFY_SOURCE=0" ;;
    mpg123) cmake_build "$source/ports/cmake" -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF ;;
    lame)
        # Its export list names a function the library no longer has.
        sed -i '/^lame_init_old$/d' "$source/include/libmp3lame.sym"
        autotools_build "$source" --disable-frontend --disable-gtktest ;;
    # libmpg123 exports only its functions for 64-bit offsets here (the _64
    # names), which its header picks for programs built with 64-bit off_t.
    libsndfile) cmake_build "$source" -DCMAKE_C_FLAGS="-D_FILE_OFFSET_BITS=64" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_REGTEST=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON \
        -DINSTALL_PKGCONFIG_MODULE=ON -DINSTALL_MANPAGES=OFF ;;
    libsdl2)
        cmake_build "$source" -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF
        # Every program keeps its own main and stays a console program.
        sed -i 's/ -Dmain=SDL_main//; s/ -lSDL2main//; s/ -mwindows//' "$prefix/lib/pkgconfig/sdl2.pc" ;;
    glfw3)
        cmake_build "$source" -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF
        # The DLL's import library is glfw3dll; the package file names glfw3.
        sed -i 's/-lglfw3\b/-lglfw3dll/' "$prefix/lib/pkgconfig/glfw3.pc" ;;
    glew)
        cmake_build "$source/build/cmake" -DBUILD_UTILS=OFF
        # Its package file asks for GLU's, which Windows has no file for
        # (opengl32 and glu32 are the system's).
        sed -i 's/^Requires:.*glu.*$/Requires:/' "$prefix/lib/pkgconfig/glew.pc" ;;
    imgui)
        # No build of its own for Windows: the core and the GLFW and OpenGL 3
        # back ends the editor draws with, as a static library, with the
        # rectangle packer and font rasteriser it bundles.
        mkdir -p "$prefix/lib/pkgconfig" "$prefix/include/imgui/backends" "$source/_build"
        for file in imgui imgui_draw imgui_tables imgui_widgets imgui_demo \
                    backends/imgui_impl_glfw backends/imgui_impl_opengl3; do
            $host-g++-posix -O2 -std=c++17 -I"$source" -I"$prefix/include" -c "$source/$file.cpp" \
                -o "$source/_build/$(basename "$file").o"
        done
        $host-ar rcs "$prefix/lib/libimgui.a" "$source"/_build/*.o
        cp "$source"/*.h "$prefix/include/imgui/"
        cp "$source"/backends/imgui_impl_glfw.h "$source"/backends/imgui_impl_opengl3*.h \
            "$prefix/include/imgui/backends/"
        cat >"$prefix/lib/pkgconfig/imgui.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include/imgui

Name: imgui
Description: Dear ImGui with its GLFW and OpenGL 3 back ends
Version: $(sed -n 's/^#define IMGUI_VERSION *"\(.*\)"/\1/p' "$source/imgui.h")
Libs: -L\${libdir} -limgui -limm32
Cflags: -I\${includedir}
PC
        ;;
    libjsoncpp) cmake_build "$source" -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
        -DJSONCPP_WITH_CMAKE_PACKAGE=ON -DBUILD_STATIC_LIBS=OFF -DBUILD_OBJECT_LIBS=OFF ;;
    lodepng)
        # Upstream ships no build system for the library itself: one file,
        # built as a static library.
        mkdir -p "$prefix/lib" "$prefix/include"
        $host-g++-posix -O2 -c "$source/lodepng.cpp" -o "$source/lodepng.o"
        $host-ar rcs "$prefix/lib/liblodepng.a" "$source/lodepng.o"
        cp "$source/lodepng.h" "$prefix/include/" ;;
    googletest) cmake_build "$source" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF ;;
    *) echo "build-deps.sh: no recipe for $package" >&2; return 1 ;;
    esac
}

packages=("${@:3}")
[ ${#packages[@]} -gt 0 ] || read -r -d '' -a packages < <(grep -v '^#' "$here/deps.txt") || true
for package in "${packages[@]}"; do
    [ -f "$work/$package.built" ] && continue
    build "$package"
    rm -rf "${work:?}/$package"
    touch "$work/$package.built"
done
