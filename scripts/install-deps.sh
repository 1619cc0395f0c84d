#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, run and test.
# Safe to run again: apt-get only adds what is missing.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake pkg-config git clang libclang-rt-14-dev clang-format
    # zlib: the texture fuzz target repairs the image data of the PNGs it mutates
    zlib1g-dev
    # window, GL entry points, configuration, PNG
    libglfw3-dev libglew-dev libjsoncpp-dev liblodepng-dev zlib1g-dev
    libgl1-mesa-dev libgl1-mesa-dri mesa-utils
    # audio output and decoding
    libsdl2-dev libsndfile1-dev libmpg123-dev
    # the editor's user interface
    libimgui-dev
    # tests and benchmarks
    googletest libgtest-dev libbenchmark-dev
    # headless display, key injection, screenshots, a window manager for maximise
    xvfb xauth x11-utils libx11-dev libxtst-dev libxfixes-dev xdotool openbox imagemagick
    # tools that make the test tunes and the demo's assets
    sox libsox-fmt-mp3 lame ffmpeg
)

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh: run as root (apt-get needs it)" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
