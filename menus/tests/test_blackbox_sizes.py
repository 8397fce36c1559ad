"""Black-box checks of the menu layouts at other window sizes: 320 x 240
(the editor scrolls, labels start left of the window), 800 x 600, an odd
size, and a window shrunk to 150 pixels through the editor, where the main
menu itself scrolls and the high-score view has no room for entries."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import blackbox_util as b  # noqa: E402
import gui_util as g  # noqa: E402

# An unbound key shows no value; a volume above 9 is shown as the file has it.
SETTINGS = dict(b.SETTINGS, SCORE_KEY="", VOLUME="12")
SETTINGS_TEXT = "".join(f"{k}={v}\n" for k, v in SETTINGS.items() if v)
ENTRIES = [(50 - i, f"P{i}") for i in range(10)]
SCORES = "".join(f"{sc} {n}\n" for sc, n in ENTRIES)


@unittest.skipUnless(b.have_tools(), "needs Xvfb, xdotool, ImageMagick, freeglut and ZBX3D")
class WindowSizes(unittest.TestCase):
    def start(self, w, h):
        s = b.Session(w, h, settings=SETTINGS_TEXT, files={"scores.dat": SCORES})
        self.addCleanup(s.close)
        self.values = dict(SETTINGS, SCREEN_WIDTH=w, SCREEN_HEIGHT=h)
        return s

    def entry(self, item, title, shown, *typed):
        """At 640 x 480, opens the number entry of editor item `item` and
        types `typed` into it; waits for the box to show `shown`."""
        s = self.start(640, 480)
        s.wait_for(b.main_menu(640, 480, 0)[0], what="main menu")
        s.key("Down", "Down", "Down", "Down", "Return")
        # A loaded machine may draw the editor after the next keys arrive.
        s.wait_for(b.editor(640, 480, 0, self.values)[0], what="editor")
        s.key(*["Down"] * item, "Return", *typed)
        c = s.canvas()
        c.input_box(title, shown)
        s.wait_for(c, what=f"{title}: {shown}")
        return s

    def walk(self, s, editor_first_after_up, rows):
        """Main menu, editor (down to its last item and back), key prompt,
        input box and high-score view at the session's size."""
        w, h = s.width, s.height
        s.wait_for(b.main_menu(w, h, 0)[0], what="main menu")
        s.key("Up")
        s.wait_for(b.main_menu(w, h, 7)[0], what="main menu, last item")
        s.key("Down", "Down", "Down", "Down", "Down", "Return")
        s.wait_for(b.editor(w, h, 0, self.values)[0], what="editor")
        s.key("Up")
        c, first = b.editor(w, h, b.EDITOR_LAST, self.values)
        self.assertEqual(first, editor_first_after_up)
        s.wait_for(c, what="editor, last item")
        s.key("Down", *["Down"] * 7, "Return")  # wraps to the first item, then "Fire Key"
        c = s.canvas()
        c.text(w // 2 - 100, h // 2, "Enter key for Enter Fire Key", b.RED)
        s.wait_for(c, what="key prompt")
        s.expose(c, "key prompt")
        s.key("j", "Up", "Up", "Up", "Up", "Up", "Return")  # "Player Name"
        c = s.canvas()
        c.input_box("Enter Player Name", "Ace")
        s.wait_for(c, what="input box")
        s.expose(c, "input box")
        s.key("Return")
        s.wait_for(b.editor(w, h, 2, self.values, 0)[0], what="editor after the name")
        s.key(*["Up"] * 3, "Return")  # "Return To Main Menu"
        s.wait_for(b.main_menu(w, h, 4)[0], what="main menu again")
        s.key("Down", "Return")
        view, shown = b.high_scores(w, h, ENTRIES, 0)
        self.assertEqual(shown, rows)
        s.wait_for(view, what="high-score view")
        s.key("Up", "Return")
        s.wait_for(b.main_menu(w, h, 5)[0], what="main menu after the scores")

    def test_320_by_240(self):
        self.walk(self.start(320, 240), editor_first_after_up=b.EDITOR_LAST - 7, rows=1)

    def test_800_by_600(self):
        self.walk(self.start(800, 600), editor_first_after_up=b.EDITOR_LAST - 22, rows=10)

    def test_tall_window(self):
        self.walk(self.start(400, 700), editor_first_after_up=b.EDITOR_LAST - 26, rows=10)

    def test_odd_size(self):
        self.walk(self.start(333, 301), editor_first_after_up=b.EDITOR_LAST - 10, rows=4)

    def test_height_150_through_the_editor(self):
        s = self.entry(4, "Enter Screen Height", "480")
        s.key("BackSpace", "BackSpace", "BackSpace", "1", "5", "0", "Return")
        s.resized(640, 150)
        self.values["SCREEN_HEIGHT"] = 150
        # Both lists are rebuilt for the new height: their selections start over.
        s.wait_for(b.editor(640, 150, 0, self.values)[0], what="editor at height 150")
        s.key("Up", "Return")
        menu = [b.main_menu(640, 150, 0)]
        s.wait_for(menu[0][0], what="five-line main menu")
        s.key("Up")
        c, first = b.main_menu(640, 150, 7)
        self.assertEqual(first, 3)
        s.wait_for(c, what="main menu scrolled to its last item")
        s.key("Down", *["Down"] * 5)
        c, first = b.main_menu(640, 150, 5)
        self.assertEqual(first, 1)
        s.wait_for(c, what="main menu scrolled to View High Scores")
        s.key("Return")
        view, shown = b.high_scores(640, 150, ENTRIES, 0)
        self.assertEqual(shown, 0)
        s.wait_for(view, what="high-score view without entries")
        s.key("Down", "Return")
        s.wait_for(b.main_menu(640, 150, 5, first)[0], what="main menu again")

    def test_width_6400_then_64(self):
        s = self.entry(3, "Enter Screen Width", "6400", "0")
        s.key("BackSpace", "BackSpace")
        c = s.canvas()
        c.input_box("Enter Screen Width", "64")
        s.wait_for(c, what="width 64")
        s.key("Return")
        self.assertTrue(g.wait_until(lambda: "Geometry: 64x480" in s.client.xdo(
            "search", "--name", "^Zorbix$", "getwindowgeometry").stdout, 15), "window not 64 wide")
        s.resized(64, 480)
        self.values["SCREEN_WIDTH"] = 64
        s.wait_for(b.editor(64, 480, 0, self.values)[0], what="editor 64 pixels wide")


if __name__ == "__main__":
    unittest.main()
