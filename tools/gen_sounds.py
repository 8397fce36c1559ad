#!/usr/bin/env python3
"""Makes the game's 22 sound effects, share/zbx3d/sounds/0.wav .. 21.wav.

Every sound is synthesised here from sine waves, noise and simple filters:
mono, 16-bit PCM at 22050 Hz, normalised to a fixed peak level. One-shot
sounds start and end at silence; the three loops (10, 16, 18) are exactly
periodic over their length or have their ends crossfaded, so they repeat
without a click. The output is the same on every run (seeded noise).

Also writes sound/tests/sound_manifest.txt, one line per sound:
    number frames peak loop name
which the sound tests compare with the files.

Usage: tools/gen_sounds.py [repository root]   (default: this file's ../)
"""

import math
import os
import random
import struct
import sys

RATE = 22050
TWO_PI = 2.0 * math.pi


def frames(seconds):
    return int(round(seconds * RATE))


def db_to_peak(db):
    return int(round(32767 * 10.0 ** (db / 20.0)))


# ---------------------------------------------------------------- sources


def tone(seconds, freq, harmonics=((1, 1.0),), phase=0.0):
    """A sum of harmonics of freq, which may be a number or a function of the
    time in seconds (the phase is integrated, so sweeps stay smooth)."""
    n = frames(seconds)
    out = [0.0] * n
    ph = phase
    fixed = not callable(freq)
    for i in range(n):
        f = freq if fixed else freq(i / RATE)
        s = 0.0
        for k, a in harmonics:
            if f * k < RATE * 0.45:  # nothing above Nyquist: no aliasing
                s += a * math.sin(ph * k)
        out[i] = s
        ph += TWO_PI * f / RATE
    return out


def noise(n, seed):
    rng = random.Random(seed)
    return [rng.uniform(-1.0, 1.0) for _ in range(n)]


def silence(seconds):
    return [0.0] * frames(seconds)


# ---------------------------------------------------------------- filters


def lowpass(x, cutoff):
    """One-pole low-pass; cutoff in Hz, or a function of time."""
    out = [0.0] * len(x)
    y = 0.0
    fixed = not callable(cutoff)
    a = 1.0 - math.exp(-TWO_PI * cutoff / RATE) if fixed else 0.0
    for i, v in enumerate(x):
        if not fixed:
            a = 1.0 - math.exp(-TWO_PI * cutoff(i / RATE) / RATE)
        y += a * (v - y)
        out[i] = y
    return out


def highpass(x, cutoff):
    low = lowpass(x, cutoff)
    return [v - l for v, l in zip(x, low)]


def bandpass(x, centre, q):
    """Resonant band-pass (constant peak gain); centre in Hz or a function of
    time, coefficients refreshed every 16 samples."""
    out = [0.0] * len(x)
    x1 = x2 = y1 = y2 = 0.0
    b0 = b2 = a1 = a2 = 0.0
    for i, v in enumerate(x):
        if i % 16 == 0:
            f = centre(i / RATE) if callable(centre) else centre
            f = min(max(f, 20.0), RATE * 0.45)
            w = TWO_PI * f / RATE
            alpha = math.sin(w) / (2.0 * q)
            a0 = 1.0 + alpha
            b0, b2 = alpha / a0, -alpha / a0
            a1, a2 = -2.0 * math.cos(w) / a0, (1.0 - alpha) / a0
        y = b0 * v + b2 * x2 - a1 * y1 - a2 * y2
        x2, x1 = x1, v
        y2, y1 = y1, y
        out[i] = y
    return out


# ---------------------------------------------------------------- shaping


def envelope(x, fn):
    return [v * fn(i / RATE) for i, v in enumerate(x)]


def decay(tau, attack=0.002):
    """Fast linear attack, then exponential decay with time constant tau."""
    def fn(t):
        if t < attack:
            return t / attack
        return math.exp(-(t - attack) / tau)
    return fn


def mix(*parts):
    """Sums (gain, samples, start seconds) triples into one signal. Each part
    is faded out over its last 5 ms, so a part cut off while still sounding
    does not click."""
    n = max(frames(start) + len(x) for _, x, start in parts)
    out = [0.0] * n
    tail = frames(0.005)
    for gain, x, start in parts:
        o = frames(start)
        for i, v in enumerate(x):
            left = len(x) - 1 - i
            w = 1.0 if left >= tail else 0.5 - 0.5 * math.cos(math.pi * left / tail)
            out[o + i] += gain * v * w
    return out


