"""Saves of the real zbx3d under Xvfb when the disk is full: "Save Settings
As Defaults" and a game over with a qualifying score (from a small fake
server), once under a file-size limit, where every save fails as on a full
disk, and once without it."""

import os
import resource
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import gui_util as g  # noqa: E402
from zbxtest import file_size_limit  # noqa: E402

LIMIT = 16  # bytes: less than any new file; the game writes nothing else


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class FullDisk(unittest.TestCase):
    def play(self, limit):
        """Saves the settings, ends a game with score 42 and enters "Ace";
        returns the folder, its two files before, and the client."""
        x = g.Xvfb().__enter__()
        self.addCleanup(x.__exit__, None, None, None)
        server = g.FakeServer(answer=True)
        self.addCleanup(server.close)
        c = g.Client(x.display)
        self.addCleanup(c.stop)
        userdir = c.prepare()
        g.use_server(userdir, server.port)
        before = {n: (userdir / n).read_bytes() for n in ("ZBXConfig", "scores.dat")}
        c.start(preexec_fn=file_size_limit(limit))
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key(*["Down"] * 4, "Return")
        c.wait_screen(lambda p: g.editor_selected(p, 0), what="configuration editor")
        c.key(*["Down"] * 21, "Return", "Down", "Return")  # save, back to the main menu
        c.wait_screen(lambda p: g.menu_selected(p, 4), what="main menu after the editor")
        c.key("Up", "Up", "Up", "Return")  # join the fake server
        server.pump(1.0)
        self.assertIsNotNone(server.client, "no join")

        def name_entry():
            server.send_snapshots(3, score=42, lives=0)
            c.key("j")  # the fire key ends the game once it is over
            return g.input_box_shown(c.shot())
        self.assertTrue(g.wait_until(name_entry, 20, step=0.1), "no name entry: " + c.output())
        c.type("Ace")
        c.key("Return")
        c.wait_screen(lambda p: p.text_in_line(g.BLUE, 20, 430, x1=80) > 20, what="high scores")
        return userdir, before, c

    def quit(self, c):
        c.key("Down", "Return")  # "Return To Main Menu", on the join item
        c.wait_screen(lambda p: g.menu_selected(p, 1), what="main menu after the scores")
        c.key("Up", "Up", "Return")  # "Quit Game"
        self.assertEqual(c.wait_exit(20), 0)

    def test_full_disk_keeps_both_files_byte_for_byte_and_says_so(self):
        userdir, before, c = self.play(LIMIT)
        said = [f"zbx3d: cannot save {userdir}/{n}: File too large\n"
                for n in ("ZBXConfig", "scores.dat")]
        g.wait_until(lambda: len(c.errors) >= 2, 10)
        self.quit(c)
        self.assertEqual([e for e in c.errors if e.startswith("zbx3d:")], said)
        for name, old in before.items():
            self.assertEqual((userdir / name).read_bytes(), old, name)
        self.assertEqual(sorted(os.listdir(userdir)),
                         sorted(["ZBXConfig", "ZBXServerConfig", "ZBXServerSingleConfig",
                                 "scores.dat", "scores.dat.lock"]))

    def test_without_a_limit_both_files_are_written(self):
        userdir, before, c = self.play(resource.RLIM_INFINITY)
        self.quit(c)
        self.assertEqual([e for e in c.errors if e.startswith("zbx3d:")], [])
        scores = (userdir / "scores.dat").read_text()
        self.assertEqual(scores, "42 Ace\n" + "0 \n" * 9)
        settings = (userdir / "ZBXConfig").read_text()
        self.assertTrue(settings.startswith("SERVER_IP=127.0.0.1\nSERVER_PORT="), settings)


if __name__ == "__main__":
    unittest.main()
