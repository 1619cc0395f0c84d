#!/usr/bin/env bash
# The Windows programs end to end under Wine, on the X display in DISPLAY
# (scripts/test-windows.sh runs this inside tests/support/with-display.sh):
#   - tolvane.exe plays a short demo in release mode to its end: exit 0, and
#     a picture on screen that is not black;
#   - in editing mode it links to the Linux test editor on 127.0.0.1:1338,
#     and keys set there change its pixels;
#   - tolvane-capture.exe writes the same PNG frames as the Linux build.
# The demo lives in a folder whose name, and whose configuration and tune
# file names, are not ASCII.
#   e2e.sh <library prefix> <Windows build> <Linux build>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
prefix=$1
windows=$(cd "$2" && pwd)
linux=$(cd "$3" && pwd)
wine=("$here/wine-run.sh" "$prefix")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
demo="$work/démo ünïcode"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# The bundled demo with a five-second tune: long enough for the picture to
# fade in, short enough to play to its end.
cp -r "$root/examples/demo" "$demo"
rm "$demo/tune.mp3"
sox -n -r 44100 -c 2 -b 16 "$demo/mélodie.wav" synth 5 sine 220 sine 330 vol 0.3
sed 's/"tune.mp3"/"mélodie.wav"/' "$demo/configuration.json" >"$demo/configuración.json"
sed -e 's/"tune.mp3"/"mélodie.wav"/' -e 's/"localhost"/"127.0.0.1"/' \
    "$demo/configuration-editing.json" >"$demo/edición.json"

# Brightest grey level of the screen, 0 to 1.
brightest() { convert "$1" -colorspace Gray -format "%[fx:maxima]" info:; }
screenshot() { import -window root "$1"; }

echo "== tolvane.exe in release mode"
started=$(date +%s)
(cd "$demo" && exec timeout 180 "${wine[@]}" "$windows/src/tolvane.exe" "configuración.json") &
player=$!
sleep 1
# Wait until the demo has faded in (row 64 is at 4 s), then look.
for _ in $(seq 60); do
    [ "$(xdotool search --name "tolvane : spindrift" 2>/dev/null | head -n 1)" ] && break
    sleep 0.5
done
sleep 4
screenshot "$work/release.png"
status=0
wait "$player" || status=$?
seconds=$(( $(date +%s) - started ))
level=$(brightest "$work/release.png")
[ "$status" = 0 ] && pass "played to its end in ${seconds} s, exit 0" || fail "exit status $status"
awk -v l="$level" 'BEGIN { exit !(l > 0.1) }' && pass "picture not black (brightest $level)" ||
    fail "picture black (brightest $level)"

echo "== tolvane.exe in editing mode with the Linux test editor"
editing() {
    mkfifo "$work/editor-in"
    "$linux/tools/test_editor" <"$work/editor-in" >"$work/editor.log" 2>&1 9>&- &
    local editor=$!
    exec 3>"$work/editor-in"
    (cd "$demo" && exec timeout 120 "${wine[@]}" "$windows/src/tolvane.exe" "edición.json" 9>&-) &
    local player=$!
    for _ in $(seq 120); do
        grep -q "requested: caption.y" "$work/editor.log" && break
        sleep 0.5
    done
    if ! grep -q "requested: caption.y" "$work/editor.log"; then
        fail "the player did not link to the editor"
        cat "$work/editor.log"
    else
        pass "linked; every track requested"
        sleep 2
        screenshot "$work/editing-before.png"
        for track in fade tint.x tint.y tint.z; do
            index=$(sed -n "s/^\* track \([0-9]*\) requested: $track\$/\1/p" "$work/editor.log" | tail -n 1)
            echo "key $index 0 1 0" >&3
        done
        sleep 3
        screenshot "$work/editing-after.png"
        changed=$(compare -metric AE "$work/editing-before.png" "$work/editing-after.png" null: 2>&1 || true)
        [ "${changed%% *}" -gt 10000 ] 2>/dev/null && pass "keys from the editor changed $changed pixels" ||
            fail "keys from the editor changed only $changed pixels"
    fi
    echo quit >&3
    exec 3>&-
    window=$(xdotool search --name "tolvane : spindrift" 2>/dev/null | head -n 1 || true)
    if [ -n "$window" ]; then
        xdotool windowfocus --sync "$window" key Escape 2>/dev/null || true
    fi
    local status=0
    wait "$player" || status=$?
    [ "$status" = 0 ] && pass "closed with Escape, exit 0" || fail "editing mode: exit status $status"
    wait "$editor" || true
}
# The editor port is shared with every other run on this machine: hold its
# lock while listening on it.
exec 9>/tmp/tolvane-port-1338.lock
flock 9
editing
flock -u 9
exec 9>&-

echo "== tolvane-capture.exe against the Linux capture"
range=(--size 320x240 --fps 10 --from 4 --to 5)
(cd "$demo" && "$linux/tools/tolvane-capture" "configuración.json" --out "$work/linux-frames" "${range[@]}" \
    >"$work/capture-linux.log" 2>&1) || { fail "Linux capture"; cat "$work/capture-linux.log"; }
(cd "$demo" && timeout 300 "${wine[@]}" "$windows/tools/tolvane-capture.exe" "configuración.json" \
    --out "$work/windows-frames" "${range[@]}" >"$work/capture-windows.log" 2>&1) ||
    { fail "Windows capture"; cat "$work/capture-windows.log"; }
frames=$(cd "$work/linux-frames" 2>/dev/null && ls ./*.png 2>/dev/null | wc -l)
same=0
for frame in "$work"/linux-frames/*.png; do
    cmp -s "$frame" "$work/windows-frames/$(basename "$frame")" && same=$((same + 1))
done
[ "$frames" -gt 0 ] && [ "$same" = "$frames" ] && pass "$same of $frames PNG frames identical byte for byte" ||
    fail "$same of $frames PNG frames identical"
if cmp -s "$work/linux-frames/audio.wav" "$work/windows-frames/audio.wav"; then
    pass "the WAV is identical"
else
    fail "the WAVs differ"
fi

if [ -n "${TOLVANE_WINDOWS_SCREENSHOTS:-}" ]; then
    mkdir -p "$TOLVANE_WINDOWS_SCREENSHOTS"
    cp "$work"/*.png "$TOLVANE_WINDOWS_SCREENSHOTS/"
fi
[ "$failures" = 0 ]