def fade_ends(x, fade_in=0.002, fade_out=0.012):
    """Raised-cosine fades so a one-shot starts and ends at silence."""
    x = list(x)
    n_in, n_out = frames(fade_in), frames(fade_out)
    for i in range(min(n_in, len(x))):
        x[i] *= 0.5 - 0.5 * math.cos(math.pi * i / n_in)
    for i in range(min(n_out, len(x))):
        x[len(x) - 1 - i] *= 0.5 - 0.5 * math.cos(math.pi * i / n_out)
    x[0] = 0.0
    x[-1] = 0.0
    return x


def crossfade_loop(x, length):
    """Folds the len(x) - length samples past the loop's end over its start
    (equal power), so sample length-1 runs on into sample 0 of the next
    pass. Meant for noise, whose two ends are unrelated."""
    fade = len(x) - length
    out = list(x[:length])
    for i in range(fade):
        w = 0.5 * math.pi * i / fade
        out[i] = x[i] * math.sin(w) + x[length + i] * math.cos(w)
    return out


def normalise(x, peak_db):
    peak = db_to_peak(peak_db)
    top = max(abs(v) for v in x)
    scale = peak / top
    samples = [int(round(v * scale)) for v in x]
    return samples, peak


# ---------------------------------------------------------------- notes


def note(name):
    """Frequency of a note such as "C5" or "F#4" (A4 = 440 Hz)."""
    steps = {"C": -9, "D": -7, "E": -5, "F": -4, "G": -2, "A": 0, "B": 2}
    semis = steps[name[0]]
    rest = name[1:]
    if rest.startswith("#"):
        semis += 1
        rest = rest[1:]
    return 440.0 * 2.0 ** ((semis + 12 * (int(rest) - 4)) / 12.0)


BRASS = ((1, 1.0), (2, 0.6), (3, 0.45), (4, 0.3), (5, 0.2), (6, 0.12), (7, 0.08))
SQUARE = tuple((k, 1.0 / k) for k in range(1, 30, 2))
SAW = tuple((k, 1.0 / k) for k in range(1, 40))


def plucked(freq, seconds, harmonics, tau, attack=0.01):
    return envelope(tone(seconds, freq, harmonics), decay(tau, attack))


# ---------------------------------------------------------------- the sounds


def shot():
    # A quick laser chirp: bright tone falling two octaves and a half.
    body = tone(0.22, lambda t: 300.0 + 1700.0 * math.exp(-t / 0.05),
                ((1, 1.0), (2, 0.35), (3, 0.2)))
    body = envelope(body, decay(0.07, 0.001))
    hiss = envelope(highpass(noise(frames(0.05), 0), 2500.0), decay(0.012, 0.001))
    return mix((1.0, body, 0), (0.25, hiss, 0))


def fanfare():
    # Rising brass arpeggio ending on a held major chord with vibrato.
    parts = []
    for i, name in enumerate(("C5", "E5", "G5")):
        parts.append((0.8, plucked(note(name), 0.2, BRASS, 0.12, 0.01), 0.13 * i))
    chord_start = 0.39
    length = 1.2
    for name, gain in (("C6", 0.8), ("E5", 0.45), ("G5", 0.45), ("C5", 0.4)):
        f0 = note(name)
        held = tone(length, lambda t, f0=f0: f0 * (1.0 + 0.006 * math.sin(TWO_PI * 5.5 * t)), BRASS)
        held = envelope(held, lambda t: min(1.0, t / 0.03) * (1.0 if t < 0.5 else
                                                               math.exp(-(t - 0.5) / 0.25)))
        parts.append((gain, held, chord_start))
    return fade_ends(mix(*parts), 0.002, 0.05)


def explosion(seconds, tau, bright, dark, boom_hz, boom_gain, seed, crackle):
    """Noise whose colour darkens as it dies, over a low boom, with sparse
    crackles: the bigger the explosion, the longer, darker and deeper."""
    n = frames(seconds)
    body = lowpass(noise(n, seed), lambda t: dark + (bright - dark) * math.exp(-t / (tau * 0.6)))
    body = lowpass(body, lambda t: dark + (bright - dark) * math.exp(-t / (tau * 0.6)))
    body = envelope(body, decay(tau, 0.003))
    boom = tone(seconds, lambda t: boom_hz * (0.6 + 0.4 * math.exp(-t / 0.15)), ((1, 1.0), (2, 0.3)))
    boom = envelope(boom, decay(tau * 0.8, 0.004))
    rng = random.Random(seed + 1)
    pops = [0.0] * n
    for _ in range(crackle):
        at = int(rng.uniform(0.02, seconds * 0.6) * RATE)
        level = rng.uniform(0.3, 1.0) * math.exp(-at / RATE / tau)
        for k in range(frames(0.004)):
            if at + k < n:
                pops[at + k] += level * rng.uniform(-1.0, 1.0) * (1.0 - k / frames(0.004))
    pops = lowpass(pops, 3500.0)  # debris, not digital clicks
    return fade_ends(mix((1.0, body, 0), (boom_gain, boom, 0), (1.0, pops, 0)), 0.001, 0.08)


