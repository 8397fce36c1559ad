"""Black-box checks of the menu screens at 640 x 480: the real zbx3d under
Xvfb, real key presses, and every window pixel compared with the picture the
screen should show (texts in the platform's Helvetica bitmaps, boxes, caret)."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import blackbox_util as b  # noqa: E402

W, H = 640, 480


@unittest.skipUnless(b.have_tools(), "needs Xvfb, xdotool, ImageMagick, freeglut and ZBX3D")
class MenuScreens(unittest.TestCase):
    def setUp(self):
        self.scores = None

    def start(self, **kw):
        self.s = b.Session(W, H, settings=b.SETTINGS_TEXT, **kw)
        self.addCleanup(self.s.close)
        self.values = dict(b.SETTINGS, SCREEN_WIDTH=W, SCREEN_HEIGHT=H)
        self.menu(0)
        return self.s

    def menu(self, selected, what="main menu"):
        self.s.wait_for(b.main_menu(W, H, selected)[0], what=f"{what}, item {selected}")

    def editor(self, selected, first=0, what="editor"):
        c, first = b.editor(W, H, selected, self.values, first)
        self.s.wait_for(c, what=f"{what}, item {selected}")
        return first

    def box(self, prompt, value, what):
        c = self.s.canvas()
        c.input_box(prompt, value)
        self.s.wait_for(c, what=what)

    def still(self, canvas, what):
        """Keys that must change nothing: the screen stays as it was."""
        time.sleep(0.5)
        diffs = canvas.differences(self.s.shot())
        self.assertFalse(diffs, f"{what}: " + b.describe(diffs))

    def test_main_menu_wraps_both_ways_ignores_letters_and_quits_with_0(self):
        s = self.start()
        s.key("Up")
        self.menu(7, "up from the first item")
        s.key("Down")
        self.menu(0, "down from the last item")
        s.key("Down", "a", "5", "space", "BackSpace")
        self.still(b.main_menu(W, H, 1)[0], "letters in the main menu")
        s.client.hold("Down", seconds=1.2)  # past the auto-repeat delay: still one move
        self.menu(2, "a held arrow")
        s.key("Down", "Down", "Down", "Down")
        self.menu(6)
        s.key("Return")
        self.assertEqual(s.client.wait_exit(20), 0)
        self.assertEqual(s.client.output(), "")  # the menus print nothing

    def test_editor_list_values_and_scrolling(self):
        s = self.start()
        s.key("Down", "Down", "Down", "Down", "Return")
        self.editor(0)  # 18 of the 23 items, from 443 down
        s.key("Up")
        first = self.editor(b.EDITOR_LAST, what="up wraps to the last item")
        self.assertEqual(first, b.EDITOR_LAST - 17)
        s.key("Down")
        self.editor(0, first, "down wraps to the first item")
        s.key(*["Down"] * 18)
        first = self.editor(18, 0, "scrolled by one line")
        self.assertEqual(first, 1)
        s.key("Up", "Up", "x", "Tab")
        self.editor(16, first, "up inside the window keeps it")
        s.key(*["Down"] * 6, "Return")
        self.menu(4, "Return To Main Menu")
        s.key("Return")  # the editor comes back as it was left
        self.assertEqual(self.editor(22, 0, "editor again"), 5)

    def test_number_entry_rules_and_volume(self):
        s = self.start()
        s.key("Down", "Down", "Down", "Down", "Return", *["Down"] * 5, "Return")
        prompt = "Enter Volume (Values 0 through 9)"
        self.box(prompt, "9", "volume entry")
        s.key("5", "x")  # one digit already and not 0; a letter is ignored
        c = s.canvas()
        c.input_box(prompt, "9")
        self.still(c, "a digit past the limit")
        s.key("BackSpace")
        self.box(prompt, "0", "backspace leaves 0")
        s.key("BackSpace")
        self.box(prompt, "0", "backspace on 0")
        s.key("5")
        self.box(prompt, "5", "a digit replaces the lone 0")
        s.key("Return")
        self.values["VOLUME"] = 5
        self.editor(5, what="volume applied")

        s.key("Up", "Up", "Up", "Up", "Return")  # "Server Port": five digits already
        prompt = "Enter Server Port"
        self.box(prompt, "23456", "port entry")
        s.key("7")
        s.key("BackSpace", "BackSpace")
        self.box(prompt, "234", "two backspaces")
        s.key("7", "8", "9")
        self.box(prompt, "23478", "digits up to the limit")
        s.key("Return")
        self.values["SERVER_PORT"] = 23478
        self.editor(1, what="port taken")

    def test_text_entry_limit_and_key_capture(self):
        s = self.start()
        s.key("Down", "Down", "Down", "Down", "Return", "Down", "Down", "Return")
        prompt = "Enter Player Name"
        self.box(prompt, "Ace", "player name entry")
        s.client.type("bcdefghijklmnopqrstu")
        self.box(prompt, "Acebcdefghijklmnopq", "19 characters at most")
        s.key("BackSpace", "BackSpace", "Z")
        self.box(prompt, "AcebcdefghijklmnoZ", "backspace and type")
        s.key("Return")
        self.values["PLAYER_NAME"] = "AcebcdefghijklmnoZ"
        self.editor(2, what="name taken")
        s.key("Up", "Up", "Return", *["BackSpace"] * 10)  # "Server IP", limit 15
        self.box("Enter Server IP", "", "backspace down to nothing")
        s.key("BackSpace", "period")
        self.box("Enter Server IP", ".", "backspace on an empty text")
        s.client.type("127.0.0.1111111111")
        self.box("Enter Server IP", ".127.0.0.111111", "15 characters at most")
        s.key("BackSpace", "Return")
        self.values["SERVER_IP"] = ".127.0.0.11111"
        self.editor(0, what="address taken")
        s.key("Down", "Down")

        s.key(*["Down"] * 5, "Return")  # "Fire Key"
        c = s.canvas()
        c.text(W // 2 - 100, H // 2, "Enter key for Enter Fire Key", b.RED)
        s.wait_for(c, what="key prompt")
        s.key("Down")  # special keys do nothing here
        self.still(c, "arrow on the key prompt")
        s.key("z")
        self.values["FIRE_KEY"] = "z"
        self.editor(7, what="fire key bound")
        s.key("Down", "Return", "Return")  # Return itself becomes the shield key
        self.values["SHIELD_KEY"] = "\r"
        self.editor(8, what="shield key bound to Return")

        s.key(*["Down"] * 13, "Return")  # "Save Settings As Defaults" writes the "-cf" file
        order = ["SERVER_IP", "SERVER_PORT", "PLAYER_NAME", "SCREEN_WIDTH", "SCREEN_HEIGHT",
                 "VOLUME", "SCORE_KEY", "FIRE_KEY", "SHIELD_KEY", "WARP_KEY", "NUKE_KEY",
                 "QUIT_KEY", "Z_FORWARD_KEY", "Z_BACKWARD_KEY", "X_FORWARD_ROTATE_KEY",
                 "X_BACKWARD_ROTATE_KEY", "Y_FORWARD_ROTATE_KEY", "Y_BACKWARD_ROTATE_KEY",
                 "Z_FORWARD_ROTATE_KEY", "Z_BACKWARD_ROTATE_KEY", "REVERSE_VIEW_KEY"]
        # The 21 lines of the first games come first; the later settings follow.
        want = "".join(f"{k}={self.values[k]}\n" for k in order) + "SMOOTH_MOTION="
        b.g.wait_until(lambda: s.conf.read_bytes().decode().startswith(want), 10)
        self.assertTrue(s.conf.read_bytes().decode().startswith(want), s.conf.read_bytes())
        self.assertFalse((s.client.userdir / "ZBXConfig").read_text().startswith(want))

    def test_high_score_view_navigation_and_clear(self):
        entries = [(900 - 50 * i, f"Pilot {i}") for i in range(10)]
        s = self.start(files={"scores.dat": "".join(f"{sc} {n}\n" for sc, n in entries)})
        s.key("Up", "Up", "Up", "Return")
        view, rows = b.high_scores(W, H, entries, 0)
        self.assertEqual(rows, 10)  # from 390 down to 165
        s.wait_for(view, what="high-score view")
        for key, sel in (("Down", 1), ("Down", 0), ("Up", 1), ("Up", 0)):
            s.key(key)
            s.wait_for(b.high_scores(W, H, entries, sel)[0], what=f"{key} to item {sel}")
        s.key("Return")
        s.wait_for(b.high_scores(W, H, [(0, "")] * 10, 0)[0], what="cleared table")
        path = s.client.userdir / "scores.dat"
        self.assertEqual(path.read_text(), "0 \n" * 10)
        s.key("Down", "Return")
        self.menu(5, "back from the high scores")


if __name__ == "__main__":
    unittest.main()
