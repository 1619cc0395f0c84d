# Shared by the scripts that build and run the bundled demo. Source it after
# setting $root to the repository; it defines functions only.

# Installs what the project needs and builds the given targets in build/.
build_targets() {
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" -j"$(nproc)" --target "$@"
}

# Starts Xvfb on a free display with one screen of the given size (e.g.
# 800x600x24), exports DISPLAY for it and leaves its process id in $xvfb.
# Xvfb picks the display number itself (-displayfd), so two runs never clash.
start_virtual_display() {
    local screen=$1 fifo number
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb=$!
    read -r -t 20 number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
}
