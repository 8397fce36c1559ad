"""Multi-player games of the real zbx3d under Xvfb with real keys: on a server
started from the menu, and two clients against a dedicated "zbx3d -ds" that
see each other on their radar. Ports are free ones picked for each test."""

import sys
import unittest

from zbxtest import Server

sys.path.insert(0, __import__("os").path.dirname(__file__))
import gui_util as g  # noqa: E402


def use_port(userdir, name, key, port, extra=""):
    path = userdir / name
    text = path.read_text()
    lines = [ln for ln in text.splitlines() if not ln.startswith(key + "=")]
    path.write_text("\n".join(lines) + f"\n{key}={port}\n{extra}")


def other_ship_on_radar(pic):
    """Red or dark red blips inside the radar ring, away from its centre cross."""
    cx, cy = 320, 480 - 1 - 480 // 6

    def blip(x, y):
        r, gr, b = pic.at(x, y)
        return gr == 0 and b == 0 and r in (178, 179, 255)
    return sum(1 for y in range(cy - 64, cy + 64) for x in range(cx - 86, cx + 86)
               if (abs(x - cx) > 6 or abs(y - cy) > 6) and blip(x, y))


@unittest.skipUnless(g.have_tools(), "needs Xvfb, xdotool, ImageMagick and ZBX3D")
class MultiPlayer(unittest.TestCase):
    def setUp(self):
        self.cleanup = []

    def tearDown(self):
        for step in reversed(self.cleanup):
            step()

    def display(self):
        x = g.Xvfb().__enter__()
        self.cleanup.append(lambda: x.__exit__(None, None, None))
        return x.display

    def client(self, display, port, name, server_extra=""):
        c = g.Client(display)
        self.cleanup.append(c.stop)
        userdir = c.prepare()
        use_port(userdir, "ZBXConfig", "SERVER_PORT", port, f"PLAYER_NAME={name}\n")
        use_port(userdir, "ZBXServerConfig", "GAME_PORT", port, server_extra)
        return c

    def test_menu_server_hosts_a_game_and_stops(self):
        port = g.free_udp_port()
        c = self.client(self.display(), port, "Host").start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")

        c.key("Down", "Down", "Return")  # "Start ZBX Server"
        self.assertTrue(g.wait_until(lambda: not g.udp_port_free(port), 15), "no server")
        c.key("Up", "Return")  # "Start Multi Player Game"
        c.wait_screen(g.hud_shown, timeout=40, what="game view")
        self.assertIn("Adding Player 0", c.output())
        c.key("p")
        c.wait_screen(lambda p: g.menu_selected(p, 1), what="main menu after the game")
        self.assertFalse(g.udp_port_free(port), "the menu's server must outlive the game")

        c.key("Down", "Down", "Return")  # "Stop ZBX Server"
        self.assertTrue(g.wait_until(lambda: g.udp_port_free(port), 15), "server still runs")
        c.key("Return")  # a second stop is refused; the menu stays
        c.wait_screen(lambda p: g.menu_selected(p, 3), what="menu after a refused stop")
        c.key("Down", "Down", "Down", "Return")
        self.assertEqual(c.wait_exit(20), 0)

    def test_two_clients_on_a_dedicated_server_see_each_other(self):
        # A small world keeps both ships within radar range; nothing else flies.
        server = Server(WORLD_WIDTH=3.0, START_ASTEROIDS=0, NUM_BOTS=0, NEW_ASTEROID_TIME=1000000)
        self.cleanup.append(server.close)
        self.assertIsNone(server.proc.poll(), "no server")
        port = server.port

        clients = [self.client(self.display(), port, name).start() for name in ("Red", "Blue")]
        for c in clients:
            c.window()
            c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
            c.key("Down", "Return")
            c.wait_screen(g.hud_shown, timeout=40, what="game view")
        for c in clients:
            c.wait_screen(lambda p: other_ship_on_radar(p) >= 1, timeout=20,
                          what="the other ship on the radar")
        for c in clients:
            c.key("p")
            c.wait_screen(lambda p: g.menu_selected(p, 1), what="main menu after the game")
            c.key("Down", "Down", "Down", "Down", "Down", "Return")
            self.assertEqual(c.wait_exit(20), 0)


if __name__ == "__main__":
    unittest.main()
