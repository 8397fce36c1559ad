"""Saves of the real zbx3d under Xvfb: "Save Settings As Defaults" (into a
linked ZBXConfig) and a game over with a qualifying score (from a fake
server), under a file-size limit where every save fails as on a full disk,
and without it."""

import os
import resource
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import gui_util as g  # noqa: E402
from zbxtest import file_size_limit  # noqa: E402


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class FullDisk(unittest.TestCase):
    def play(self, limit):
        """Saves the settings, ends a game with score 42 and enters "Ace"."""
        x = g.Xvfb().__enter__()
        self.addCleanup(x.__exit__, None, None, None)
        server = g.FakeServer(answer=True)
        self.addCleanup(server.close)
        c = g.Client(x.display)
        self.addCleanup(c.stop)
        g.use_server(c.prepare(), server.port)
        link, real = c.userdir / "ZBXConfig", c.home / "ZBXConfig.real"  # kept with dotfiles
        link.rename(real)
        link.symlink_to(real)
        before = {n: (c.userdir / n).read_bytes() for n in ("ZBXConfig", "scores.dat")}
        c.start(preexec_fn=file_size_limit(limit)).window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key(*["Down"] * 4, "Return")
        c.wait_screen(lambda p: g.editor_selected(p, 0), what="configuration editor")
        c.key(*["Down"] * 21, "Return", "Down", "Return")  # save, back to the main menu
        c.wait_screen(lambda p: g.menu_selected(p, 4), what="main menu after the editor")
        c.key("Up", "Up", "Up", "Return")  # join
        server.pump(1.0)

        def name_entry():
            server.send_snapshots(3, score=42, lives=0)
            c.key("j")  # the fire key ends a game that is over
            return g.input_box_shown(c.shot())
        self.assertTrue(g.wait_until(name_entry, 20, step=0.1), "no name entry: " + c.output())
        c.type("Ace\r")
        c.wait_screen(lambda p: p.text_in_line(g.BLUE, 20, 430, x1=80) > 20, what="high scores")
        c.key("Down", "Return", "Up", "Up", "Up", "Return")  # main menu, up past "Find Servers" to "Quit Game"
        self.assertEqual(c.wait_exit(20), 0)
        said = [e for e in c.proc.stderr.read().splitlines(True) if e.startswith("zbx3d:")]
        c.proc.stderr.close()
        self.assertTrue(link.is_symlink())
        self.assertEqual(list(c.home.rglob("*.tmp.*")), [])  # no temporary file left
        return before, said, c.userdir

    def test_full_disk_keeps_both_files_byte_for_byte_and_says_so_and_without_they_are_saved(self):
        before, said, userdir = self.play(16)  # bytes: less than any new file
        self.assertEqual(said, [f"zbx3d: cannot save {userdir}/{n}: File too large\n"
                                for n in ("ZBXConfig", "scores.dat")])
        for name, old in before.items():
            self.assertEqual((userdir / name).read_bytes(), old, name)
        before, said, userdir = self.play(resource.RLIM_INFINITY)
        self.assertEqual(said, [])
        self.assertEqual((userdir / "scores.dat").read_text(), "42 Ace\n" + "0 \n" * 9)
        self.assertRegex((userdir / "ZBXConfig").read_text(), r"^SERVER_IP=127.0.0.1\nSERVER_PORT=")


if __name__ == "__main__":
    unittest.main()
