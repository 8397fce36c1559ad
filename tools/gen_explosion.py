#!/usr/bin/env python3
"""Writes the explosion texture, a fireball fading to black at its rim, as a
run-length-encoded SGI RGB image (share/zbx3d/textures/explosion.rgb). Its
channels are stored blue, green, red, the order in which the game takes them
for red, green, blue; ordinary viewers therefore show it blue.

The game adds the texture onto the picture, so black means "nothing": the
dark, soft edge keeps the square from showing.

Usage: gen_explosion.py [output file] [size]
"""

import math
import os
import random
import struct
import sys


def value_noise(size, cells, rng):
    """Smoothly interpolated random lattice values in 0..1, tiling the square."""
    lattice = [[rng.random() for _ in range(cells)] for _ in range(cells)]

    def at(x, y):
        fx, fy = x * cells / size, y * cells / size
        ix, iy = int(fx), int(fy)
        tx, ty = fx - ix, fy - iy
        tx, ty = tx * tx * (3 - 2 * tx), ty * ty * (3 - 2 * ty)
        a = lattice[iy % cells][ix % cells]
        b = lattice[iy % cells][(ix + 1) % cells]
        c = lattice[(iy + 1) % cells][ix % cells]
        d = lattice[(iy + 1) % cells][(ix + 1) % cells]
        return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty

    return at


def fireball(size, seed=1994):
    rng = random.Random(seed)
    octaves = [(value_noise(size, 4, rng), 0.5), (value_noise(size, 8, rng), 0.3),
               (value_noise(size, 16, rng), 0.2)]
    # Ramp from the hot core outwards: white, yellow, orange, red, black.
    ramp = [(0.0, (1.0, 1.0, 0.9)), (0.25, (1.0, 0.9, 0.45)), (0.5, (1.0, 0.55, 0.1)),
            (0.75, (0.75, 0.15, 0.02)), (1.0, (0.0, 0.0, 0.0))]

    def colour(t):
        t = min(max(t, 0.0), 1.0)
        for (t0, c0), (t1, c1) in zip(ramp, ramp[1:]):
            if t <= t1:
                k = (t - t0) / (t1 - t0)
                return tuple(a + (b - a) * k for a, b in zip(c0, c1))
        return ramp[-1][1]

    rows = []  # rows[y][channel] = bytes, y = 0 at the bottom
    c = (size - 1) / 2.0
    for y in range(size):
        channels = [bytearray(size), bytearray(size), bytearray(size)]
        for x in range(size):
            dx, dy = (x - c) / c, (y - c) / c
            r = math.sqrt(dx * dx + dy * dy)
            n = sum(f(x, y) * w for f, w in octaves)  # about 0.5 on average
            # Turbulence pushes the flame front in and out; the rim ends well
            # inside the square so its corners stay black.
            t = r / 0.88 + (n - 0.5) * 0.55
            rgb = colour(t)
            fade = max(0.0, min(1.0, (0.97 - r) / 0.2))
            # The game reads a texel's channels last to first (file channel 2
            # is red on screen), so blue is stored first and red last.
            for ch in range(3):
                channels[2 - ch][x] = int(round(255 * rgb[ch] * fade))
        rows.append(channels)
    return rows


def rle_row(row):
    """SGI run-length encoding: runs of equal bytes, literal stretches, and a
    closing 0 control byte."""
    out = bytearray()
    i, n = 0, len(row)
    while i < n:
        run = 1
        while i + run < n and run < 127 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += bytes([run, row[i]])
            i += run
            continue
        start = i
        while i < n and i - start < 127:
            if i + 2 < n and row[i] == row[i + 1] == row[i + 2]:
                break
            i += 1
        out.append(0x80 | (i - start))
        out += row[start:i]
    out.append(0)
    return bytes(out)


def sgi_file(rows, size):
    header = struct.pack(">HBBHHHHII4s80sI", 474, 1, 1, 3, size, size, 3, 0, 255, b"",
                         b"zorbix explosion", 0)
    header += bytes(512 - len(header))
    height, channels = size, 3
    starts, lengths, data = [], [], bytearray()
    base = 512 + 8 * height * channels
    packed = [[rle_row(rows[y][ch]) for y in range(height)] for ch in range(channels)]
    for ch in range(channels):
        for y in range(height):
            starts.append(base + len(data))
            lengths.append(len(packed[ch][y]))
            data += packed[ch][y]
    tables = struct.pack(">%dI" % len(starts), *starts) + struct.pack(">%dI" % len(lengths),
                                                                      *lengths)
    return header + tables + bytes(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "share", "zbx3d", "textures", "explosion.rgb")
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 128
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "wb") as f:
        f.write(sgi_file(fireball(size), size))


if __name__ == "__main__":
    main()
