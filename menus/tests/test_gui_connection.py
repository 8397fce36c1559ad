"""The join on screen, a silent server and full screen, with the real zbx3d
under Xvfb and real keys. The servers are small UDP sockets on 127.0.0.1
(zbxtest.FakeServer): one that never answers, one that answers the join and
then sends snapshots only when told."""

import os
import subprocess
import sys
import time
import unittest

from zbxtest import FakeServer

sys.path.insert(0, os.path.dirname(__file__))
import gui_util as g  # noqa: E402

SCREEN_W, SCREEN_H = 1024, 768  # gui_util's Xvfb


def sockets_of(pid):
    fd = f"/proc/{pid}/fd"
    return sum(1 for n in os.listdir(fd) if os.readlink(os.path.join(fd, n)).startswith("socket:"))


def full_shot(client):
    r = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=client.env,
                       capture_output=True, timeout=60)
    return g.Picture.from_ppm(r.stdout)


def window_size(client, wid):
    out = client.xdo("getwindowgeometry", wid).stdout
    size = out.split("Geometry:")[1].split()[0]
    return tuple(int(v) for v in size.split("x"))


def silence_line(pic):
    """Red big-font text on the middle line (baseline at half the height)."""
    return pic.text_in_line(g.RED, 0, g.HEIGHT // 2, g.WIDTH)


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class Connection(unittest.TestCase):
    def start(self, server):
        x = g.Xvfb().__enter__()
        self.addCleanup(x.__exit__, None, None, None)
        self.addCleanup(server.close)
        c = g.Client(x.display)
        self.addCleanup(c.stop)
        userdir = c.prepare()
        g.use_server(userdir, server.port)
        c.start()
        wid = c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        return c, wid

    def shot_at(self, c, since, delay=0.5):
        time.sleep(max(0.0, since + delay - time.monotonic()))
        return c.shot()

    def test_join_shows_its_progress_takes_f11_and_escape_cancels_at_once(self):
        server = g.FakeServer(answer=False)
        c, wid = self.start(server)
        idle_sockets = sockets_of(c.proc.pid)
        c.key("Down")
        t = time.monotonic()
        c.xdo("key", "Return")
        pic = self.shot_at(c, t)
        self.assertFalse(g.menu_selected(pic, 1), "still the main menu")
        self.assertGreater(pic.text_in_line(g.BLUE, 0, g.HEIGHT // 2 + 30, g.WIDTH), 100,
                           "no address line")
        self.assertGreater(pic.text_in_line(g.WHITE, 0, g.HEIGHT // 2, g.WIDTH), 100,
                           "no attempt line")
        server.pump(0.8)
        # The probe, the status query a server of the first games ignores, and
        # (without an answer, half a second later) the join.
        self.assertEqual(server.received[0], b"\x20")
        self.assertTrue(server.received[1].startswith(b"\xff\xff\xff\xffgetstatus "))
        self.assertEqual(server.received[2], b"Pilot".ljust(20, b"\0"))
        self.assertEqual(sockets_of(c.proc.pid), idle_sockets + 1)
        for _ in range(6):  # many times a second, back where it was
            c.xdo("key", "F11")
        time.sleep(0.5)
        self.assertEqual(window_size(c, wid), (g.WIDTH, g.HEIGHT))
        t = time.monotonic()
        c.xdo("key", "Escape")
        self.assertTrue(g.menu_selected(self.shot_at(c, t), 1), "main menu after Escape")
        self.assertEqual(sockets_of(c.proc.pid), idle_sockets, "the join's socket is open")
        # The failure line would stand one blank line under the eight items.
        failed_y = g.MENU_FIRST_Y - g.LINE * 9
        self.assertEqual(c.shot().text_in_line(g.RED, g.MENU_X, failed_y), 0,
                         "cancelled, not failed")
        self.assertNotIn("Failed to connect", c.output())

    def test_silent_server_line_comes_and_goes_and_f11_lays_the_hud_out(self):
        server = g.FakeServer(answer=True)
        c, wid = self.start(server)
        c.key("Down", "Return")
        server.pump(1.0)
        self.assertIsNotNone(server.client, "no join")
        server.send_snapshots(10)
        pic = c.wait_screen(g.hud_shown, timeout=10, what="HUD")
        self.assertLess(silence_line(pic), 20)
        pic = c.wait_screen(lambda p: silence_line(p) > 100, timeout=10, what="silence line")
        server.send_snapshots(3)
        # Gone with the next frame; the line needs 2 s of silence to return.
        c.wait_screen(lambda p: silence_line(p) < 20, timeout=1.5, what="no silence line")

        def right_corner_hud(pic, width):
            # "HyperWarps:" in green at width - 100, 20 pixels below the top.
            return pic.count(g.GREEN, width - 100, width, 5, 25) > 20

        c.xdo("key", "F11")
        self.assertTrue(g.wait_until(lambda: window_size(c, wid) == (SCREEN_W, SCREEN_H), 5))
        server.send_snapshots(20)
        self.assertTrue(right_corner_hud(full_shot(c), SCREEN_W), "HUD in the full-screen corner")
        c.xdo("key", "F11")
        self.assertTrue(g.wait_until(lambda: window_size(c, wid) == (g.WIDTH, g.HEIGHT), 5))
        server.send_snapshots(20)
        self.assertTrue(right_corner_hud(c.shot(), g.WIDTH), "HUD back in the window's corner")
        c.key("p")
        c.wait_screen(lambda p: g.menu_selected(p, 1), what="main menu after the game")
        self.assertIn("SCREEN_WIDTH=640", (c.userdir / "ZBXConfig").read_text())


if __name__ == "__main__":
    unittest.main()
