#!/usr/bin/env bash
# Soaks the player in editing mode: a random test editor sends it key edits,
# deletions, seeks, pauses and saves at 1,000 commands a second for N minutes
# (10 by default) under a private virtual display, while its resident memory
# and CPU use are sampled every 10 seconds. Exits 0 when the player stayed
# up, kept its one link, wrote nothing to its output streams and its memory
# stayed flat after the first minute.
#
#   tools/soak/editor_soak.sh [BUILD_DIR] [MINUTES] [RATE]
#
# e.g. after a build in ./build:   tools/soak/editor_soak.sh build 10
# The editor listens on 127.0.0.1:1338; when something else may use that port
# on the machine, give the run a private loopback:
#   unshare -n sh -c 'ip link set lo up; tools/soak/editor_soak.sh build 10'
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
minutes=${2:-10}
rate=${3:-1000}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
exec "$root/tests/support/with-display.sh" "$build/tools/editor_soak" \
    --player "$build/src/tolvane" --minutes "$minutes" --rate "$rate"
