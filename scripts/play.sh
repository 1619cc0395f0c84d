#!/usr/bin/env bash
# Installs what the project needs, builds the player and plays the bundled
# demo (release mode: full screen, it closes itself when the music ends).
# On a machine without a display the demo plays on a virtual display instead,
# and screenshots taken while it plays are written to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=lib/demo.sh
source "$root/scripts/lib/demo.sh"

build_targets tolvane

player="$root/build/src/tolvane"
demo="$root/examples/demo"
configuration="${1:-configuration.json}"
cd "$demo"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$player" "$configuration"
fi

# No display: play on a virtual one and take a screenshot every few seconds.
shots="$root/out/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
start_virtual_display 800x600x24
trap 'kill $xvfb 2>/dev/null' EXIT

echo "No display found: playing the demo on a virtual display ($DISPLAY)."
SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}" "$player" "$configuration" &
pid=$!
start=$(date +%s)
while kill -0 "$pid" 2>/dev/null; do
    sleep 5
    kill -0 "$pid" 2>/dev/null || break
    elapsed=$(( $(date +%s) - start ))
    import -window root "$shots/demo-$(printf '%03d' "$elapsed")s.png" 2>/dev/null || true
done
status=0
wait "$pid" || status=$?
echo "The demo played to its end (exit status $status)."
echo "Screenshots taken while it played: $shots/"
ls "$shots"
exit "$status"
