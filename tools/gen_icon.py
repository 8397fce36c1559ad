#!/usr/bin/env python3
"""Writes the desktop icon: the game's own ship model, seen from above and
behind as it climbs away to the upper right, on a rounded square of deep space
with a few stars. One RGBA PNG per size in icons/hicolor/<N>x<N>/apps/zorbix.png.

Each size is drawn on its own, supersampled, rather than scaled down from the
largest one: small icons get a bigger ship, fewer and pixel-aligned stars, so
they stay sharp. Everything is fixed (seeded stars, no time stamps), so a second
run writes the same bytes.

Usage: gen_icon.py [output folder]   (default: dist/icons)
"""

import math
import os
import random
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
STAR_SEED = 1994

# The view: the ship banks to show its flank, the camera drops behind it
# (the nose leads away into the picture) and the picture turns so the nose
# points at the upper right.
BANK = math.radians(22)
PITCH = math.radians(-32)
ROLL = math.radians(-45)
CAMERA_DISTANCE = 7.0
# A gentle second light, so faces the model's own shading left alike differ.
VIEW_LIGHT = (-0.4, 0.6, 0.7)

SKY_TOP = (0.13, 0.20, 0.43)
SKY_BOTTOM = (0.02, 0.04, 0.13)
RIM = (0.45, 0.60, 0.95)
HALO = (0.55, 0.70, 1.0)


# --- Model ---

def read_model(path):
    """The faces of a model file: (label, [(x, y, z)] * 3, (r, g, b))."""
    with open(path) as f:
        lines = f.read().split("\n")
    count = int(lines[1].split()[0])
    faces = []
    for i in range(count):
        label = lines[2 + 4 * i]
        corners = [[float(v) for v in lines[3 + 4 * i + k].split(":")] for k in range(3)]
        colour = tuple(sum(c[3 + ch] for c in corners) / 3.0 for ch in range(3))
        faces.append((label, [tuple(c[:3]) for c in corners], colour))
    return faces


def rotate(p):
    """Model space (nose +z, up +y) to camera space (x right, y up, z to the viewer)."""
    x, y, z = p
    # Seen from straight above, nose up the picture.
    x, y, z = -x, z, y
    c, s = math.cos(BANK), math.sin(BANK)
    x, z = c * x + s * z, -s * x + c * z
    c, s = math.cos(PITCH), math.sin(PITCH)
    y, z = c * y - s * z, s * y + c * z
    c, s = math.cos(ROLL), math.sin(ROLL)
    x, y = c * x - s * y, s * x + c * y
    return (x, y, z)


def project(p):
    """Perspective onto the plane z = 0 (the camera looks down -z)."""
    x, y, z = p
    k = CAMERA_DISTANCE / (CAMERA_DISTANCE - z)
    return (x * k, y * k, z)


def normalise(v):
    n = math.sqrt(sum(c * c for c in v))
    return tuple(c / n for c in v) if n > 0 else (0.0, 0.0, 0.0)


def shaded(corners, colour):
    """The model's colour, a little brighter or darker by the view light."""
    a, b, c = corners
    u = tuple(b[i] - a[i] for i in range(3))
    v = tuple(c[i] - a[i] for i in range(3))
    n = normalise((u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]))
    if n[2] < 0:  # the side we see
        n = (-n[0], -n[1], -n[2])
    light = normalise(VIEW_LIGHT)
    k = 0.8 + 0.4 * max(0.0, sum(n[i] * light[i] for i in range(3)))
    return tuple(min(1.0, ch * k) for ch in colour)


# --- Drawing at the supersampled resolution ---

