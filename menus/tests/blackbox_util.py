"""Pixel-exact expectations for the black-box screen tests.

The expected picture of a screen is painted here from what the screen should
show: texts in GLUT's Helvetica 10 and 18 bitmaps (read from the font tables
that freeglut itself exports, so the glyphs are exactly the platform's) and
filled rectangles. A screenshot of the real zbx3d is then compared with it
pixel for pixel. Coordinates follow the game's: x from the left edge, y from
the bottom edge of the window."""

import ctypes
import ctypes.util
import math
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import gui_util as g  # noqa: E402

BLACK = (0, 0, 0)
WHITE, BLUE, RED, GREEN, DARK_GREY = g.WHITE, g.BLUE, g.RED, g.GREEN, g.DARK_GREY
BIG, SMALL = 1, 0


class _Font(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("quantity", ctypes.c_int), ("height", ctypes.c_int),
                ("chars", ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))),
                ("xorig", ctypes.c_float), ("yorig", ctypes.c_float)]


def _load_fonts():
    name = ctypes.util.find_library("glut")
    if not name:
        return None
    try:
        lib = ctypes.CDLL(name)
        return {BIG: _Font.in_dll(lib, "fgFontHelvetica18"),
                SMALL: _Font.in_dll(lib, "fgFontHelvetica10")}
    except (OSError, ValueError):
        return None


FONTS = _load_fonts()
_glyphs = {}


