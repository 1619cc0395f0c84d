#!/usr/bin/env python3
"""Writes the demo's sync track files from the key lists below.

    python3 examples/scripts/make_tracks.py

Every key is (row, value, interpolation): the interpolation shapes the way
from this key to the next one. Rows come from bars and beats through row(),
with the BPM and rows per beat of examples/demo/configuration.json (120 BPM,
8 rows a beat: a bar is 32 rows and lasts 2 seconds).

The tune's sections, in bars:  0-4 intro   4-12 build (riser 10-12)
   12-20 drop   20-26 breakdown (riser 24-26)   26-28 last drop   28-30 outro

The files (sync_<track>.track) land next to the configuration, where the
player looks for them in release mode and, without an editor, in editing
mode too. Once the editor has saved the tracks, those files replace these.
"""
import json
import math
import os
import struct

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo")

with open(os.path.join(DEMO, "configuration.json")) as f:
    _config = json.load(f)
RPB = _config["sync"]["RPB"]               # rows per beat

STEP, LINEAR, SMOOTH, RAMP = 0, 1, 2, 3    # hold, straight, ease in-out, ease in

def row(bar, beat=0.0):
    """The row at which a bar (4 beats) plus some beats begins."""
    return round((bar * 4 + beat) * RPB)

def beats(first_bar, last_bar, every=1):
    """Rows of every beat from first_bar up to (not including) last_bar."""
    return [row(first_bar, b) for b in range(0, (last_bar - first_bar) * 4, every)]

# ------------------------------------------------------------ camera flight
# cam.x is the distance flown. One plate tile is 2*pi/3 long (PLATES in the
# shader), so a speed in tiles a bar of 4 sends a ring of light past on
# every beat.
TILE = 2 * math.pi / 3
SPEED = [  # (from bar, tiles a bar)
    (0, 0.5), (4, 1), (8, 2), (10, 3), (12, 4), (20, 1), (24, 2), (26, 4), (28, 1), (30, 1),
]
def flight():
    keys, distance = [], 0.0
    for (bar, speed), (next_bar, _) in zip(SPEED, SPEED[1:]):
        keys.append((row(bar), distance * TILE, LINEAR))
        distance += speed * (next_bar - bar)
    keys.append((row(SPEED[-1][0]), distance * TILE, STEP))
    return keys

# cam.y is the roll. A slow sway in the build; in the drops the tunnel
# turns by a sixth (one corner of the hexagon) on the first beat of every
# bar; the breakdown drifts round.
def roll():
    keys = [(row(0), 0.0, STEP), (row(4), 0.0, SMOOTH), (row(6), 0.15, SMOOTH),
            (row(8), -0.15, SMOOTH), (row(10), 0.15, SMOOTH)]
    angle = 0.0
    def turns(first_bar, last_bar):
        nonlocal angle
        for bar in range(first_bar, last_bar):
            keys.append((row(bar), angle, SMOOTH))
            angle += (1 if bar % 4 < 2 else -1) * math.pi / 3
            keys.append((row(bar, 1), angle, STEP))
    turns(12, 20)
    keys.append((row(20), angle, LINEAR))
    angle += math.pi / 2                     # a quarter turn through the breakdown
    turns(26, 28)
    keys += [(row(28), angle, SMOOTH), (row(30), angle + 0.3, STEP)]
    return keys

# ------------------------------------------------------------ light
COLD = (0.25, 0.45, 1.0)
TEAL = (0.15, 0.8, 0.85)
WHITE = (1.0, 0.9, 0.85)
MAGENTA = (1.0, 0.3, 0.55)
AMBER = (1.0, 0.55, 0.2)
VIOLET = (0.55, 0.3, 1.0)
DEEP = (0.2, 0.3, 0.9)

TINT = [  # (row, colour, interpolation)
    (row(0), COLD, STEP),
    (row(4), COLD, SMOOTH), (row(8), TEAL, STEP),       # build: cold to teal
    (row(10), TEAL, RAMP), (row(12) - 1, WHITE, STEP),  # riser: bleach out
    (row(12), MAGENTA, STEP), (row(16), AMBER, STEP),   # drop: hard cuts
    (row(20), VIOLET, SMOOTH), (row(24), DEEP, RAMP),   # breakdown, riser
    (row(26), MAGENTA, STEP), (row(27), AMBER, STEP),   # last drop
    (row(28), AMBER, SMOOTH), (row(30), COLD, STEP),    # outro
]