class Canvas:
    def __init__(self, size):
        self.size = size
        n = size * size
        self.rgb = [(0.0, 0.0, 0.0)] * n
        self.alpha = [0.0] * n
        self.depth = [-1e30] * n

    def triangle(self, a, b, c, colour):
        """Fills the pixels whose centres lie inside a-b-c and nearer than what is there."""
        area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])
        if abs(area) < 1e-12:
            return
        if area < 0:
            b, c = c, b
            area = -area
        size = self.size
        x0 = max(0, int(math.floor(min(a[0], b[0], c[0]))))
        x1 = min(size - 1, int(math.ceil(max(a[0], b[0], c[0]))))
        y0 = max(0, int(math.floor(min(a[1], b[1], c[1]))))
        y1 = min(size - 1, int(math.ceil(max(a[1], b[1], c[1]))))
        edges = []
        for p, q in ((b, c), (c, a), (a, b)):
            # w(x, y) = dx * (y - p.y) - dy * (x - p.x), positive inside.
            dx, dy = q[0] - p[0], q[1] - p[1]
            edges.append((dx, dy, p[0], p[1]))
        za, zb, zc = a[2], b[2], c[2]
        rgb, alpha, depth = self.rgb, self.alpha, self.depth
        for y in range(y0, y1 + 1):
            py = y + 0.5
            row = y * size
            for x in range(x0, x1 + 1):
                px = x + 0.5
                w0 = edges[0][0] * (py - edges[0][3]) - edges[0][1] * (px - edges[0][2])
                if w0 < 0:
                    continue
                w1 = edges[1][0] * (py - edges[1][3]) - edges[1][1] * (px - edges[1][2])
                if w1 < 0:
                    continue
                w2 = area - w0 - w1
                if w2 < 0:
                    continue
                z = (w0 * za + w1 * zb + w2 * zc) / area
                i = row + x
                if z > depth[i]:
                    depth[i] = z
                    rgb[i] = colour
                    alpha[i] = 1.0


