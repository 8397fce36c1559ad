"""Shared helpers of the render screenshot tests: the render harness, its
pictures and a small fallback data tree (Xvfb and PPM reading: zbxtest)."""

import math
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile

from zbxtest import Xvfb, read_ppm  # noqa: F401

BUILD = pathlib.Path(os.environ.get("ZBX_BUILD_DIR", "build"))
HARNESS = BUILD / "render" / "harness" / "zbx_render_harness"


def _fallback_data(root):
    """Minimal models and texture, used only when the data tree is missing."""
    models = root / "zbx3d" / "models"
    textures = root / "zbx3d" / "textures"
    models.mkdir(parents=True)
    textures.mkdir(parents=True)

    def octahedron(s):
        return [[(sx * s, 0, 0), (0, sy * s, 0), (0, 0, sz * s)]
                for sx in (-1, 1) for sy in (-1, 1) for sz in (-1, 1)]

    specs = {"ship.spec": (0, 1.0, (0.2, 0.8, 0.9)), "shot.spec": (2, 0.05, (1, 1, 0)),
             "nuke.spec": (10, 0.08, (1, 0.3, 0)), "s.spec": (6, 1.0, (0.2, 1, 0.2)),
             "a.spec": (7, 1.0, (1, 1, 0)), "n.spec": (8, 1.0, (1, 0, 1)),
             "h.spec": (9, 1.0, (0, 1, 1))}
    for name, (slot, size, colour) in specs.items():
        faces = octahedron(size)
        lines = [f"{slot}", f"{len(faces)}"]
        for face in faces:
            lines.append("face")
            lines += [":".join(str(v) for v in (*p, *colour)) for p in face]
        (models / name).write_text("\n".join(lines) + "\n")
    width = height = 16
    header = bytearray(512)
    header[0:2] = b"\x01\xda"
    header[2], header[3] = 1, 1
    header[4:12] = struct.pack(">HHHH", 3, width, height, 3)
    rows = []
    for channel in range(3):
        for y in range(height):
            values = [int(255 * max(0.0, 1 - math.hypot(x - 7.5, y - 7.5) / 8)) for x in range(width)]
            rows.append(bytes([0x80 | width, *values, 0]))
    offset = 512 + 8 * len(rows)
    starts, blob = [], b""
    for row in rows:
        starts.append(offset + len(blob))
        blob += row
    tables = b"".join(struct.pack(">I", s) for s in starts)
    tables += b"".join(struct.pack(">I", len(r)) for r in rows)
    (textures / "explosion.rgb").write_bytes(bytes(header) + tables + blob)


class Run:
    """Runs the harness and reads the picture it saved."""

    def __init__(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="zbx_render_"))
        prefix = pathlib.Path(os.environ.get("ZBX3D_DATA_PREFIX", "share"))
        if not (prefix / "zbx3d" / "models" / "ship.spec").exists():
            prefix = self.tmp / "share"
            _fallback_data(prefix)
        self.env = dict(os.environ, HOME=str(self.tmp), ZBX3D_DATA_PREFIX=str(prefix))

    def close(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def shot(self, display, *args, name="shot"):
        out = self.tmp / f"{name}.ppm"
        proc = subprocess.run([str(HARNESS), "--out", str(out), *args],
                              env=dict(self.env, DISPLAY=display), capture_output=True,
                              text=True, timeout=120)
        if proc.returncode != 0:
            raise AssertionError(f"harness {args} failed: {proc.returncode} {proc.stdout} {proc.stderr}")
        return Picture.load(out)


class Picture:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def load(path):
        return Picture(*read_ppm(pathlib.Path(path).read_bytes()))

    def at(self, x, y):
        """Colour of the pixel x from the left, y from the bottom."""
        i = ((self.height - 1 - y) * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, x0, y0, x1, y1):
        """Every (x, y, colour) with x0 <= x <= x1, y0 <= y <= y1."""
        return [(x, y, self.at(x, y)) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)]

    def count(self, x0, y0, x1, y1, colour):
        return sum(1 for _, _, c in self.region(x0, y0, x1, y1) if c == colour)


def project(cx, cy, cz, width=640, height=480):
    """Window pixel of a camera-space point under the game's perspective."""
    f = 1 / math.tan(math.radians(30))
    aspect = width / height
    nx = f / aspect * cx / -cz
    ny = f * cy / -cz
    return int((nx + 1) / 2 * width), int((ny + 1) / 2 * height)
