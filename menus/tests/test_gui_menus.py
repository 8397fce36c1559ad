"""The real zbx3d under Xvfb, driven with real key events: the main menu,
its navigation, the configuration editor and "Quit Game"."""

import sys
import time
import unittest

sys.path.insert(0, __import__("os").path.dirname(__file__))
import gui_util as g  # noqa: E402


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class MainMenu(unittest.TestCase):
    def setUp(self):
        self.x = g.Xvfb().__enter__()
        self.client = g.Client(self.x.display)

    def tearDown(self):
        self.client.stop()
        self.x.__exit__(None, None, None)

    def test_menu_appears_arrows_wrap_and_quit_ends_with_status_0(self):
        c = self.client.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        pic = c.shot()
        for i in range(1, 8):  # the other seven in blue, one line apart
            self.assertGreater(pic.text_in_line(g.BLUE, g.MENU_X, g.MENU_FIRST_Y - g.LINE * i), 30, i)
        self.assertEqual(pic.text_in_line(g.WHITE, 0, 100, x1=640), 0)  # nothing below the list

        c.key("Up")
        c.wait_screen(lambda p: g.menu_selected(p, 7), what="wrap to Find Servers")
        c.key("Down")
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="wrap to the first item")
        c.key("Down", "a", "5")  # letters and digits do nothing in a list
        c.wait_screen(lambda p: g.menu_selected(p, 1), what="second item")

        c.key("Up", "Up", "Up", "Return")  # "Quit Game"
        self.assertEqual(c.wait_exit(20), 0)

    def test_editor_changes_volume_and_fire_key_and_saves_21_lines(self):
        c = self.client.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key("Down", "Down", "Down", "Down", "Return")
        c.wait_screen(lambda p: g.editor_selected(p, 0), what="configuration editor")

        c.key(*["Down"] * 5, "Return")  # "Volume"
        c.wait_screen(g.input_box_shown, what="volume entry")
        c.key("BackSpace", "5", "Return")
        c.wait_screen(lambda p: g.editor_selected(p, 5), what="editor after the volume")

        c.key("Down", "Down", "Return")  # "Fire Key"
        prompt_line = 240
        c.wait_screen(lambda p: p.text_in_line(g.RED, 220, prompt_line, x1=640) > 40,
                      what="key prompt")
        c.key("f")
        c.wait_screen(lambda p: g.editor_selected(p, 7), what="editor after the key")

        c.key(*["Down"] * 14, "Return")  # "Save Settings As Defaults"
        path = c.userdir / "ZBXConfig"

        def saved():
            text = path.read_text(errors="replace")
            # The 21 lines of the first games, then the later settings.
            first = text.split("SMOOTH_MOTION=")[0]
            return text if first.count("\n") == 21 and text.startswith("SERVER_IP=") else None
        text = g.wait_until(saved, 20)
        self.assertTrue(text, path.read_text(errors="replace"))
        lines = text.splitlines()
        self.assertEqual(lines[5], "VOLUME=5")
        self.assertEqual(lines[7], "FIRE_KEY=f")
        self.assertEqual(lines[3:5], ["SCREEN_WIDTH=640", "SCREEN_HEIGHT=480"])

        c.key("Down", "Return")  # "Return To Main Menu"
        c.wait_screen(lambda p: g.menu_selected(p, 4), what="main menu again")
        c.key("Down", "Down", "Return")
        self.assertEqual(c.wait_exit(20), 0)


if __name__ == "__main__":
    unittest.main()