def object_explosion():
    return explosion(0.6, 0.12, 4000.0, 400.0, 110.0, 0.35, 2, 6)


def ship_explosion():
    return explosion(1.5, 0.4, 2500.0, 180.0, 60.0, 0.6, 3, 25)


def beat(freq):
    # A soft low thump: a falling sine, with a muffled knock on top so that
    # small speakers, which cannot give the fundamental, still carry it.
    body = tone(0.2, lambda t: freq * (1.0 + 0.5 * math.exp(-t / 0.02)),
                ((1, 1.0), (2, 0.3), (3, 0.12)))
    body = envelope(body, decay(0.05, 0.004))
    knock = envelope(lowpass(lowpass(noise(frames(0.03), int(freq)), 500.0), 500.0),
                     decay(0.006, 0.001))
    return fade_ends(mix((1.0, body, 0), (1.5, knock, 0)), 0.001, 0.03)


def refusal():
    # Two short harsh buzzes, "eh-eh": detuned square waves beating.
    def buzz():
        a = tone(0.12, 110.0, SQUARE)
        b = tone(0.12, 116.5, SQUARE)
        x = lowpass([p + q for p, q in zip(a, b)], 3000.0)
        return fade_ends(x, 0.004, 0.015)
    return mix((1.0, buzz(), 0), (1.0, buzz(), 0.17))


def bell(freq, seconds, tau):
    # Inharmonic partials of a small bell, the high ones dying first.
    parts = []
    for ratio, gain, t in ((1.0, 1.0, 1.0), (2.76, 0.4, 0.5), (5.4, 0.2, 0.25), (8.93, 0.1, 0.15)):
        parts.append((gain, plucked(freq * ratio, seconds, ((1, 1.0),), tau * t, 0.002), 0))
    return mix(*parts)


def chime():
    return fade_ends(mix((1.0, bell(note("E6"), 0.7, 0.25), 0),
                         (1.0, bell(note("B6"), 0.6, 0.25), 0.09)), 0.001, 0.05)


def deflection():
    # An electric "zing": a rising ring-modulated tone over a hiss burst.
    sweep = tone(0.32, lambda t: 500.0 + 1400.0 * (t / 0.32), ((1, 1.0), (3, 0.3)))
    ring = tone(0.32, 61.0)
    zing = envelope([a * (0.6 + 0.4 * b) for a, b in zip(sweep, ring)], decay(0.09, 0.003))
    hiss = envelope(bandpass(noise(frames(0.32), 8), 3500.0, 1.5), decay(0.04, 0.001))
    return fade_ends(mix((1.0, zing, 0), (0.8, hiss, 0)), 0.001, 0.03)


def menu_click():
    body = plucked(2200.0, 0.035, ((1, 1.0), (2, 0.3)), 0.006, 0.0005)
    tick = envelope(highpass(noise(frames(0.01), 9), 3000.0), decay(0.002, 0.0002))
    return fade_ends(mix((1.0, body, 0), (0.4, tick, 0)), 0.0005, 0.005)


def shield_hum():
    # Every component has a whole number of cycles in the one-second loop.
    length = 1.0
    base = tone(length, 110.0, ((1, 1.0), (2, 0.5), (3, 0.35), (4, 0.15), (5, 0.1)))
    wobble = tone(length, 4.0)
    shimmer = tone(length, 880.0, ((1, 1.0), (3, 0.3)))
    slow = tone(length, 2.0)
    return [b * (0.8 + 0.2 * w) + 0.15 * s * (0.5 + 0.5 * q)
            for b, w, s, q in zip(base, wobble, shimmer, slow)]


