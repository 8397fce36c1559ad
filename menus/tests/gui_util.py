"""Helpers of the end-to-end GUI tests: a private Xvfb, the real zbx3d with a
temporary HOME, real key events through xdotool and screenshots read as
pixels. Every wait is bounded and polls for a screen state."""

import fcntl
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

from zbxtest import (  # noqa: F401
    BLUE, DARK_GREY, GREEN, RED, WHITE, ZBX3D, FakeServer, Xvfb, free_udp_port, join_reply,
    read_ppm, snapshot, stop_process, udp_port_free, wait_until)

SOURCE = pathlib.Path(os.environ.get("ZBX_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
SHARE = os.environ.get("ZBX3D_DATA_PREFIX", str(SOURCE / "share"))

WIDTH, HEIGHT = 640, 480

# Main-menu labels at 640 x 480: x = W / 2 - 100, first baseline 315 from the bottom.
MENU_X = 220
MENU_FIRST_Y = 315
LINE = 25

HOLD = 0.4  # seconds a key is held: below the X server's auto-repeat delay


def have_tools():
    return all(shutil.which(t) for t in ("Xvfb", "xdotool", "import")) and ZBX3D and os.access(
        ZBX3D, os.X_OK)


class PortLock:
    """Serialises the tests that need fixed ports: the single-player port
    12345 by default, or another set of them by name."""

    def __init__(self, name="port_12345"):
        self.name = name

    def __enter__(self):
        self.f = open(os.path.join(tempfile.gettempdir(), f"zbx3d_{self.name}.lock"), "w")
        fcntl.flock(self.f, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        fcntl.flock(self.f, fcntl.LOCK_UN)
        self.f.close()


class Picture:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def from_ppm(blob):
        return Picture(*read_ppm(blob))

    def at(self, x, y):
        """Pixel at x from the left, y from the top."""
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def at_gl(self, x, y):
        """Pixel at window coordinates counted from the bottom."""
        return self.at(x, HEIGHT - 1 - y)

    def count(self, colour, x0, x1, y0, y1):
        """Pixels of exactly that colour in columns x0..x1-1, rows y0..y1-1 (from the top)."""
        n = 0
        for y in range(max(y0, 0), min(y1, self.height)):
            row = self.data[(y * self.width) * 3:(y * self.width + self.width) * 3]
            for x in range(max(x0, 0), min(x1, self.width)):
                if tuple(row[x * 3:x * 3 + 3]) == colour:
                    n += 1
        return n

    def count_where(self, test, x0, x1, y0, y1):
        n = 0
        for y in range(max(y0, 0), min(y1, self.height)):
            for x in range(max(x0, 0), min(x1, self.width)):
                i = (y * self.width + x) * 3
                if test(self.data[i], self.data[i + 1], self.data[i + 2]):
                    n += 1
        return n

    def text_in_line(self, colour, x0, baseline, x1=None):
        """Pixels of a colour in one line of big-font text whose baseline is
        `baseline` pixels from the bottom of the window."""
        top = HEIGHT - 1 - baseline - 14
        return self.count(colour, x0, x1 if x1 is not None else x0 + 260, top, top + 18)

    def lit(self, x0, x1, y0, y1):
        return {(x, y) for y in range(y0, y1) for x in range(x0, x1)
                if any(self.data[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3])}


class Client:
    """One zbx3d process on a display, with its own HOME."""

    def __init__(self, display, home=None, args=(), env=None):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="zbx_gui_"))
        self.home = pathlib.Path(home) if home else self.tmp / "home"
        self.home.mkdir(parents=True, exist_ok=True)
        self.display = display
        self.args = list(args)
        self.env = dict(os.environ, HOME=str(self.home), ZBX3D_DATA_PREFIX=SHARE,
                        ALSOFT_DRIVERS="null", DISPLAY=display)
        self.env.update(env or {})
        self.proc = None
        self.out_path = self.tmp / "stdout.txt"

    @property
    def userdir(self):
        return self.home / ".zbx3d"

    def prepare(self):
        """Creates the per-user directory with the default files: an unknown
        word ends zbx3d with its usage line after the directory is made."""
        subprocess.run([ZBX3D, "--prepare-only"], env=self.env, stdout=subprocess.DEVNULL,
                       timeout=30)
        return self.userdir

    def start(self, preexec_fn=None):
        """With preexec_fn, standard error goes to the pipe self.proc.stderr
        (a file-size limit would cut a file; read it once the game ended)."""
        self.out = open(self.out_path, "w")
        err = subprocess.STDOUT if preexec_fn is None else subprocess.PIPE
        self.proc = subprocess.Popen([ZBX3D, *self.args], env=self.env, stdout=self.out,
                                     stderr=err, stdin=subprocess.DEVNULL, text=True,
                                     preexec_fn=preexec_fn)
        return self

    def output(self):
        self.out.flush()
        return self.out_path.read_text(errors="replace")

    def xdo(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=30)

    def window(self, timeout=60):
        """Waits for the "Zorbix" window and points the mouse at it."""
        def find():
            r = self.xdo("search", "--onlyvisible", "--name", "^Zorbix$")
            return r.stdout.split()[0] if r.returncode == 0 and r.stdout.split() else None
        w = wait_until(find, timeout)
        if not w:
            raise AssertionError("no Zorbix window; output: " + self.output())
        self.xdo("mousemove", "320", "240")
        return w

    def key(self, *names):
        for name in names:
            self.xdo("key", name)
            time.sleep(0.15)

    def hold(self, *names, seconds=HOLD):
        self.xdo("keydown", *names)
        time.sleep(seconds)
        self.xdo("keyup", *names)

    def type(self, text):
        for ch in text:
            self.xdo("key", KEYSYMS.get(ch, ch))
            time.sleep(0.1)

    def shot(self):
        r = subprocess.run(["import", "-window", "root", "-crop", f"{WIDTH}x{HEIGHT}+0+0", "-depth", "8",
                            "ppm:-"],
                           env=self.env, capture_output=True, timeout=60)
        if r.returncode != 0:
            raise AssertionError("screenshot failed: " + r.stderr.decode(errors="replace"))
        return Picture.from_ppm(r.stdout)

    def wait_screen(self, predicate, timeout=30, what="screen"):
        last = [None]

        def check():
            last[0] = self.shot()
            return predicate(last[0])
        if not wait_until(check, timeout, step=0.3):
            raise AssertionError(f"{what} did not appear; output: {self.output()}")
        return last[0]

    def wait_exit(self, timeout=30):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.proc:
            stop_process(self.proc)
            self.out.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


KEYSYMS = {" ": "space", ".": "period", "\r": "Return", "\b": "BackSpace", "-": "minus"}


def use_server(userdir, port):
    """Points the client settings of a prepared folder at a server port."""
    conf = userdir / "ZBXConfig"
    conf.write_text(conf.read_text().replace("SERVER_PORT=12346", f"SERVER_PORT={port}"))


# Configuration editor at 640 x 480: labels at x = 120, first baseline 443.
EDITOR_X = 120
EDITOR_FIRST_Y = 480 - 37


def editor_selected(pic, index, first=0):
    y = EDITOR_FIRST_Y - LINE * (index - first)
    return pic.text_in_line(WHITE, EDITOR_X, y) > 30


def menu_selected(pic, index):
    """The main menu shows item `index` selected: white text on its line, blue
    text on the others' lines."""
    y = MENU_FIRST_Y - LINE * index
    other = MENU_FIRST_Y - LINE * (1 if index == 0 else 0)
    return pic.text_in_line(WHITE, MENU_X, y) > 40 and pic.text_in_line(BLUE, MENU_X, other) > 40


def input_box_shown(pic):
    """A dark-grey input box somewhere around the middle line of the window."""
    top = HEIGHT - 1 - (HEIGHT // 2 + 20)
    return pic.count(DARK_GREY, 0, WIDTH, top, top + 22) > 500


def hud_shown(pic):
    """The game's HUD: green "Score:" text at the top left."""
    return pic.count(GREEN, 0, 120, 0, 40) > 20


def write_settings(path, text):
    pathlib.Path(path).write_text(text)
