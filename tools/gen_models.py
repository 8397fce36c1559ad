#!/usr/bin/env python3
"""Writes the game's seven .spec model files into share/zbx3d/models/.

Every model is built from small convex solids (lofted hulls, extruded
polygons); each triangle gets its solid's colour shaded by a fixed light, so
the shapes read as 3-D although the game draws them unlit.

File layout: slot token, face count token, then per face a free-text line and
three lines "x:y:z:r:g:b".

Usage: gen_models.py [output directory]
"""

import math
import os
import sys

LIGHT = (0.35, 0.8, 0.5)


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def norm(a):
    n = math.sqrt(dot(a, a))
    return (a[0] / n, a[1] / n, a[2] / n) if n > 0 else (0.0, 0.0, 0.0)


def mean(points):
    n = float(len(points))
    return tuple(sum(p[i] for p in points) / n for i in range(3))


L = norm(LIGHT)


class Mesh:
    def __init__(self, slot, name):
        self.slot = slot
        self.name = name
        self.faces = []  # (label, [(position, colour)] * 3)

    def solid(self, label, polygons, colour, ambient=0.45, glow=False, bright=None):
        """Adds one convex solid given by its faces (lists of corners); faces
        for which bright() holds are not shaded."""
        centre = mean([p for poly in polygons for p in poly])
        for poly in polygons:
            lit = glow or (bright is not None and bright(poly))
            for i in range(1, len(poly) - 1):
                self.triangle(label, poly[0], poly[i], poly[i + 1], colour, centre, ambient, lit)

    def triangle(self, label, a, b, c, colour, centre, ambient, glow):
        n = norm(cross(sub(b, a), sub(c, a)))
        if dot(n, sub(mean([a, b, c]), centre)) < 0:
            n = (-n[0], -n[1], -n[2])
        k = 1.0 if glow else ambient + (1.0 - ambient) * max(0.0, dot(n, L))
        shaded = tuple(min(1.0, ch * k) for ch in colour)
        self.faces.append((label, [(a, shaded), (b, shaded), (c, shaded)]))

    def text(self):
        out = ["%d" % self.slot, "%d" % len(self.faces)]
        for i, (label, corners) in enumerate(self.faces):
            out.append("face %d %s" % (i + 1, label))
            for p, c in corners:
                out.append(":".join("%.4f" % v for v in (p + c)))
        return "\n".join(out) + "\n"


def ring(radius_x, radius_y, z, sides, phase=0.0, dx=0.0, dy=0.0):
    return [
        (dx + radius_x * math.cos(phase + 2 * math.pi * i / sides),
         dy + radius_y * math.sin(phase + 2 * math.pi * i / sides), z)
        for i in range(sides)
    ]


def loft(rings, cap_start=True, cap_end=True):
    """Faces joining consecutive rings (equal corner counts); a ring of one
    point is a tip."""
    faces = []
    for r0, r1 in zip(rings, rings[1:]):
        n = max(len(r0), len(r1))
        for i in range(n):
            a0, b0 = r0[i % len(r0)], r0[(i + 1) % len(r0)]
            a1, b1 = r1[i % len(r1)], r1[(i + 1) % len(r1)]
            if len(r0) == 1:
                faces.append([a0, a1, b1])
            elif len(r1) == 1:
                faces.append([a0, b0, a1])
            else:
                faces.append([a0, b0, b1, a1])
    if cap_start and len(rings[0]) > 2:
        faces.append(list(rings[0]))
    if cap_end and len(rings[-1]) > 2:
        faces.append(list(rings[-1]))
    return faces


def prism(outline, z0, z1):
    """A convex 2-D outline (x, y) extruded from z0 to z1."""
    return loft([[(x, y, z0) for x, y in outline], [(x, y, z1) for x, y in outline]])


def slab(points_top, points_bottom):
    """Solid between two corresponding polygons (e.g. a wing's upper and lower skin)."""
    return loft([points_bottom, points_top])


# --- Ship: a delta-wing fighter, nose along +z (the loader turns it to -z) ---