def empty_shield():
    # A dull double click with a short falling blip: nothing there.
    def tick(seed):
        return envelope(lowpass(noise(frames(0.015), seed), 1500.0), decay(0.003, 0.0003))
    blip = plucked(lambda t: 500.0 - 1500.0 * t, 0.12, ((1, 1.0), (2, 0.2)), 0.03, 0.003)
    return fade_ends(mix((1.0, tick(11), 0), (0.8, tick(12), 0.06), (0.5, blip, 0.02)),
                     0.0005, 0.02)


def jingle():
    # Three quick rising notes, a bright square-ish lead.
    lead = ((1, 1.0), (3, 0.3), (5, 0.15), (2, 0.2))
    parts = [(1.0, plucked(note(name), 0.2, lead, 0.08, 0.005), 0.075 * i)
             for i, name in enumerate(("G5", "C6", "E6"))]
    parts.append((0.6, plucked(note("G6"), 0.25, lead, 0.09, 0.005), 0.225))
    return fade_ends(mix(*parts), 0.001, 0.03)


def thud():
    body = tone(0.3, lambda t: 50.0 + 90.0 * math.exp(-t / 0.03), ((1, 1.0), (2, 0.2)))
    body = envelope(body, decay(0.07, 0.002))
    knock = envelope(lowpass(lowpass(noise(frames(0.05), 13), 900.0), 900.0), decay(0.012, 0.001))
    return fade_ends(mix((1.0, body, 0), (0.9, knock, 0)), 0.0005, 0.03)


def program_start():
    # A power-up swell: a rising tone sweeps into a bright chord.
    sweep = tone(0.6, lambda t: 110.0 * 2.0 ** (2.0 * t / 0.6), SAW[:8])
    sweep = envelope(lowpass(sweep, 1800.0), lambda t: math.sin(math.pi * t / 0.6) ** 2)
    parts = [(0.6, sweep, 0)]
    for i, (name, gain) in enumerate((("A3", 0.5), ("E4", 0.45), ("A4", 0.45), ("C#5", 0.4),
                                      ("E5", 0.35))):
        pad = tone(1.1, note(name), ((1, 1.0), (2, 0.3), (3, 0.15)))
        pad = envelope(pad, lambda t: min(1.0, t / 0.08) * math.exp(-t / 0.45))
        parts.append((gain, pad, 0.45 + 0.04 * i))
    parts.append((0.2, bell(note("A6"), 0.8, 0.3), 0.6))
    return fade_ends(mix(*parts), 0.002, 0.08)


def swoosh():
    # Noise through a band that sweeps up and back down, swelling and fading.
    seconds = 0.8
    x = bandpass(noise(frames(seconds), 15),
                 lambda t: 300.0 + 2700.0 * math.sin(math.pi * t / seconds) ** 2, 2.0)
    return fade_ends(envelope(x, lambda t: math.sin(math.pi * t / seconds) ** 1.5), 0.002, 0.02)


def engine_drone():
    # Tonal part: whole cycles in the loop. Noise part: crossfaded ends.
    length = 1.0
    n = frames(length)
    # Two periods through the filter, keeping the settled second one.
    hum = tone(2 * length, 55.0, SAW[:12])
    throb = tone(2 * length, 8.0)
    hum = lowpass([h * (0.85 + 0.15 * t) for h, t in zip(hum, throb)], 600.0)[n:]
    # The filter settles within the extra half second run before the loop.
    lead = frames(0.5)
    rumble = lowpass(lowpass(noise(lead + n + frames(0.25), 16), 400.0), 400.0)
    rumble = crossfade_loop(rumble[lead:], n)
    return [h + 1.5 * r for h, r in zip(hum, rumble)]


def powerup_shot():
    # Two chirps a fifth apart with a fast tremolo: a richer shot.
    def chirp(top, bottom):
        return tone(0.3, lambda t: bottom + (top - bottom) * math.exp(-t / 0.07),
                    ((1, 1.0), (2, 0.3)))
    a = chirp(2400.0, 600.0)
    b = chirp(3600.0, 900.0)
    trem = tone(0.3, 30.0)
    x = [(p + 0.7 * q) * (0.7 + 0.3 * r) for p, q, r in zip(a, b, trem)]
    return fade_ends(envelope(x, decay(0.1, 0.002)), 0.001, 0.02)