def glyph(big, ch):
    """(advance, lit pixels relative to the raster position) of one character."""
    key = (big, ch)
    if key not in _glyphs:
        font = FONTS[big]
        face = font.chars[ord(ch)]
        width = face[0]
        row_bytes = (width + 7) // 8
        x0, y0 = -int(font.xorig), -int(font.yorig)
        lit = set()
        for row in range(font.height):  # the first row is the bottom one
            for col in range(width):
                if face[1 + row * row_bytes + col // 8] & (0x80 >> (col % 8)):
                    lit.add((x0 + col, y0 + row))
        _glyphs[key] = (width, frozenset(lit))
    return _glyphs[key]


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def ndc(p, size):
    """A window pixel in normalised units: the quotient in single precision,
    the rest in double, stored as a float."""
    return f32(f32(p / size) * 2.0 - 1.0)


def window_pixel(n, size):
    """The pixel a bitmap drawn at normalised n starts on: the viewport
    transform in single precision, then the floor after the tiny nudge that
    Mesa's glBitmap adds."""
    w = f32(f32(n * f32(size / 2)) + f32(size / 2))
    return math.floor(f32(w + f32(0.0001)))


class Canvas:
    """The expected picture: black, with each drawing painted over it."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = {}

    def text(self, x, y, s, colour, big=BIG):
        """Each character is drawn at its own raster position: the first at
        the normalised coordinates of (x, y), each next one the glyph's
        width / W * 2 further on in single precision. A character whose
        position lies outside the window is not drawn at all."""
        nx, ny = ndc(x, self.width), ndc(y, self.height)
        for ch in s:
            advance, shape = glyph(big, ch)
            if -1.0 <= nx <= 1.0 and -1.0 <= ny <= 1.0:
                px, py = window_pixel(nx, self.width), window_pixel(ny, self.height)
                for dx, dy in shape:
                    self.pixels[(px + dx, py + dy)] = colour
            x += advance
            nx = f32(nx + f32(f32(f32(advance) / f32(self.width)) * 2.0))
        return x

    def rect(self, x0, y0, x1, y1, colour):
        """A filled quad with corners (x0, y0) and (x1, y1): the pixels whose
        centres lie inside it."""
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.pixels[(x, y)] = colour

    def input_box(self, prompt, value):
        w, h = self.width, self.height // 2
        e = self.text(w // 2 - 200, h, prompt, BLUE)
        self.rect(e + 17, h - 2, e + 300, h + 20, DARK_GREY)
        c = self.text(e + 20, h, value, RED)
        self.rect(c + 2, h, c + 8, h + 15, WHITE)

    def picture_bytes(self):
        """The expected window as screenshot bytes, top row first."""
        data = bytearray(self.width * self.height * 3)
        for (x, y), colour in self.pixels.items():
            if 0 <= x < self.width and 0 <= y < self.height:
                i = ((self.height - 1 - y) * self.width + x) * 3
                data[i:i + 3] = bytes(colour)
        return bytes(data)

    def differences(self, pic):
        """Window pixels whose colour is not the expected one."""
        want_all = self.picture_bytes()
        if pic.data == want_all:
            return []
        out = []
        for i in range(0, min(len(want_all), len(pic.data)), 3):
            if pic.data[i:i + 3] != want_all[i:i + 3]:
                row, x = divmod(i // 3, self.width)
                out.append(((x, self.height - 1 - row), tuple(want_all[i:i + 3]),
                            tuple(pic.data[i:i + 3])))
        return out or [("size", len(want_all), len(pic.data))]

    def missing(self, pic, colour=None):
        """Expected pixels (of one colour, or all) that the window lacks;
        for screens drawn over a 3-D view whose background varies."""
        out = []
        for (x, y), want in self.pixels.items():
            if colour is not None and want != colour:
                continue
            got = pic.at(x, self.height - 1 - y)
            if got != want:
                out.append(((x, y), want, got))
        return out


def describe(diffs, limit=8):
    return f"{len(diffs)} pixels differ, e.g. " + ", ".join(
        f"{p}: want {w} got {gt}" for p, w, gt in diffs[:limit])


def have_tools():
    return g.have_tools() and FONTS is not None


class Session:
    """A private Xvfb and one zbx3d with a chosen window size, started with
    "-cf" on a settings file written here."""

    def __init__(self, width=640, height=480, settings="", files=None):
        self.width, self.height = width, height
        self.x = g.Xvfb().__enter__()
        self.client = None
        try:
            conf = pathlib.Path(tempfile.mkdtemp(prefix="zbx_bb_")) / "client.conf"
            self.conf = conf
            conf.write_text(f"SCREEN_WIDTH={width}\nSCREEN_HEIGHT={height}\n" + settings)
            self.client = g.Client(self.x.display, args=["-cf", str(conf)])
            userdir = self.client.prepare()
            for name, text in (files or {}).items():  # per-user files
                (userdir / name).write_text(text)
            self.client.start()
            self.client.window()
            self.client.xdo("mousemove", str(width // 2), str(height // 2))
        except BaseException:
            self.close()
            raise

    def resized(self, width, height):
        """The window now has this size: keys go to the window under the
        pointer, so the pointer follows it."""
        self.width, self.height = width, height
        self.client.xdo("mousemove", str(width // 2), str(height // 2))

    def close(self):
        if self.client:
            self.client.stop()
        if hasattr(self, "conf"):
            self.conf.unlink(missing_ok=True)
            self.conf.parent.rmdir()
        self.x.__exit__(None, None, None)

    def shot(self):
        r = subprocess.run(["import", "-window", "root", "-crop",
                            f"{self.width}x{self.height}+0+0", "-depth", "8", "ppm:-"],
                           env=self.client.env, capture_output=True, timeout=60)
        if r.returncode != 0:
            raise AssertionError("screenshot failed: " + r.stderr.decode(errors="replace"))
        return g.Picture.from_ppm(r.stdout)

    def canvas(self):
        return Canvas(self.width, self.height)

    def wait_for(self, canvas, timeout=15, what="screen"):
        """Waits until the window shows exactly the canvas; fails with the
        differences of the last screenshot."""
        last = [[]]

        def check():
            last[0] = canvas.differences(self.shot())
            return not last[0]
        if not g.wait_until(check, timeout, step=0.25):
            raise AssertionError(f"{what}: {describe(last[0])}")

    def wait_missing(self, canvas, colour=None, timeout=15, what="screen"):
        last = [[]]

        def check():
            last[0] = canvas.missing(self.shot(), colour)
            return not last[0]
        if not g.wait_until(check, timeout, step=0.25):
            raise AssertionError(f"{what}: {describe(last[0])}")

    def expose(self, canvas, what):
        """Unmaps and maps the window: the screen's display callback must
        paint it again as it was."""
        window = self.client.window()
        self.client.xdo("windowunmap", "--sync", window)
        self.client.xdo("windowmap", "--sync", window)
        self.client.xdo("mousemove", str(self.width // 2), str(self.height // 2))
        self.wait_for(canvas, what=what + " after an expose")

    def key(self, *names):
        """Real key presses, in order, one call for all of them."""
        self.client.xdo("key", "--delay", "80", *names)


MAIN_MENU = ["Start Single Player Game", "Start Multi Player Game", "Start ZBX Server",
             "Stop ZBX Server", "Edit Game Configuration", "View High Scores", "Quit Game",
             "Find Servers"]

# Editor items: label and the settings key whose value is shown (None: no value).
EDITOR = [("Server IP (MultiPlayer Only)", "SERVER_IP"),
          ("Server Port (MultiPlayer Only)", "SERVER_PORT"),
          ("Player Name (MultiPlayer Only)", "PLAYER_NAME"),
          ("Screen Width", "SCREEN_WIDTH"), ("Screen Height", "SCREEN_HEIGHT"),
          ("Volume", "VOLUME"), ("Score Key (DeathMatch Only)", "SCORE_KEY"),
          ("Fire Key", "FIRE_KEY"), ("Shield Key", "SHIELD_KEY"), ("Warp Key", "WARP_KEY"),
          ("Nuke Key", "NUKE_KEY"), ("Quit Key", "QUIT_KEY"),
          ("Forward Thrust Key", "Z_FORWARD_KEY"), ("Reverse Thrust Key", "Z_BACKWARD_KEY"),
          ("x Forward Rotate Key", "X_FORWARD_ROTATE_KEY"),
          ("x Backward Rotate Key", "X_BACKWARD_ROTATE_KEY"),
          ("y Forward Rotate Key", "Y_FORWARD_ROTATE_KEY"),
          ("y Backward Rotate Key", "Y_BACKWARD_ROTATE_KEY"),
          ("z Forward Rotate Key", "Z_FORWARD_ROTATE_KEY"),
          ("z Backward Rotate Key", "Z_BACKWARD_ROTATE_KEY"),
          ("Reverse View Key", "REVERSE_VIEW_KEY"),
          ("Save Settings As Defaults", None), ("Return To Main Menu", None),
          # Later settings, then the save and return items again.
          ("Smooth Motion (1 on, 0 off)", "SMOOTH_MOTION"),
          ("Compact Snapshots (1 on, 0 off)", "COMPACT_SNAPSHOTS"),
          ("Broadcast Address (Find Servers)", "BROADCAST_ADDRESS"),
          ("Master Servers (Find Servers)", "MASTER_SERVERS"),
          ("Gamepad (1 on, 0 off)", "GAMEPAD"), ("Gamepad Dead Zone (percent)", "GAMEPAD_DEAD_ZONE"),
          ("Pad Fire Button", "PAD_FIRE_BUTTON"), ("Pad Shield Button", "PAD_SHIELD_BUTTON"),
          ("Pad Nuke Button", "PAD_NUKE_BUTTON"), ("Pad Warp Button", "PAD_WARP_BUTTON"),
          ("Pad Score Button", "PAD_SCORE_BUTTON"),
          ("Pad Reverse View Button", "PAD_REVERSE_VIEW_BUTTON"),
          ("Pad Quit Button", "PAD_QUIT_BUTTON"), ("Pad Roll Left Button", "PAD_ROLL_LEFT_BUTTON"),
          ("Pad Roll Right Button", "PAD_ROLL_RIGHT_BUTTON"),
          ("Save Settings As Defaults", None), ("Return To Main Menu", None)]
EDITOR_LAST = len(EDITOR) - 1
# What the later items show when the settings file does not set them.
LATER_DEFAULTS = {"SMOOTH_MOTION": "0", "COMPACT_SNAPSHOTS": "1",
                  "MASTER_SERVERS": "", "GAMEPAD": "1",
                  "GAMEPAD_DEAD_ZONE": "20", "PAD_FIRE_BUTTON": "a", "PAD_SHIELD_BUTTON": "b",
                  "PAD_NUKE_BUTTON": "x", "PAD_WARP_BUTTON": "y", "PAD_SCORE_BUTTON": "back",
                  "PAD_REVERSE_VIEW_BUTTON": "leftstick", "PAD_QUIT_BUTTON": "start",
                  "PAD_ROLL_LEFT_BUTTON": "leftshoulder", "PAD_ROLL_RIGHT_BUTTON": "rightshoulder"}

# Settings every editor test starts from (written after the window size).
SETTINGS = {"SERVER_IP": "127.0.0.1", "SERVER_PORT": "23456", "PLAYER_NAME": "Ace", "VOLUME": "9",
            "SCORE_KEY": "o", "FIRE_KEY": "j", "SHIELD_KEY": "l", "WARP_KEY": "h",
            "NUKE_KEY": "n", "QUIT_KEY": "p", "Z_FORWARD_KEY": "i", "Z_BACKWARD_KEY": "k",
            "X_FORWARD_ROTATE_KEY": "s", "X_BACKWARD_ROTATE_KEY": "w",
            "Y_FORWARD_ROTATE_KEY": "d", "Y_BACKWARD_ROTATE_KEY": "a",
            "Z_FORWARD_ROTATE_KEY": "q", "Z_BACKWARD_ROTATE_KEY": "e", "REVERSE_VIEW_KEY": "b",
            # Should a test find servers, it looks on the loopback network only.
            "BROADCAST_ADDRESS": "127.255.255.255"}
SETTINGS_TEXT = "".join(f"{k}={v}\n" for k, v in SETTINGS.items())


def scroll(first, selected, count, height):
    """First and last line of a scrolling list, as the screen should place them."""
    first = min(first, selected)
    visible = (height - 50) // 25
    last = first + visible
    if last >= count:
        last, first = count - 1, max(count - visible - 1, 0)
    if last < selected:
        first, last = first + selected - last, selected
    return first, last


def main_menu(width, height, selected, first=0):
    """Expected main menu and the first line it shows."""
    c = Canvas(width, height)
    top = (height - 150) // 2 if height >= 200 else 37
    first, last = scroll(first, selected, len(MAIN_MENU), height)
    for i in range(first, last + 1):
        c.text(width // 2 - 100, height - top - 25 * (i - first), MAIN_MENU[i],
               WHITE if i == selected else BLUE)
    return c, first


def editor(width, height, selected, values, first=0):
    """Expected configuration editor list with the given setting values."""
    c = Canvas(width, height)
    top = (height - 525) // 2 if height >= 600 else 37
    first, last = scroll(first, selected, len(EDITOR), height)
    for i in range(first, last + 1):
        label, key = EDITOR[i]
        y = height - top - 25 * (i - first)
        end = c.text(width // 2 - 200, y, label, WHITE if i == selected else BLUE)
        if key is not None:
            c.text(end + 20, y, str(values.get(key, LATER_DEFAULTS.get(key))), RED)
    return c, first


def high_scores(width, height, entries, selected):
    """Expected high-score view of (score, name) entries."""
    c = Canvas(width, height)
    c.text(20, height - 50, "Name", BLUE)
    c.text(width // 2, height - 50, "Score", BLUE)
    room = height - 25 * 2 - 150
    rows = min(room // 25, 10) if room >= 25 else 0
    for j in range(rows):
        score, name = entries[j]
        c.text(20, height - 90 - 25 * j, name, RED)
        c.text(width // 2, height - 90 - 25 * j, str(score), RED)
    for i, label in enumerate(["Clear High Scores", "Return To Main Menu"]):
        c.text(width // 2 - 100, 25 * (2 - i) + 25, label, WHITE if i == selected else BLUE)
    return c, rows
