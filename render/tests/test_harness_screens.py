"""Screenshots of scripted game frames under a real X server (Xvfb + Mesa),
checked at pixels computed from the layout of the HUD, the radar and the
perspective of the world view."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness_util import HARNESS, Picture, Run, Xvfb, project  # noqa: E402
from zbxtest import BLACK, BLUE, GREEN, RED, WHITE  # noqa: E402

W, H = 640, 480
DARK_RED = (178, 0, 0)


def setUpModule():
    global XSERVER, RUN
    XSERVER = Xvfb().__enter__()
    RUN = Run()


def tearDownModule():
    RUN.close()
    XSERVER.__exit__(None, None, None)


def shot(*args):
    return RUN.shot(XSERVER.display, *args)


def gauge_row(picture, y, x0, x1):
    """The white frame sides and the blue run between them on row y."""
    whites = [x for x in range(x0, x1) if picture.at(x, y) == WHITE]
    left, right = whites[0], whites[-1]
    blues = [x for x in range(left + 1, right) if picture.at(x, y) == BLUE]
    others = [x for x in range(left + 1, right) if picture.at(x, y) not in (BLUE, BLACK)]
    return left, right, blues, others


class CockpitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pic = shot("--scene", "cockpit", "--frames", "3")

    def test_hud_texts_sit_at_their_corners_in_green(self):
        p = self.pic
        # "Score:  1234" on the baseline y = Ht - 20 from x = 10; "Lives:" 15 below.
        self.assertGreater(p.count(10, H - 20, 80, H - 12, GREEN), 20)
        self.assertGreater(p.count(10, H - 35, 60, H - 27, GREEN), 15)
        # Nothing green left of the text start.
        self.assertEqual(p.count(0, H - 40, 9, H - 10, GREEN), 0)
        # "HyperWarps:  2" and "Nukes:  1" from x = Wd - 100.
        self.assertGreater(p.count(W - 100, H - 20, W - 20, H - 12, GREEN), 20)
        self.assertEqual(p.count(W - 110, H - 40, W - 101, H - 10, GREEN), 0)
        self.assertGreater(p.count(W - 100, H - 35, W - 50, H - 27, GREEN), 15)

    def test_gauges_fill_in_proportion(self):
        p = self.pic
        # Shield 150 of 300: 19 pixels; armor 1000 of 1000: the full 38.
        left, right, blues, others = gauge_row(p, 13, 30, 120)
        self.assertEqual(right - left, 40)
        self.assertEqual(blues, list(range(left + 2, left + 21)))
        self.assertEqual(others, [])
        left, right, blues, _ = gauge_row(p, 13, W - 80, W)
        self.assertEqual(right - left, 40)
        self.assertEqual(len(blues), 38)
        # The shield label ends where its gauge frame starts, 5 pixels before.
        label = [x for x in range(10, left) if p.at(x, 13) == GREEN or p.at(x, 12) == GREEN]
        self.assertLess(max(label), left - 5)

    def test_radar_ring_cross_and_label(self):
        p = self.pic
        cx, cy = W // 2, H // 6
        # Outer ring of radius 0.27 in normalised units: 86.4 px across, 64.8 px up.
        for x, y in ((cx - 87, cy), (cx + 86, cy), (cx, cy + 64), (cx, cy - 65)):
            near = [c for _, _, c in p.region(x - 1, y - 1, x + 1, y + 1)]
            self.assertIn(GREEN, near, (x, y))
        # The dark red cross at the centre, 5 pixels each way (GL puts a line
        # through pixel corners on the pixels below and left of them).
        self.assertEqual([y for y in range(cy - 8, cy + 8) if p.at(cx - 1, y) == DARK_RED],
                         list(range(cy - 5, cy + 5)))
        self.assertEqual(p.at(cx - 4, cy - 1), DARK_RED)
        self.assertEqual(p.at(cx + 4, cy - 1), DARK_RED)
        # "Radar" above the panel at (Wd/2 - 12, Ht/3).
        self.assertGreater(p.count(cx - 12, H // 3, cx + 15, H // 3 + 8, GREEN), 10)
        # Dashed rings: green inside the outer ring at radius 0.18 (57.6 px) on some angles.
        inner = sum(1 for _, _, c in p.region(cx - 60, cy - 45, cx + 60, cy + 45) if c == GREEN)
        self.assertGreater(inner, 40)

    def test_crosshair_is_half_strength_dark_blue_above_the_centre(self):
        p = self.pic
        # Tip 0.005 and base 0.01 at z = -0.1: about 21 to 42 pixels above the centre.
        self.assertEqual(p.at(W // 2, H // 2 + 30), (0, 0, 70))
        self.assertEqual(p.at(W // 2, H // 2 - 31), (0, 0, 70))
        self.assertEqual(p.at(W // 2 + 31, H // 2), (0, 0, 70))
        self.assertEqual(p.at(W // 2, H // 2), BLACK)

    def test_asteroid_is_grey_at_its_projected_centre(self):
        x, y = project(-1.6, 0.9, -4.0)
        for _, _, (r, g, b) in self.pic.region(x - 2, y - 2, x + 2, y + 2):
            self.assertTrue(r == g == b and 20 <= r <= 90, (r, g, b))

    def test_nuke_explosion_halo_is_translucent_red(self):
        # Centre (1, 3.2, -9) pulled 1.2 towards the camera.
        d = (1 + 3.2 ** 2 + 81) ** 0.5
        k = 1 - 1.2 / d
        x, y = project(1.0 * k, 3.2 * k, -9.0 * k)
        reds = [c for _, _, c in self.pic.region(x - 2, y - 2, x + 2, y + 2)]
        # Centre alpha 0.5 of 0.6 red: 76 (a star may shine through here and there).
        self.assertGreaterEqual(sum(1 for c in reds if c == (76, 0, 0)), 20)

    def test_shield_halo_tints_the_other_ship(self):
        # Ship at (0.8, -0.35, -1.9), size 0.2; a point near the rim of its halo.
        d = (0.8 ** 2 + 0.35 ** 2 + 1.9 ** 2) ** 0.5
        k = 1 - 0.2 / d
        cx, cy, cz = 0.8 * k, -0.35 * k, -1.9 * k
        x, y = project(cx, cy - 0.17, cz)
        r, g, b = self.pic.at(x, y)
        # Colour (0.5, 0.4, 1.0) near alpha 0.45 adds at least this much.
        self.assertGreaterEqual(b, 100)
        self.assertGreaterEqual(r, 45)
        self.assertGreaterEqual(g, 35)

    def test_powerup_halo_is_green(self):
        # Letter of size 0.1 at (-0.45, -0.28, -1.2); a point near its halo's rim.
        d = (0.45 ** 2 + 0.28 ** 2 + 1.2 ** 2) ** 0.5
        k = 1 - 0.1 / d
        x, y = project(-0.45 * k, -0.28 * k - 0.088, -1.2 * k)
        r, g, b = self.pic.at(x, y)
        self.assertGreaterEqual(g, 60)
        self.assertGreater(g, r)

    def test_explosion_is_drawn_and_stays_within_its_square(self):
        # Kind 5 at age 0.3: half-size (0.6 + 0.25) x 0.2 = 0.17 at depth 3.
        x, y = project(-0.3, 1.0, -3.0)
        self.assertNotEqual(self.pic.at(x, y), BLACK)
        _, y_out = project(-0.3, 1.0 + 0.17 + 0.05, -3.0)
        self.assertLess(sum(self.pic.at(x, y_out)), 30)

    def test_stars_fill_the_sky(self):
        p = self.pic
        sky = sum(1 for _, _, c in p.region(60, 200, 250, 260) if c != BLACK)
        self.assertGreater(sky, 3)


class EmptyViewTest(unittest.TestCase):
    def test_radar_panel_is_free_of_stars(self):
        p = shot("--scene", "empty")
        cx, cy = W // 2, H // 6
        allowed = {BLACK, GREEN, DARK_RED}
        # Inside the outer ring (an ellipse of 86 x 64 pixels), shrunk a little.
        for x, y, c in p.region(cx - 80, cy - 60, cx + 80, cy + 60):
            if ((x - cx) / 80) ** 2 + ((y - cy) / 60) ** 2 < 1:
                self.assertIn(c, allowed, (x, y))


class ReverseViewTest(unittest.TestCase):
    def test_reverse_view_looks_backwards_and_leaves_the_radar_alone(self):
        ahead = shot("--scene", "behind")
        back = shot("--scene", "behind", "--reverse")
        front_left = project(-1.5, 0.0, -5.0)
        # Behind and to the right stays on the right, as in a rear-view mirror.
        rear_right = project(1.5, 0.0, -5.0)
        grey = lambda c: c[0] == c[1] == c[2] and c[0] >= 20  # noqa: E731
        self.assertTrue(grey(ahead.at(*front_left)))
        self.assertEqual(ahead.at(*rear_right), BLACK)
        self.assertTrue(grey(back.at(*rear_right)))
        self.assertEqual(back.at(*front_left), BLACK)
        # The crosshair is not mirrored or moved.
        self.assertEqual(back.at(W // 2, H // 2 + 30), (0, 0, 70))
        cx, cy = W // 2, H // 6
        self.assertEqual(ahead.region(cx - 80, cy - 50, cx + 80, cy + 50),
                         back.region(cx - 80, cy - 50, cx + 80, cy + 50))

    def test_gl_transform_matches_per_vertex_transform(self):
        for extra in ((), ("--reverse",)):
            gl = shot("--scene", "cockpit", *extra)
            cpu = shot("--scene", "cockpit", "--cpu", *extra)
            differing = sum(1 for i in range(0, len(gl.data), 3) if gl.data[i:i + 3] != cpu.data[i:i + 3])
            # Rounding may move a pixel along an edge; nothing more.
            self.assertLess(differing, 200, extra)


class BatchedWorldPassTest(unittest.TestCase):
    def test_batched_frames_equal_per_vertex_frames(self):
        # The batched pass hands GL the very corners, colours and order the
        # per-vertex path sends one call at a time, in the same GL state, so
        # the rasteriser sees the same triangles: no pixel may differ.
        scenes = (("--scene", "cockpit"), ("--scene", "cockpit", "--reverse"),
                  ("--scene", "wrap"), ("--scene", "wrap", "--reverse"), ("--asteroids", "256"))
        for scene in scenes:
            batched = shot(*scene)
            per_vertex = shot(*scene, "--cpu")
            empty = shot("--scene", "empty", *(a for a in scene if a == "--reverse"))
            self.assertNotEqual(batched.data, empty.data, scene)
            differing = sum(1 for i in range(0, len(batched.data), 3)
                            if batched.data[i:i + 3] != per_vertex.data[i:i + 3])
            self.assertEqual(differing, 0, scene)


class OverlayStatesTest(unittest.TestCase):
    def test_game_over_in_single_player(self):
        p = shot("--scene", "gameover")
        mx, my = W // 2 - 7, H // 2
        for y in (my + 20, my, my - 20):
            self.assertGreater(p.count(mx, y, mx + 60, y + 8, BLUE), 10, y)
        # No score line, no gauges; the radar stays.
        self.assertEqual(p.count(10, H - 20, 80, H - 12, GREEN), 0)
        self.assertEqual(p.count(0, 5, W - 1, 20, WHITE), 0)
        self.assertIn(GREEN, [c for _, _, c in p.region(W // 2 - 88, H // 6 - 1, W // 2 - 85, H // 6 + 1)])

    def test_scoreboard_orders_by_score_and_marks_the_own_line(self):
        # Scores 12, 7 (own), 3, match over: lines from Ht - 80 down, 20 apart.
        p = shot("--scene", "scoreboard")
        x = W // 2 - 7
        lines = [H - 80, H - 100, H - 120]
        self.assertGreater(p.count(x, lines[0], x + 80, lines[0] + 8, BLUE), 20)
        self.assertEqual(p.count(x, lines[0], x + 80, lines[0] + 8, RED), 0)
        self.assertGreater(p.count(x, lines[1], x + 80, lines[1] + 8, RED), 20)
        self.assertEqual(p.count(x, lines[1], x + 80, lines[1] + 8, BLUE), 0)
        self.assertGreater(p.count(x, lines[2], x + 80, lines[2] + 8, BLUE), 20)
        self.assertEqual(p.count(x, H - 140, x + 80, H - 132, BLUE), 0)
        # "Game Over" 40 pixels below the top because the match has ended.
        self.assertGreater(p.count(x, H - 40, x + 60, H - 32, BLUE), 15)
        # Starts at Wd/2 - 7: nothing blue just left of it.
        self.assertEqual(p.count(x - 10, H - 125, x - 1, H - 30, BLUE), 0)


class WindowTest(unittest.TestCase):
    def test_window_shows_the_frame_on_the_screen(self):
        out = RUN.tmp / "held.ppm"
        proc = subprocess.Popen([str(HARNESS), "--scene", "gameover", "--out", str(out),
                                 "--hold", "6000"],
                                env=dict(RUN.env, DISPLAY=XSERVER.display),
                                stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(proc.stdout.readline().strip(), "shown")
            found = subprocess.run(["xdotool", "search", "--name", "^Zorbix$", "getwindowgeometry"],
                                   env=dict(RUN.env, DISPLAY=XSERVER.display),
                                   capture_output=True, text=True, timeout=30)
            self.assertEqual(found.returncode, 0)
            geometry = dict(line.strip().split(": ", 1) for line in found.stdout.splitlines()[1:])
            left, top = (int(v) for v in geometry["Position"].split()[0].split(","))
            self.assertEqual(geometry["Geometry"], f"{W}x{H}")
            # No window manager here: the window sits in the screen's corner.
            self.assertEqual((left, top), (0, 0))
            screen = RUN.tmp / "screen.ppm"
            subprocess.run(["import", "-display", XSERVER.display, "-window", "root", "-depth", "8",
                            str(screen)],
                           check=True, timeout=30)
            proc.wait(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
        self.assertEqual(proc.returncode, 0)
        saved = Picture.load(out)
        root = Picture.load(screen)
        # HUD text and the radar ring, where the window sits on the screen
        # (stars may twinkle between frames, so only these are compared).
        checked = 0
        for x, y, colour in saved.region(W // 2 - 90, H // 6 - 70, W // 2 + 90, H // 2 + 30):
            if colour in (BLUE, GREEN, DARK_RED):
                self.assertEqual(root.at(left + x, root.height - top - H + y), colour, (x, y))
                checked += 1
        self.assertGreater(checked, 300)

    def test_missing_texture_ends_with_status_1(self):
        env = dict(RUN.env, DISPLAY=XSERVER.display, ZBX3D_DATA_PREFIX=str(RUN.tmp / "nowhere"))
        proc = subprocess.run([str(HARNESS)], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stdout,
                         f"Error opening {RUN.tmp / 'nowhere'}/zbx3d/textures/explosion.rgb\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