def warp_sweep():
    # An endlessly rising tone: octave-spaced sines glide up one octave per
    # loop under a fixed bell-shaped loudness curve, so each partial ends
    # where the next one began. Carrying each partial's phase into the next
    # one's start makes the loop seamless; the tremolo has whole cycles.
    length = 2.0
    n = frames(length)
    f0 = 35.0
    count = 8
    centre, width = count / 2.0, 1.5
    out = [0.0] * n
    start_phase = 0.0
    for k in range(count):
        ph = start_phase
        for i in range(n):
            octave = k + i / n
            out[i] += math.exp(-((octave - centre) / width) ** 2) * math.sin(ph)
            ph += TWO_PI * f0 * 2.0 ** octave / RATE
        start_phase = ph % TWO_PI
    trem = tone(length, 6.0)
    return [v * (0.8 + 0.2 * t) for v, t in zip(out, trem)]


def nuke_launch(seed=19):
    # A rocket: a thunk, then roaring noise whose band climbs away.
    seconds = 1.0
    roar = bandpass(noise(frames(seconds), seed), lambda t: 250.0 + 1600.0 * (t / seconds) ** 1.5,
                    3.0)
    roar = envelope(roar, lambda t: min(1.0, t / 0.05) * math.exp(-t / 0.45))
    rumble = envelope(lowpass(noise(frames(seconds), seed + 1), 200.0),
                      lambda t: min(1.0, t / 0.02) * math.exp(-t / 0.3))
    thunk = envelope(tone(0.15, lambda t: 60.0 + 80.0 * math.exp(-t / 0.02)), decay(0.04, 0.002))
    return fade_ends(mix((2.0, roar, 0), (1.2, rumble, 0), (0.6, thunk, 0)), 0.001, 0.06)


def nuke_blast():
    # The biggest bang: a sharp crack, then a long, deep rolling rumble.
    seconds = 3.0
    crack = envelope(highpass(noise(frames(0.08), 20), 1000.0), decay(0.015, 0.0005))
    rumble = explosion(seconds, 0.9, 1200.0, 70.0, 38.0, 0.9, 21, 40)
    roll = tone(seconds, 0.7)  # slow swell in the rumble
    rumble = [r * (0.85 + 0.15 * w) for r, w in zip(rumble, roll)]
    return fade_ends(mix((0.6, crack, 0), (1.0, rumble, 0)), 0.0005, 0.15)


def distant_nuke_launch():
    # The launch heard from afar: muffled, softer onset, no thunk.
    x = nuke_launch(seed=23)
    x = lowpass(lowpass(x, 700.0), 700.0)
    return fade_ends(envelope(x, lambda t: min(1.0, t / 0.08)), 0.002, 0.06)


# number: (name, maker, peak dBFS, loops)
SOUNDS = {
    0: ("shot", shot, -1.0, False),
    1: ("high-score fanfare", fanfare, -1.0, False),
    2: ("object explosion", object_explosion, -1.0, False),
    3: ("ship explosion", ship_explosion, -1.0, False),
    4: ("cockpit beat high", lambda: beat(70.0), -4.0, False),
    5: ("cockpit beat low", lambda: beat(52.0), -4.0, False),
    6: ("refusal buzz", refusal, -3.0, False),
    7: ("confirm chime", chime, -1.0, False),
    8: ("shield deflection", deflection, -1.0, False),
    9: ("menu click", menu_click, -3.0, False),
    10: ("shield hum", shield_hum, -6.0, True),
    11: ("empty shield click", empty_shield, -3.0, False),
    12: ("start jingle", jingle, -1.0, False),
    13: ("hit thud", thud, -1.0, False),
    14: ("program start", program_start, -1.0, False),
    15: ("init swoosh", swoosh, -2.0, False),
    16: ("engine drone", engine_drone, -5.0, True),
    17: ("powerup shot", powerup_shot, -1.0, False),
    18: ("hyper-warp sweep", warp_sweep, -4.0, True),
    19: ("nuke launch", nuke_launch, -1.0, False),
    20: ("nuke blast", nuke_blast, -1.0, False),
    21: ("distant nuke launch", distant_nuke_launch, -8.0, False),
}


def write_wav(path, samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1, 1,
                         RATE, RATE * 2, 2, 16, b"data", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    out_dir = os.path.join(root, "share", "zbx3d", "sounds")
    os.makedirs(out_dir, exist_ok=True)
    lines = ["# number frames peak loop name (written by tools/gen_sounds.py)"]
    for number in sorted(SOUNDS):
        name, maker, peak_db, loops = SOUNDS[number]
        samples, peak = normalise(maker(), peak_db)
        write_wav(os.path.join(out_dir, "%d.wav" % number), samples)
        lines.append("%d %d %d %d %s" % (number, len(samples), peak, 1 if loops else 0, name))
    with open(os.path.join(root, "sound", "tests", "sound_manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
