#!/usr/bin/env python3
"""Synthesises the demo's tune with sox and encodes it to MP3 with lame.

    python3 examples/scripts/make_tune.py      (writes examples/demo/tune.mp3)

The song is 30 bars of 4/4 at 120 BPM, so one bar lasts exactly 2 seconds
and bar b starts at 2*b seconds. Every instrument is a list of notes on a grid
of sixteenth notes (16 steps a bar, 6000 samples a step at 48 kHz); each
note is rendered once by sox, cut to its slot, and the slots are joined end
to end, so every hit lands on its exact sample. The instruments are then
mixed, mastered and resampled to 44.1 kHz.

Sections (bars):  0-4 intro   4-12 build   12-20 drop   20-26 breakdown
                  26-28 last drop   28-30 outro (the last chord rings on)
"""
import os
import shutil
import subprocess
import sys
import tempfile

RATE = 48000
BPM = 120
STEP = RATE * 60 // BPM // 4          # samples in a sixteenth note: 6000
BARS = 30
LENGTH = 61.0                         # seconds: 30 bars and the last ring

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "demo", "tune.mp3")

# Chords, one a bar, looping every four bars: Am, F, C, G.
CHORDS = [["A3", "C4", "E4"], ["F3", "A3", "C4"], ["G3", "C4", "E4"], ["G3", "B3", "D4"]]
ROOTS = ["A1", "F1", "C2", "G1"]

def hz(note):
    """Frequency of a note name such as "A4" (440 Hz) or "C#3"."""
    names = {"C": -9, "D": -7, "E": -5, "F": -4, "G": -2, "A": 0, "B": 2}
    semis = names[note[0]] + (1 if "#" in note else 0) + 12 * (int(note[-1]) - 4)
    return 440.0 * 2 ** (semis / 12)

def up(note, octaves):
    return note[:-1] + str(int(note[-1]) + octaves)

# Sounds: sox synth arguments (and effects) for one hit or note.
def kick():
    return "synth 0.32 sine 160-44 fade q 0.001 0.32 0.3 gain -1"

def hat(length=0.045):
    return "synth %g whitenoise highpass 7500 fade q 0.001 %g %g" % (length, length, length - 0.002)

def clap():
    return ("synth 0.22 whitenoise synth 0.22 sine mix 190-150 bandpass 1600 1.2q "
            "fade q 0.001 0.22 0.2")

def bass(note, length, cutoff):
    f = hz(note)
    return ("synth %g sawtooth %.3f synth %g sine mix %.3f lowpass %d overdrive 6 "
            "fade q 0.004 %g %g" % (length, f * 2, length, f, cutoff, length, length * 0.6))

def pluck(note, cutoff):
    return ("synth 0.2 square %.3f lowpass %d fade q 0.002 0.2 0.18"
            % (hz(note), cutoff))

def chord(notes, length, cutoff):
    voices = ""
    for i, n in enumerate(notes):
        for detune in (0.997, 1.003):
            voices += " synth %g sawtooth %s%.3f" % (length, "" if not voices else "mix ", hz(n) * detune)
    return voices + " lowpass %d fade h 0.25 %g 0.35" % (cutoff, length)

def riser(length):
    return ("synth %g pinknoise synth %g sawtooth mix 110-1760 highpass 300 "
            "fade p %g %g 0.05" % (length, length, length - 0.1, length))

def crash():
    return "synth 2 whitenoise highpass 5000 fade l 0.001 2 1.99 gain -4"

# The score: for every instrument a list of (step, steps long, sound).
def bar_steps(bar):
    return bar * 16

