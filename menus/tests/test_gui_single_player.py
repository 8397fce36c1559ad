"""Single-player games of the real zbx3d under Xvfb with real keys: the view
answers the flight keys and the fire key, the quit key returns to the menu
with the private server gone, and a game over with a qualifying score leads
through the name entry into "scores.dat". Both tests need the fixed port
12345, so they hold a lock around it."""

import sys
import time
import unittest

sys.path.insert(0, __import__("os").path.dirname(__file__))
import gui_util as g  # noqa: E402

SINGLE_PORT = 12345


def stars(pic):
    """Lit pixels of the upper view, without the crosshair and the HUD."""
    return pic.lit(0, 640, 40, 300) - pic.lit(270, 370, 180, 300)


def shot_pixels(pic):
    # The shot model's warm yellow (1.0, 0.85, 0.35) near the crosshair.
    return pic.count_where(lambda r, gr, b: r > 200 and 150 < gr < 235 and b < 160,
                           170, 470, 100, 380)


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class SinglePlayer(unittest.TestCase):
    def setUp(self):
        self.lock = g.PortLock().__enter__()
        g.wait_until(lambda: g.udp_port_free(SINGLE_PORT), 30)
        self.x = g.Xvfb().__enter__()
        self.client = g.Client(self.x.display)

    def tearDown(self):
        self.client.stop()
        self.x.__exit__(None, None, None)
        self.lock.__exit__(None, None, None)

    def test_game_answers_keys_and_quit_returns_with_the_server_ended(self):
        c = self.client.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key("Return")
        c.wait_screen(g.hud_shown, timeout=40, what="game view")
        self.assertFalse(g.udp_port_free(SINGLE_PORT))  # the private server listens

        # Quiet view: most stars stay put (a rock that rams the ship at the
        # start turns it: look again). Rotating and thrusting: they move.
        time.sleep(0.5)
        for _ in range(4):
            a = stars(c.shot())
            b = stars(c.shot())
            if len(a & b) > 0.6 * len(a):
                break
            time.sleep(1.0)
        self.assertGreater(len(a & b), 0.6 * len(a))
        c.hold("d", "i")
        d = stars(c.shot())
        self.assertLess(len(b & d), 0.3 * len(b))

        before = shot_pixels(c.shot())
        seen = 0
        for _ in range(3):  # a shot can hit something at once: fire again
            c.key("j")
            seen = max(shot_pixels(c.shot()) for _ in range(2))
            if seen > before + 15:
                break
        self.assertGreater(seen, before + 15)

        c.key("p")
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu after the game")
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(SINGLE_PORT), 15),
                        "the private server still holds port 12345")
        out = c.output()
        self.assertIn("Adding Player 0", out)
        self.assertIn("Deleting Player 0", out)

        # Straight into a second game: the menu accepts it at once.
        c.key("Return")
        c.wait_screen(g.hud_shown, timeout=40, what="second game")
        c.key("p")
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu after the second game")
        c.key("Up", "Up", "Return")  # "Quit Game"
        self.assertEqual(c.wait_exit(20), 0)

    def test_game_over_leads_to_the_name_entry_and_into_scores_dat(self):
        c = self.client
        userdir = c.prepare()
        # One fragile life in a crowded little world; a table that any score beats.
        g.write_settings(userdir / "ZBXServerSingleConfig", "\n".join([
            "MAX_NUMBER_OF_PLAYERS=1", f"GAME_PORT={SINGLE_PORT}", "START_LIVES=1",
            "START_ARMOR=1", "START_SHIELD=0", "WORLD_WIDTH=2.5", "START_ASTEROIDS=12",
            "MAX_TOTAL_ASTEROID_SIZE=100.0", "NUM_BOTS=6", "START_BOT_RATIO=1.0",
            "BOT_FIRE_TIME=5", ""]))
        g.write_settings(userdir / "scores.dat", "-1 \n" * 10)
        c.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key("Return")
        c.wait_screen(g.hud_shown, timeout=40, what="game view")

        # Fire until the game is over and the fire key opens the name entry.
        def name_entry():
            c.key("j")
            time.sleep(0.3)
            return g.input_box_shown(c.shot())
        self.assertTrue(g.wait_until(name_entry, 120, step=0.5), "no name entry: " + c.output())
        pic = c.shot()
        # "Congratulations, you've made a high score" in blue at (W/2 - 200, H/2 + 50).
        self.assertGreater(pic.text_in_line(g.BLUE, 120, 290, x1=640), 100)

        c.type("Ace Pilot")
        c.key("BackSpace", "t")
        # The typed name in red and the white caret show inside the grey box.
        pic = c.wait_screen(lambda p: p.text_in_line(g.RED, 120, 240, x1=640) > 40,
                            what="typed name")
        self.assertGreater(pic.text_in_line(g.WHITE, 120, 240, x1=640), 20)
        c.key("Return")
        lines = g.wait_until(
            lambda: [ln for ln in (userdir / "scores.dat").read_text().splitlines()
                     if ln.endswith(" Ace Pilot")], 20)
        self.assertEqual(len(lines), 1, (userdir / "scores.dat").read_text())
        self.assertGreaterEqual(int(lines[0].split(" ")[0]), 0)
        # The high-score view follows: "Name" heading in blue at (20, H - 50).
        c.wait_screen(lambda p: p.text_in_line(g.BLUE, 20, 430, x1=80) > 20,
                      what="high-score view")
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(SINGLE_PORT), 15))


if __name__ == "__main__":
    unittest.main()