def rounded_square_distance(x, y, lo, hi, radius):
    """Signed distance (pixels, negative inside) to a rounded square."""
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return math.hypot(x - cx, y - cy) - radius


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def background(canvas, size, scale):
    """The rounded square of sky: a gradient, a faint glow behind the ship and
    a lighter rim, so it stands out on dark desktops as well as light ones."""
    big = canvas.size
    margin = (size // 32) * scale
    lo, hi = margin, big - margin
    radius = (hi - lo) * 0.2
    rim = max(1.0, size / 64.0) * scale
    for y in range(big):
        t = (y + 0.5) / big
        sky = mix(SKY_TOP, SKY_BOTTOM, t)
        row = y * big
        for x in range(big):
            d = rounded_square_distance(x + 0.5, y + 0.5, lo, hi, radius)
            if d > 0:
                continue
            g = math.hypot((x + 0.5) / big - 0.45, (y + 0.5) / big - 0.5)
            colour = mix(sky, (0.22, 0.30, 0.62), max(0.0, 0.45 - g) * 1.1)
            if d > -rim:
                colour = mix(colour, RIM, 0.55)
            canvas.rgb[row + x] = colour
            canvas.alpha[row + x] = 1.0


def stars(canvas, size, scale):
    """A few fixed stars; at small sizes they fill whole pixels."""
    rng = random.Random(STAR_SEED)
    count = 3 if size <= 16 else 5 if size <= 32 else 9 if size <= 64 else 14
    places = [(rng.uniform(0.12, 0.88), rng.uniform(0.12, 0.88), rng.uniform(0.5, 1.0))
              for _ in range(14)]
    # The brightest first: those are the ones small icons keep.
    places.sort(key=lambda s: -s[2])
    big = canvas.size
    for sx, sy, bright in places[:count]:
        r = max(0.5, size / 128.0) * scale
        if size <= 32:
            cx = (int(sx * size) + 0.5) * scale
            cy = (int(sy * size) + 0.5) * scale
        else:
            cx, cy = sx * big, sy * big
        colour = mix((0.55, 0.65, 0.9), (1.0, 1.0, 1.0), bright * (0.7 if size <= 32 else 1.0))
        for y in range(int(cy - r), int(cy + r) + 1):
            for x in range(int(cx - r), int(cx + r) + 1):
                if not (0 <= x < big and 0 <= y < big) or canvas.alpha[y * big + x] == 0:
                    continue
                # Square pixels when small, round dots when there is room.
                inside = (abs(x + 0.5 - cx) <= r and abs(y + 0.5 - cy) <= r) if size <= 32 \
                    else math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= r
                if inside:
                    canvas.rgb[y * big + x] = colour


def ship(canvas, faces, size, scale):
    """The ship, fitted to the middle of the icon (fuller at small sizes)."""
    big = canvas.size
    tris = [([project(rotate(p)) for p in corners], shaded([rotate(p) for p in corners], colour))
            for _, corners, colour in faces]
    xs = [p[0] for t, _ in tris for p in t]
    ys = [p[1] for t, _ in tris for p in t]
    fill = 0.84 if size <= 32 else 0.78 if size <= 64 else 0.74
    k = fill * big / max(max(xs) - min(xs), max(ys) - min(ys))
    mx, my = (max(xs) + min(xs)) / 2, (max(ys) + min(ys)) / 2
    for corners, colour in tris:
        # Screen y grows downwards.
        pts = [(big / 2 + (x - mx) * k, big / 2 - (y - my) * k, z) for x, y, z in corners]
        canvas.triangle(pts[0], pts[1], pts[2], colour)


def halo(canvas, size, scale):
    """A pale rim around the ship, so its dark wings part from the dark sky."""
    big = canvas.size
    reach = int(max(0.8, size / 100.0) * scale)
    hull = [d > -1e30 for d in canvas.depth]
    # A square neighbourhood, taken as rows then columns.
    rows = [False] * (big * big)
    for y in range(big):
        row = y * big
        last = -big
        for x in range(big):
            if hull[row + x]:
                last = x
            rows[row + x] = x - last <= reach
        last = 2 * big
        for x in range(big - 1, -1, -1):
            if hull[row + x]:
                last = x
            if last - x <= reach:
                rows[row + x] = True
    for x in range(big):
        last = -big
        near = [False] * big
        for y in range(big):
            if rows[y * big + x]:
                last = y
            near[y] = y - last <= reach
        last = 2 * big
        for y in range(big - 1, -1, -1):
            if rows[y * big + x]:
                last = y
            i = y * big + x
            if (near[y] or last - y <= reach) and not hull[i] and canvas.alpha[i] > 0:
                canvas.rgb[i] = mix(canvas.rgb[i], HALO, 0.4)


def render(faces, size):
    scale = 8 if size <= 32 else 4 if size <= 128 else 3
    canvas = Canvas(size * scale)
    background(canvas, size, scale)
    stars(canvas, size, scale)
    ship(canvas, faces, size, scale)
    halo(canvas, size, scale)
    # Box filter down, weighting colour by coverage.
    big = canvas.size
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            r = g = b = a = 0.0
            for yy in range(y * scale, (y + 1) * scale):
                row = yy * big
                for xx in range(x * scale, (x + 1) * scale):
                    w = canvas.alpha[row + xx]
                    if w > 0:
                        c = canvas.rgb[row + xx]
                        r += c[0] * w
                        g += c[1] * w
                        b += c[2] * w
                        a += w
            if a > 0:
                pixels += bytes(int(round(min(1.0, v / a) * 255)) for v in (r, g, b))
            else:
                pixels += b"\0\0\0"
            pixels.append(int(round(a / (scale * scale) * 255)))
    return bytes(pixels)


def png(pixels, size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    stride = size * 4
    raw = b"".join(b"\0" + pixels[y * stride:(y + 1) * stride] for y in range(size))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "dist", "icons")
    faces = read_model(os.path.join(root, "share", "zbx3d", "models", "ship.spec"))
    for size in SIZES:
        folder = os.path.join(out, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "zorbix.png"), "wb") as f:
            f.write(png(render(faces, size), size))


if __name__ == "__main__":
    main()
