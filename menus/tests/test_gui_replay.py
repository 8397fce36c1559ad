"""A single-player game of the real zbx3d recorded with "-record" for about five
seconds, then replayed with "-play": the replay draws the world for about as
long and ends in the main menu. Holds the lock of the fixed port 12345."""

import sys
import time
import unittest

sys.path.insert(0, __import__("os").path.dirname(__file__))
import gui_util as g  # noqa: E402


def world_drawn(pic):
    # The HUD (drawn only once the recorded ship is in the mirror) and a lit view.
    return g.hud_shown(pic) and len(pic.lit(0, 640, 40, 440)) > 100


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class RecordAndReplay(unittest.TestCase):
    def setUp(self):
        self.lock = g.PortLock().__enter__()
        g.wait_until(lambda: g.udp_port_free(12345), 30)
        self.x = g.Xvfb().__enter__()
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.stop()
        self.x.__exit__(None, None, None)
        self.lock.__exit__(None, None, None)

    def client(self, *args, home=None):
        c = g.Client(self.x.display, home=home, args=args)
        self.clients.append(c)
        return c

    def test_recorded_game_replays_as_long_and_ends_in_the_menu(self):
        rec = self.client()
        path = rec.tmp / "game.zrec"
        rec.args = ["-record", str(path)]
        rec.start().window()
        rec.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        rec.key("Return")
        rec.wait_screen(g.hud_shown, timeout=40, what="game view")
        time.sleep(5)
        rec.key("p")
        rec.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu after the game")
        rec.key("Up", "Up", "Return")  # "Quit Game"
        self.assertEqual(rec.wait_exit(), 0)
        self.assertEqual(path.read_bytes()[:8], b"ZBX3DREC")

        play = self.client("-play", str(path), home=rec.home)
        play.start().window()
        pic = play.wait_screen(world_drawn, timeout=20, what="replayed world")
        began = time.monotonic()
        # "Replay" in blue at the top centre, 20 pixels below the top.
        self.assertGreater(pic.count(g.BLUE, g.WIDTH // 2 - 40, g.WIDTH // 2 + 40, 5, 25), 10)
        play.wait_screen(lambda p: g.menu_selected(p, 0), timeout=20, what="main menu after the replay")
        self.assertTrue(3.5 < time.monotonic() - began < 8, time.monotonic() - began)
        self.assertNotIn("zbx3d:", play.output())  # no complaint about the file


if __name__ == "__main__":
    unittest.main()