def ship():
    m = Mesh(0, "ship")
    hull = (0.62, 0.66, 0.74)
    dark = (0.32, 0.35, 0.42)
    red = (0.85, 0.12, 0.1)
    # Fuselage: an octagonal hull tapering to the nose.
    stations = [(-1.05, 0.20, 0.16), (-0.7, 0.26, 0.22), (0.2, 0.24, 0.22), (0.9, 0.16, 0.15),
                (1.4, 0.07, 0.06)]
    rings = [ring(w, h, z, 8, math.pi / 8) for z, w, h in stations]
    m.solid("fuselage", loft(rings + [[(0.0, 0.0, 1.75)]]), hull)
    # Cockpit canopy, raised over the front of the fuselage.
    canopy = [ring(0.02, 0.02, 0.05, 6, 0, 0, 0.18), ring(0.12, 0.1, 0.3, 6, 0, 0, 0.24),
              ring(0.1, 0.08, 0.65, 6, 0, 0, 0.22), [(0.0, 0.17, 0.95)]]
    m.solid("canopy", loft(canopy), (0.25, 0.75, 1.0), ambient=0.6)
    # Delta wings with a slight droop, red tips.
    for s in (-1, 1):
        root_top = [(s * 0.2, 0.04, -0.85), (s * 0.2, 0.05, 0.45), (s * 1.05, -0.04, -0.55),
                    (s * 1.05, -0.04, -0.85)]
        root_bot = [(x, y - 0.08, z) for x, y, z in root_top]
        m.solid("wing", slab(root_top, root_bot), dark)
        tip_top = [(s * 1.05, -0.03, -0.85), (s * 1.05, -0.03, -0.55), (s * 1.3, -0.06, -0.8),
                   (s * 1.3, -0.06, -0.95)]
        tip_bot = [(x, y - 0.06, z) for x, y, z in tip_top]
        m.solid("wing tip", slab(tip_top, tip_bot), red)
        # Engine pods under the wing roots.
        pods = [ring(0.09, 0.09, -1.1, 6, 0, s * 0.42, -0.08),
                ring(0.11, 0.11, -0.9, 6, 0, s * 0.42, -0.08),
                ring(0.08, 0.08, -0.1, 6, 0, s * 0.42, -0.08), [(s * 0.42, -0.08, 0.15)]]
        m.solid("engine pod", loft(pods), hull)
        glow = ring(0.075, 0.075, -1.12, 6, 0, s * 0.42, -0.08)
        m.solid("exhaust", [glow, [(x, y, z - 0.02) for x, y, z in glow]], (1.0, 0.55, 0.1),
                glow=True)
    # Tail fin.
    fin_l = [(-0.03, 0.2, -1.0), (-0.03, 0.2, -0.3), (-0.02, 0.62, -1.1), (-0.02, 0.62, -0.95)]
    fin_r = [(-x, y, z) for x, y, z in fin_l]
    m.solid("tail fin", slab(fin_r, fin_l), dark)
    m.solid("fin stripe", slab([(0.031, 0.5, -1.06), (0.031, 0.5, -0.8), (0.025, 0.6, -1.09)],
                               [(-0.031, 0.5, -1.06), (-0.031, 0.5, -0.8), (-0.025, 0.6, -1.09)]),
            red)
    # Main exhaust at the tail.
    tail = ring(0.15, 0.12, -1.07, 8, math.pi / 8)
    m.solid("main exhaust", [tail, [(x, y, z - 0.02) for x, y, z in tail]], (1.0, 0.45, 0.05),
            glow=True)
    return m


# --- Shot: a glowing bolt along z, drawn at a hundredth of its file size ---

def shot():
    m = Mesh(2, "shot")
    core = [[(0.0, 0.0, -7.0)], ring(0.9, 0.9, -2.5, 6), ring(0.9, 0.9, 2.5, 6), [(0.0, 0.0, 7.0)]]
    m.solid("bolt", loft(core), (1.0, 0.85, 0.35), glow=True)
    halo = [[(0.0, 0.0, -5.0)], ring(1.4, 1.4, 0.0, 6, math.pi / 6), [(0.0, 0.0, 5.0)]]
    m.solid("bolt glow", loft(halo), (1.0, 0.35, 0.1), glow=True)
    return m


# --- Nuke: a missile, nose along -z, drawn at a tenth of its file size ---

