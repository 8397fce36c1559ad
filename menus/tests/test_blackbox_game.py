"""Black-box checks of the game screens of a single-player game at 800 x 600:
the HUD texts and gauges at their places, no scoreboard in a single-player
game, the game-over texts without gauges, then the fire key into the name
entry and the high-score view with the new entry. The private server needs
the fixed port 12345, so the test holds the lock the other game tests use."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import blackbox_util as b  # noqa: E402
import gui_util as g  # noqa: E402

W, H = 800, 600
PORT = 12345
QUIET = ("MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=12345\nSTART_LIVES=2\nSTART_WARPS=3\n"
         "START_NUKES=4\nMAX_SHIELD=300\nSTART_SHIELD=150\nMAX_ARMOR=1000\nSTART_ARMOR=1000\n"
         "START_ASTEROIDS=0\nNUM_BOTS=0\nNEW_ASTEROID_TIME=100000000\n")
# One life that the first knock ends, in a small world full of asteroids.
DEADLY = ("MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=12345\nSTART_LIVES=1\nSTART_ARMOR=1\n"
          "START_SHIELD=0\nWORLD_WIDTH=1.5\nSTART_ASTEROIDS=20\nMAX_TOTAL_ASTEROID_SIZE=100.0\n"
          "NUM_BOTS=0\n")


def hud():
    c = b.Canvas(W, H)
    c.text(10, H - 20, "Score:  0", b.GREEN, b.SMALL)
    c.text(10, H - 35, "Lives:  2", b.GREEN, b.SMALL)
    c.text(W - 100, H - 20, "HyperWarps:  3", b.GREEN, b.SMALL)
    c.text(W - 100, H - 35, "Nukes:  4", b.GREEN, b.SMALL)
    c.text(W // 2 - 12, H // 3, "Radar", b.GREEN, b.SMALL)
    shield = c.text(10, 10, "Shield: ", b.GREEN, b.SMALL)
    c.rect(shield + 6, 10, shield + 6 + 150 * 38 // 300, 17, b.BLUE)  # half full: 19
    armor = c.text(W - 100, 10, "Armor: ", b.GREEN, b.SMALL)
    c.rect(armor + 6, 10, armor + 6 + 38, 17, b.BLUE)
    return c, shield


def game_over():
    c = b.Canvas(W, H)
    c.text(W // 2 - 7, H // 2 + 20, "Game Over", b.BLUE, b.SMALL)
    c.text(W // 2 - 7, H // 2, "Player Score: 0", b.BLUE, b.SMALL)
    c.text(W // 2 - 7, H // 2 - 20, "Press Fire key to continue", b.BLUE, b.SMALL)
    return c


def name_entry(name):
    c = b.Canvas(W, H)
    c.text(W // 2 - 200, H // 2 + 50, "Congratulations, you've made a high score", b.BLUE)
    c.input_box("Enter Name", name)
    return c


@unittest.skipUnless(b.have_tools(), "needs Xvfb, xdotool, ImageMagick, freeglut and ZBX3D")
class SinglePlayerScreens(unittest.TestCase):
    def setUp(self):
        lock = g.PortLock().__enter__()
        self.addCleanup(lock.__exit__, None, None, None)
        g.wait_until(lambda: g.udp_port_free(PORT), 30)

    def test_hud_game_over_name_entry_and_new_high_score(self):
        s = b.Session(W, H, settings=b.SETTINGS_TEXT, files={"scores.dat": "-1 \n" * 10, "ZBXServerSingleConfig": QUIET})
        self.addCleanup(s.close)
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu")
        s.key("Return")
        expected, shield_end = hud()
        s.wait_missing(expected, timeout=40, what="HUD")
        pic = s.shot()
        # The shield gauge stops after 19 of its 38 pixels.
        self.assertNotEqual(pic.at(shield_end + 6 + 19, H - 1 - 13), b.BLUE)

        s.client.xdo("keydown", "o")  # the score key shows no table in a single-player game
        time.sleep(0.4)
        pic = s.shot()
        s.client.xdo("keyup", "o")
        table = [pic.count(colour, W // 2 - 7, W, 30, 130) for colour in (b.RED, b.BLUE)]
        self.assertEqual(table, [0, 0])

        s.key("p")
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu after the quit key")
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(PORT), 15))
        # Leaving with the quit key reloads the client settings from the file.
        values = dict(b.SETTINGS, SCREEN_WIDTH=W, SCREEN_HEIGHT=H)
        s.key("Down", "Down", "Down", "Down", "Return", "Up")
        s.wait_for(b.editor(W, H, b.EDITOR_LAST, values)[0], what="editor after the quit key")
        s.key("Return", "Up", "Up", "Up", "Up")
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu again")

        (s.client.userdir / "ZBXServerSingleConfig").write_text(DEADLY)
        self.play_to_game_over(s)
        s.key("j")
        s.wait_for(name_entry(""), what="name entry")
        s.expose(name_entry(""), "name entry")
        s.client.type("Ace Pilox")
        s.key("BackSpace", "t")
        s.wait_for(name_entry("Ace Pilot"), what="typed name")
        s.key("Return")
        entries = [(0, "Ace Pilot")] + [(-1, "")] * 9
        s.wait_for(b.high_scores(W, H, entries, 0)[0], what="high-score view")
        self.assertEqual((s.client.userdir / "scores.dat").read_text(),
                         "0 Ace Pilot\n" + "-1 \n" * 9)
        s.key("Return")  # "Clear High Scores": a score of 0 no longer earns a place
        s.wait_for(b.high_scores(W, H, [(0, "")] * 10, 0)[0], what="cleared view")
        s.key("Down", "Return")
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu after the scores")

        # A game over keeps the loop-back server of the single-player game.
        values.update(SERVER_IP="127.0.0.1", SERVER_PORT=PORT)
        s.key("Down", "Down", "Down", "Down", "Return")
        s.wait_for(b.editor(W, H, b.EDITOR_LAST, values)[0], what="editor after a game over")
        s.key("Return", "Up", "Up", "Up", "Up")
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu before the last game")
        self.play_to_game_over(s)
        s.key("j")
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu after a game over without a place")
        s.key("Up", "Up", "Return")  # "Quit Game"
        self.assertEqual(s.client.wait_exit(20), 0)

    def play_to_game_over(self, s):
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(PORT), 15))
        s.key("Return")
        time.sleep(2)
        s.client.xdo("keydown", "i")  # thrust into the asteroids
        try:
            s.wait_missing(game_over(), timeout=60, what="game-over texts")
        finally:
            s.client.xdo("keyup", "i")
        pic = s.shot()
        # Neither the top texts nor the gauges are drawn after the last life.
        self.assertEqual(pic.count(b.GREEN, 0, 200, 0, 45), 0)
        self.assertEqual(pic.count(b.GREEN, 0, 200, H - 25, H), 0)
        self.assertEqual(pic.count(b.GREEN, W - 100, W, H - 25, H), 0)


@unittest.skipUnless(b.have_tools(), "needs Xvfb, xdotool, ImageMagick, freeglut and ZBX3D")
class DeathmatchScreens(unittest.TestCase):
    def test_no_lives_line_and_the_score_table_while_the_key_is_held(self):
        port = g.free_udp_port()
        server = (f"MAX_NUMBER_OF_PLAYERS=4\nGAME_PORT={port}\nGAME_TYPE=2\nSTART_WARPS=1\n"
                  "START_NUKES=0\nSTART_ASTEROIDS=0\nNUM_BOTS=0\nNEW_ASTEROID_TIME=100000000\n")
        s = b.Session(W, H, settings=b.SETTINGS_TEXT + f"SERVER_PORT={port}\n",
                      files={"ZBXServerConfig": server})
        self.addCleanup(s.close)
        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu")
        s.key("Down", "Down", "Return")  # "Start ZBX Server"
        self.assertTrue(g.wait_until(lambda: not g.udp_port_free(port), 15), "no server")
        s.key("Up", "Up", "Return")  # no single-player game while that server runs
        time.sleep(1.5)
        diffs = b.main_menu(W, H, 0)[0].differences(s.shot())
        self.assertFalse(diffs, "refused single-player start: " + b.describe(diffs))
        s.key("Down", "Return")  # "Start Multi Player Game"
        c = b.Canvas(W, H)
        c.text(10, H - 20, "Score:  0", b.GREEN, b.SMALL)
        c.text(W - 100, H - 20, "HyperWarps:  1", b.GREEN, b.SMALL)
        c.text(W - 100, H - 35, "Nukes:  0", b.GREEN, b.SMALL)
        s.wait_missing(c, timeout=40, what="deathmatch HUD")
        self.assertEqual(s.shot().count(b.GREEN, 0, 200, 30, 45), 0, "a lives line")

        table = b.Canvas(W, H)
        table.text(W // 2 - 7, H - 80, "Ace Score: 0", b.RED, b.SMALL)
        s.client.xdo("keydown", "o")
        try:
            s.wait_missing(table, timeout=10, what="score table")
        finally:
            s.client.xdo("keyup", "o")
        g.wait_until(lambda: s.shot().count(b.RED, W // 2 - 7, W, 70, 90) == 0, 10)
        self.assertEqual(s.shot().count(b.RED, W // 2 - 7, W, 70, 90), 0, "table after release")
        s.key("p")
        s.wait_for(b.main_menu(W, H, 1)[0], what="main menu after the game")
        s.key("Down", "Down", "Return")  # "Stop ZBX Server"
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(port), 15), "server still runs")


if __name__ == "__main__":
    unittest.main()