def compose():
    score = {name: [] for name in ("kick", "hats", "clap", "bass", "arp", "pad", "fx")}
    for bar in range(BARS):
        chord_notes = CHORDS[bar % 4]
        root = ROOTS[bar % 4]
        s = bar_steps(bar)
        build = 4 <= bar < 12
        drop = 12 <= bar < 20 or 26 <= bar < 28
        breakdown = 20 <= bar < 26

        # Kick: four on the floor from the build on; the build's last half
        # bar and the breakdown hold their breath.
        if build or drop:
            for beat in range(4):
                if bar == 11 and beat >= 2:
                    continue
                score["kick"].append((s + beat * 4, 4, kick()))
        if bar == 28:
            score["kick"].append((s, 4, kick()))

        # Hats: off-beat eighths in the second half of the build, sixteenths
        # with open off-beats in the drops.
        if 8 <= bar < 12:
            for beat in range(4):
                score["hats"].append((s + beat * 4 + 2, 2, hat()))
        if drop:
            for step in range(16):
                open_hat = step % 4 == 2
                score["hats"].append((s + step, 1, hat(0.12 if open_hat else 0.03)))

        # Clap on two and four in the drops; a snare roll closes bars 11 and 25.
        if drop:
            score["clap"] += [(s + 4, 4, clap()), (s + 12, 4, clap())]
        if bar in (11, 25):
            for step in range(0, 16, 2 if bar == 25 else 1):
                gain = -18 + step
                score["clap"].append((s + step, 1 if bar == 11 else 2,
                                      clap() + " trim 0 0.06 gain %d" % gain))

        # Bass: rolling off-beats, long roots in the breakdown, one last note.
        if 8 <= bar < 20 or drop:
            cutoff = 400 + 200 * (bar - 8) if bar < 12 else 1400
            for beat in range(4):
                score["bass"].append((s + beat * 4 + 2, 2, bass(root, 0.22, cutoff)))
        if breakdown:
            score["bass"].append((s, 16, bass(root, 2.0, 300)))
        if bar == 28:
            score["bass"].append((s, 32, bass("A1", 4.0, 500)))

        # Arpeggio: sixteenths over the chord, opening bar by bar in the
        # build; eighths in the breakdown, carried by the echo.
        tones = chord_notes + [up(chord_notes[0], 1)]
        order = [0, 1, 2, 3, 2, 1, 3, 1]
        if 2 <= bar < 20 or 26 <= bar < 28:
            cutoff = min(700 + 300 * (bar - 2), 3600)
            for step in range(16):
                score["arp"].append((s + step, 1, pluck(up(tones[order[step % 8]], 1), cutoff)))
        if breakdown:
            for step in range(0, 16, 2):
                score["arp"].append((s + step, 2, pluck(up(tones[order[(step // 2) % 8]], 1), 1800)))

        # Pad: the chord of every bar, darker in the intro, and one long
        # A minor to end on.
        if bar < 28:
            cutoff = 900 if bar < 4 else 1500 if not breakdown else 2200
            score["pad"].append((s, 16, chord(chord_notes, 2.0, cutoff)))
        if bar == 28:
            score["pad"].append((s, 48, chord(CHORDS[0] + ["A2"], 5.0, 1500)))

        # Risers into the drops, a crash on their first beat.
        if bar in (10, 24):
            score["fx"].append((s, 32, riser(4.0)))
        if bar in (12, 26):
            score["fx"].append((s, 32, crash()))
    return score

# Per-instrument effects and levels in the mix (dB).
TRACK_EFFECTS = {
    "kick": ("", -2),
    "hats": ("", -16),
    "clap": ("reverb 30 50 40", -12),
    "bass": ("", -9),
    "arp": ("echo 0.8 0.8 375 0.35 750 0.18 reverb 40 50 70", -15),
    "pad": ("chorus 0.7 0.9 55 0.4 0.25 2 -t reverb 60 50 100", -13),
    "fx": ("reverb 50 50 80", -17),
}

def sox(*args):
    subprocess.run(["sox", "-V1"] + list(args), check=True)

def render(work, score):
    """Renders every instrument to one WAV of its own; returns the paths."""
    fmt = ["-r", str(RATE), "-c", "1", "-e", "float", "-b", "32"]
    cache = {}
    def sound(spec, steps):
        key = (spec, steps)
        if key not in cache:
            path = os.path.join(work, "s%04d.wav" % len(cache))
            effects = spec.split() if spec else []
            sox("-n", *fmt, path, *effects, "pad", "0", "10", "trim", "0", "%ds" % (steps * STEP))
            cache[key] = path
        return cache[key]

    paths = []
    for name, notes in score.items():
        notes.sort()
        parts, at = [], 0
        for step, steps, spec in notes:
            assert step >= at, "%s: overlapping notes at step %d" % (name, step)
            if step > at:
                parts.append(sound("", step - at))
            parts.append(sound(spec, steps))
            at = step + steps
        joined = os.path.join(work, name + "-dry.wav")
        # sox joins at most a few hundred files comfortably: join in batches.
        batches = []
        for i in range(0, len(parts), 200):
            batch = os.path.join(work, "%s-%d.wav" % (name, i))
            sox(*parts[i:i + 200], batch) if len(parts[i:i + 200]) > 1 else shutil.copy(parts[i], batch)
            batches.append(batch)
        sox(*batches, joined) if len(batches) > 1 else shutil.copy(batches[0], joined)
        effects, level = TRACK_EFFECTS[name]
        wet = os.path.join(work, name + ".wav")
        sox(joined, "-c", "2", wet, "remix", "1", "1", *effects.split(), "gain", str(level))
        paths.append(wet)
    return paths

def main():
    for tool in ("sox", "lame"):
        if not shutil.which(tool):
            sys.exit("make_tune.py needs %s" % tool)
    work = tempfile.mkdtemp(prefix="tune-")
    try:
        tracks = render(work, compose())
        mix = os.path.join(work, "mix.wav")
        mixed = []
        for path in tracks:
            mixed += ["-v", "1", path]
        sox("-m", *mixed, mix, "trim", "0", str(LENGTH),
            "compand", "0.005,0.15", "6:-30,-24,-8", "-4", "-12", "0.05",
            "fade", "t", "0", str(LENGTH), "1.5", "gain", "-n", "-1", "rate", "44100")
        final = os.path.join(work, "final.wav")
        sox(mix, "-b", "16", final, "dither")
        subprocess.run(["lame", "--quiet", "-b", "128", "-q", "2", "--tt", "Spindrift",
                        "--ta", "tolvane", final, OUT], check=True)
    finally:
        shutil.rmtree(work)
    print("wrote", os.path.normpath(OUT))

if __name__ == "__main__":
    main()
