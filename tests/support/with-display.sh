#!/usr/bin/env bash
# Runs a command inside a private virtual X display (1280x720, 24 bits), so
# that GL tests and end-to-end tests never share a screen or need a real one.
# With --window-manager a window manager runs on it too (maximise needs one).
set -u
wm=0
if [ "${1:-}" = "--window-manager" ]; then wm=1; shift; fi

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 number <"$fifo"
rm -f "$fifo"
if [ -z "${number:-}" ]; then
    echo "with-display.sh: Xvfb did not start" >&2
    kill "$xvfb" 2>/dev/null
    exit 1
fi
export DISPLAY=":$number"

wm_pid=
if [ "$wm" = 1 ]; then
    openbox --sm-disable >/dev/null 2>&1 &
    wm_pid=$!
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
fi

"$@"
status=$?
[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $status
