"""Smooth motion on screen, with the real zbx3d under Xvfb: a fake server on
127.0.0.1 sends the own ship at rest and one shield powerup moving at
constant speed, 20 snapshots a second. With SMOOTH_MOTION=1 screenshots taken
at many moments show it between the places sent; with a settings file that
has no SMOOTH_MOTION line (today's drawing) only at them. A powerup is drawn
facing the viewer with a round halo, so its picture keeps its shape wherever
it is."""

import cmath
import math
import os
import random
import sys
import time
import unittest

from zbxtest import FakeServer, snapshot

sys.path.insert(0, os.path.dirname(__file__))
import gui_util as g  # noqa: E402

SLOT, KIND = 5, 6         # a shield powerup
START, STEP = -2.5, 0.3  # its x in the first snapshot, and per snapshot
PLACES = 17              # then back to the start
DEPTH = 5.0
# Pixels per unit at that depth in the 640 x 480 view (60 degrees high).
SCALE = (g.HEIGHT / 2) / math.tan(math.radians(30)) / DEPTH
SHOTS = 30


def powerup_snapshot(n):
    x = START + STEP * (n % PLACES)
    return snapshot(0, [(SLOT, KIND, (x, 0.0, -DEPTH), 0.6)])


def powerup_x(pic):
    """Mean column of the powerup in the middle rows: of the columns with
    several lit pixels (stars are single pixels), the crosshair's blue left out."""
    total = count = 0
    for x in range(g.WIDTH):
        n = 0
        for y in range(160, 320):
            r, gr, b = pic.at(x, y)
            n += max(r, gr, b) >= 20 and (r > 0 or gr > 0)
        if n >= 3:
            total += x * n
            count += n
    return total / count if count > 200 else None


def phase(x):
    """Where between two places sent it is drawn: 0 at one, 0.5 half-way."""
    return ((x - (g.WIDTH / 2 + SCALE * START)) / (SCALE * STEP)) % 1.0


def apart(a, b):
    d = abs(a - b) % 1.0
    return min(d, 1 - d)


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class SmoothMotion(unittest.TestCase):
    def phases(self, smooth_line):
        x = g.Xvfb().__enter__()
        self.addCleanup(x.__exit__, None, None, None)
        server = FakeServer(answer=True)
        self.addCleanup(server.close)
        c = g.Client(x.display)
        self.addCleanup(c.stop)
        userdir = c.prepare()
        lines = [ln for ln in (userdir / "ZBXConfig").read_text().splitlines()
                 if not ln.startswith(("SERVER_PORT=", "SMOOTH_MOTION="))]
        lines += [f"SERVER_PORT={server.port}"] + ([smooth_line] if smooth_line else [])
        (userdir / "ZBXConfig").write_text("\n".join(lines) + "\n")
        c.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key("Down", "Return")  # "Start Multi Player Game"
        server.pump(1.5)
        self.assertIsNotNone(server.client, "no join")
        server.stream(powerup_snapshot)
        c.wait_screen(lambda p: g.hud_shown(p) and powerup_x(p) is not None, timeout=20,
                      what="the powerup")
        found = []
        for _ in range(SHOTS):
            time.sleep(random.uniform(0.0, 0.05))
            x_at = powerup_x(c.shot())
            if x_at is not None:
                found.append(phase(x_at))
        c.key("p")
        c.wait_screen(lambda p: g.menu_selected(p, 1), what="main menu after the game")
        self.assertGreater(len(found), SHOTS // 2, "the powerup was not on the screenshots")
        return found

    def test_drawn_between_the_places_sent_only_with_smooth_motion(self):
        today = self.phases(None)  # no SMOOTH_MOTION line: as always
        # Where a place sent shows up (the letter puts the middle of the
        # picture a little off its centre): the mean direction of the phases.
        at = (cmath.phase(sum(cmath.exp(2j * math.pi * p) for p in today)) / (2 * math.pi)) % 1
        self.assertTrue(all(apart(p, at) < 0.12 for p in today),
                        f"drawn between snapshots without smooth motion: {today}")
        smooth = self.phases("SMOOTH_MOTION=1")
        between = [p for p in smooth if apart(p, at) >= 0.2]
        self.assertGreater(len(between), len(smooth) // 4,
                           f"smooth motion drew it only at the places sent: {smooth}")


if __name__ == "__main__":
    unittest.main()