def flashes():
    """1 on a beat, decaying in half a beat; ramps up through the risers."""
    keys = []
    for r in beats(4, 10):                       # build: soft pulses
        keys += [(r, 0.45, LINEAR), (r + RPB // 2, 0.0, STEP)]
    keys += [(row(10), 0.0, RAMP), (row(12) - 1, 0.9, STEP)]
    for bar in list(range(12, 20)) + list(range(26, 28)):
        for beat in range(4):                    # drops: every beat, the bar's first harder,
            r = row(bar, beat)                   # and the crash that opens a drop hardest
            peak = 1.6 if bar in (12, 26) and beat == 0 else 1.0 if beat == 0 else 0.7
            keys += [(r, peak, LINEAR), (r + RPB // 2, 0.08, LINEAR), (r + RPB - 1, 0.0, STEP)]
    keys += [(row(20), 0.0, STEP), (row(24), 0.0, RAMP), (row(26) - 1, 1.0, STEP)]
    keys += [(row(28), 1.0, LINEAR), (row(29), 0.0, STEP)]
    return sorted(keys)

FADE = [
    (row(0), 0.0, SMOOTH), (row(2), 1.0, STEP),         # fade in over the first bars
    (row(28, 2), 1.0, SMOOTH), (row(30), 0.0, STEP),    # and out at the end
]

WARP = [  # 0 round, 1 a twisted hexagon
    (row(0), 0.0, STEP),
    (row(10), 0.0, RAMP), (row(12), 1.0, STEP),        # the riser bends it
    (row(20), 1.0, SMOOTH), (row(22), 0.0, STEP),      # breakdown: round again
    (row(24), 0.0, RAMP), (row(26), 1.0, STEP),
    (row(28), 1.0, SMOOTH), (row(30), 0.0, STEP),
]

# Captions: the line of letters.png, and its opacity.
CAPTION_LINE = [(row(0), 0, STEP), (row(2), 1, STEP), (row(20), 2, STEP), (row(28), 3, STEP)]
CAPTION_OPACITY = [
    (row(0, 2), 0.0, SMOOTH), (row(1), 1.0, STEP), (row(1, 3), 1.0, SMOOTH), (row(2), 0.0, STEP),  # TOLVANE PRESENTS
    (row(2), 0.0, SMOOTH), (row(2, 2), 1.0, STEP), (row(3, 2), 1.0, SMOOTH), (row(4), 0.0, STEP),  # SPINDRIFT
    (row(21), 0.0, SMOOTH), (row(22), 1.0, STEP), (row(23), 1.0, SMOOTH), (row(24), 0.0, STEP),   # greetings
    (row(28), 0.0, SMOOTH), (row(28, 2), 1.0, STEP),                                           # thanks
]

def split(keys):
    """Turns keys of colours into one key list per component."""
    return [[(r, value[i], kind) for r, value, kind in keys] for i in range(3)]

def tracks():
    flight_keys, roll_keys = flight(), roll()
    tint = split(TINT)
    return {
        "cam.x": flight_keys, "cam.y": roll_keys,
        "tint.x": tint[0], "tint.y": tint[1], "tint.z": tint[2],
        "flash": flashes(),
        "fade": FADE,
        "warp": WARP,
        "caption.x": CAPTION_LINE, "caption.y": CAPTION_OPACITY,
    }

def write_track(name, keys):
    """sync_<name>.track: int32 key count, then per key int32 row, float32
    value and one byte of interpolation, little-endian, rows ascending."""
    # Where two keys share a row, the one listed later wins.
    merged = {}
    for r, value, kind in keys:
        merged[r] = (value, kind)
    data = struct.pack("<i", len(merged))
    for r in sorted(merged):
        value, kind = merged[r]
        data += struct.pack("<ifB", r, value, kind)
    path = os.path.join(DEMO, "sync_%s.track" % name)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %-28s %3d keys" % (os.path.basename(path), len(merged)))

if __name__ == "__main__":
    for name, keys in tracks().items():
        write_track(name, keys)