def nuke():
    m = Mesh(10, "nuke")
    body = [ring(0.22, 0.22, 1.1, 8), ring(0.25, 0.25, 0.9, 8), ring(0.25, 0.25, -0.8, 8)]
    m.solid("body", loft(body), (0.82, 0.82, 0.76))
    nose = [ring(0.25, 0.25, -0.8, 8), ring(0.18, 0.18, -1.2, 8), [(0.0, 0.0, -1.55)]]
    m.solid("warhead", loft(nose), (0.9, 0.12, 0.08))
    band = [ring(0.26, 0.26, -0.55, 8), ring(0.26, 0.26, -0.35, 8)]
    m.solid("hazard band", loft(band), (1.0, 0.8, 0.1))
    for k in range(4):
        a = k * math.pi / 2 + math.pi / 4
        c, s = math.cos(a), math.sin(a)
        t = 0.03
        out = [(0.2, 0.55), (0.2, 1.1), (0.7, 1.25), (0.7, 1.0)]  # (radius, z)
        side = lambda sign: [(r * c - sign * t * s, r * s + sign * t * c, z) for r, z in out]
        m.solid("fin", slab(side(1), side(-1)), (0.3, 0.32, 0.3))
    flame = [ring(0.18, 0.18, 1.12, 8), [(0.0, 0.0, 1.6)]]
    m.solid("exhaust", loft(flame), (1.0, 0.55, 0.1), glow=True)
    return m


# --- Powerup letters: block letters in the x-y plane, facing +z (the viewer) ---

def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def rotated(outline):
    """The outline turned half a turn about the letter's centre (1.5, 2)."""
    return [(3 - x, 4 - y) for x, y in outline]


LETTERS = {
    "S": [
        [(0.8, 3.2), (3.0, 3.2), (3.0, 4.0), (0.8, 4.0)],
        rect(2.2, 2.8, 3.0, 3.2),
        [(0.0, 2.4), (0.8, 2.4), (0.8, 4.0), (0.45, 4.0), (0.0, 3.55)],
        [(0.0, 2.4), (0.0, 1.95), (0.35, 1.6), (3.0, 1.6), (3.0, 2.05), (2.65, 2.4)],
    ],
    "A": [
        [(0.0, 0.0), (0.85, 0.0), (1.9, 4.0), (1.1, 4.0)],
        [(2.15, 0.0), (3.0, 0.0), (1.9, 4.0), (1.1, 4.0)],
        rect(0.55, 1.15, 2.45, 1.9),
    ],
    "N": [
        rect(0.0, 0.0, 0.8, 4.0),
        rect(2.2, 0.0, 3.0, 4.0),
        [(0.0, 4.0), (0.95, 4.0), (3.0, 0.0), (2.05, 0.0)],
    ],
    "H": [
        rect(0.0, 0.0, 0.8, 4.0),
        rect(2.2, 0.0, 3.0, 4.0),
        rect(0.8, 1.6, 2.2, 2.4),
    ],
}
# The S is symmetric under a half turn: its lower half is its upper half turned.
LETTERS["S"] = LETTERS["S"] + [rotated(p) for p in LETTERS["S"][:3]]


def letter(slot, ch, colour):
    m = Mesh(slot, "letter " + ch)
    for piece in LETTERS[ch]:
        outline = [(x - 1.5, y - 2.0) for x, y in piece]
        # The face towards the viewer at full colour, sides and back shaded.
        m.solid("stroke", prism(outline, -0.35, 0.35), colour, ambient=0.35,
                bright=lambda poly: all(p[2] > 0.3 for p in poly))
    return m


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "share", "zbx3d", "models")
    os.makedirs(out, exist_ok=True)
    models = {
        "ship.spec": ship(),
        "shot.spec": shot(),
        "nuke.spec": nuke(),
        "s.spec": letter(6, "S", (0.25, 0.7, 1.0)),
        "a.spec": letter(7, "A", (1.0, 0.75, 0.15)),
        "n.spec": letter(8, "N", (1.0, 0.3, 0.2)),
        "h.spec": letter(9, "H", (0.8, 0.45, 1.0)),
    }
    for name, mesh in models.items():
        with open(os.path.join(out, name), "w") as f:
            f.write(mesh.text())


if __name__ == "__main__":
    main()
