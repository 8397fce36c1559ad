"""Find Servers with the real zbx3d under Xvfb and real keys: two dedicated
servers on ports of the LAN range answer the broadcast to 127.255.255.255 and
are listed by name, Return joins the selected one (and only that one) and
puts it into the recent-servers file, and Escape comes back to the main menu
with its items where they were."""

import os
import sys
import unittest

from zbxtest import Server

sys.path.insert(0, os.path.dirname(__file__))
import blackbox_util as b  # noqa: E402
import gui_util as g  # noqa: E402

W, H = 640, 480
LAN_PORTS = range(12346, 12354)
NAME_X, FIRST_ROW_Y = 10, H - 95  # where the list's first name is drawn


@unittest.skipUnless(b.have_tools(), "needs Xvfb, xdotool, ImageMagick, freeglut and ZBX3D")
class FindServers(unittest.TestCase):
    def shows(self, pic, name, row):
        """The name on that row of the list, selected (white) or not (blue)."""
        for colour in (b.WHITE, b.BLUE):
            c = self.s.canvas()
            c.text(NAME_X, FIRST_ROW_Y - g.LINE * row, name, colour)
            if not c.missing(pic):
                return True
        return False

    def listed(self):
        """The names of the first two rows, when they are those of our servers."""
        pic = self.s.shot()
        for order in (("Alpha", "Bravo"), ("Bravo", "Alpha")):
            if all(self.shows(pic, name, row) for row, name in enumerate(order)):
                return order
        return None

    def test_lan_servers_are_listed_joined_and_left(self):
        lock = g.PortLock("lan_ports").__enter__()
        self.addCleanup(lock.__exit__, None, None, None)
        free = [p for p in LAN_PORTS if g.udp_port_free(p)]
        if len(free) < 2:
            self.skipTest("fewer than two free ports in 12346..12353")
        servers = {}
        for name, port in (("Alpha", free[0]), ("Bravo", free[-1])):
            servers[name] = Server(port=port, SERVER_NAME=name)
            self.addCleanup(servers[name].close)
            self.assertIsNone(servers[name].proc.poll(), name)
        self.s = b.Session(W, H, settings=b.SETTINGS_TEXT + "BROADCAST_ADDRESS=127.255.255.255\n")
        self.addCleanup(self.s.close)
        s = self.s

        s.wait_for(b.main_menu(W, H, 0)[0], what="main menu")
        s.key("Up")
        s.wait_for(b.main_menu(W, H, 7)[0], what="Find Servers selected")
        s.key("Return")
        order = g.wait_until(self.listed, 15)
        self.assertTrue(order, "both servers listed by name, one a line")

        s.key("Return")  # the first row is selected
        joined, other = servers[order[0]], servers[order[1]]
        self.assertTrue(joined.wait_output("Adding Player 0", 20), joined.output())
        s.client.wait_screen(g.hud_shown, timeout=40, what="game view")
        self.assertNotIn("Adding Player", other.output())
        recent = s.client.userdir / "ZBXServers"
        self.assertEqual(recent.read_text(), f"127.0.0.1:{joined.port}\n")

        s.key("p")  # the quit key
        s.wait_for(b.main_menu(W, H, 7)[0], what="main menu after the game")
        s.key("Return")  # the list is still there while it is asked again
        self.assertTrue(g.wait_until(self.listed, 5), "the list after the game")
        s.key("Escape")
        s.wait_for(b.main_menu(W, H, 7)[0], what="main menu after Escape")
        self.assertEqual(s.client.output().count("Adding Player"), 0)  # the client said nothing


if __name__ == "__main__":
    unittest.main()
