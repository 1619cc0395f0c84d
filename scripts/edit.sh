#!/usr/bin/env bash
# Installs what the project needs, builds the player and the editor, and opens
# the bundled demo in editing mode with tolvane-editor beside it. Close the
# editor to end both. On a machine without a display both run on a virtual
# display for a while (EDIT_SECONDS, 30 by default) and screenshots are
# written to out/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=lib/demo.sh
source "$root/scripts/lib/demo.sh"

build_targets tolvane tolvane-editor

player="$root/build/src/tolvane"
editor="$root/build/tools/tolvane-editor"
demo="$root/examples/demo"
configuration="${1:-configuration-editing.json}"
cd "$demo"

# Puts the editor's window to the right of the player's 800-pixel window
# (needed where no window manager places them).
place_editor() {
    local pid=$1 window=
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) && [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] && xdotool windowmove "$window" 810 0 2>/dev/null || true
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$editor" "$configuration" &
    editor_pid=$!
    place_editor "$editor_pid"
    "$player" "$configuration" &
    player_pid=$!
    trap 'kill $player_pid 2>/dev/null' EXIT
    wait "$editor_pid"
    exit 0
fi

# No display: run both on a virtual one and take a screenshot now and then.
shots="$root/out/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
start_virtual_display 1820x730x24

echo "No display found: editing the demo on a virtual display ($DISPLAY)."
"$editor" "$configuration" &
editor_pid=$!
place_editor "$editor_pid"
SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}" "$player" "$configuration" &
player_pid=$!
trap 'kill $player_pid $editor_pid 2>/dev/null; kill $xvfb 2>/dev/null' EXIT

seconds="${EDIT_SECONDS:-30}"
for elapsed in $(seq 5 5 "$seconds"); do
    sleep 5
    import -window root "$shots/edit-$(printf '%03d' "$elapsed")s.png" 2>/dev/null || true
done
echo "Screenshots of the player and the editor: $shots/"
ls "$shots"
