# Shared by the scripts that run the player on a machine without a display.
# Source it; it defines functions only.

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
