#!/usr/bin/env python3
"""Status queries on the game port of a real "zbx3d -ds": what QStat reads
from it, the rate limits under floods from one and from many loopback
addresses (with the game keeping its pace meanwhile), and registration with a
stand-in master server."""

import shutil
import socket
import subprocess
import threading
import time
import unittest

import test_blackbox_lib as lib
from standin_master import StandInMaster, parse_info

PREFIX = b"\xff\xff\xff\xff"


def query(sock, port, text):
    sock.sendto(PREFIX + text, ("127.0.0.1", port))


def answers(sock, seconds):
    """Everything that arrives on sock within seconds."""
    got, deadline = [], time.time() + seconds
    while True:
        sock.settimeout(max(0.001, deadline - time.time()))
        try:
            got.append(sock.recv(4096))
        except socket.timeout:
            return got


class QueryTest(lib.ServerTestCase):

    @unittest.skipUnless(shutil.which("quakestat"), "qstat is not installed")
    def test_quakestat_reads_name_players_and_scores(self):
        server = self.server(NUM_BOTS=2, SERVER_NAME="Arena51", MAX_NUMBER_OF_PLAYERS=6)
        pilot, _ = self.joined(server, "Pilot")
        self.assertIsNotNone(pilot.snapshots(1))
        out = subprocess.run(["quakestat", "-q3s", "127.0.0.1:%d" % server.port, "-P", "-raw", ","],
                             capture_output=True, text=True, timeout=30).stdout
        lines = out.splitlines()
        # Server line: type, address, name, map, maximum, players, ...
        head = lines[0].split(",")
        self.assertEqual(head[2], "Arena51", out)
        self.assertEqual(head[3], "cube10")
        self.assertEqual((head[4], head[5]), ("6", "3"))
        players = {line.split(",")[0]: line.split(",")[1] for line in lines[1:] if line}
        self.assertEqual(players, {"Bot 1": "0", "Bot 2": "0", "Pilot": "0"}, out)

    def test_rate_limits_hold_and_the_game_keeps_its_pace(self):
        # A shot lives 100 steps: two seconds at 50 steps a second.
        server = self.server(START_ASTEROIDS=0, NEW_ASTEROID_TIME=10000000, SHOT_ALIVE_TIME=100)
        player, _ = self.joined(server)
        one = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        one.bind(("127.0.0.1", 0))
        many = []
        for k in range(2, 52):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("127.0.0.%d" % k, 0))
            many.append(s)
        # The player watches its shot from another thread while the floods run.
        seen = []

        def watch():
            deadline = time.time() + 5
            while time.time() < deadline:
                for snap in player.snapshots(seconds=0.05):
                    seen.append((snap.arrived, bool(snap.objects_of(2))))
        watcher = threading.Thread(target=watch)
        try:
            player.send(lib.press(lib.FIRE))
            watcher.start()
            # A second of queries from one address: a burst of ten, then one more.
            start = time.time()
            sent = 0
            while time.time() - start < 1.0:
                query(one, server.port, b"getstatus c%d" % sent)
                sent += 1
                time.sleep(0.002)
            got = answers(one, 0.3)
            self.assertGreater(sent, 100)
            self.assertTrue(10 <= len(got) <= 12, len(got))

            # From fifty addresses at once: no more than the global bucket lets
            # through (ten, then ten a second), whoever asks.
            time.sleep(1.1)
            start = time.time()
            while time.time() - start < 1.0:
                for s in many:
                    query(s, server.port, b"getinfo x")
                time.sleep(0.01)
            time.sleep(0.3)
            total = sum(len(answers(s, 0.01)) for s in many)
            # However late the server got through the flood, the global
            # bucket allowed ten and one more every 100 ms since it began.
            allowed = 10 + 10 * (time.time() - start) + 1
            self.assertTrue(10 <= total <= allowed, (total, allowed))

            # The shot fired as the floods began lived its hundred steps in two
            # seconds all the same.
            watcher.join()
            shown = [t for t, shot in seen if shot]
            self.assertTrue(shown)
            gone = [t for t, shot in seen if not shot and t > shown[0]]
            self.assertTrue(gone)
            self.assertAlmostEqual(gone[0] - shown[0], 2.0, delta=0.25)
        finally:
            one.close()
            for s in many:
                s.close()

    def test_junk_queries_get_no_answer_and_harm_nothing(self):
        server = self.server()
        player, _ = self.joined(server)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", 0))
        try:
            for junk in (b"", b"getinfo\\x", b"nonsense", b"getinfo \x01\x02", b"\xff" * 40,
                         b"getstatus " + b"y" * 1500):
                query(sock, server.port, junk)
            got = answers(sock, 0.5)
            # Only the over-long challenge is answered, cut to 64 bytes.
            self.assertEqual(len(got), 1, got)
            info = parse_info(got[0].split(b"\n", 1)[1])
            self.assertEqual(info["challenge"], "y" * 64)
            self.assertLessEqual(len(got[0]), 1400)
            self.assertTrue(player.snapshots(3))
        finally:
            sock.close()

    def test_master_hears_a_heartbeat_and_lists_the_server(self):
        master = StandInMaster()
        try:
            server = self.server(MASTER_SERVERS="127.0.0.1:%d,no-such-host.invalid:1" % master.port,
                                 SERVER_NAME="Listed")
            self.assertTrue(lib.zbxtest.wait_until(lambda: master.registered, 5, step=0.05))
            self.assertTrue(master.heartbeats[0][1].startswith(b"heartbeat DarkPlaces\n"))
            info = next(iter(master.registered.values()))
            self.assertEqual((info["gamename"], info["hostname"]), ("Zorbix", "Listed"))
            # Full and empty again: a heartbeat each time.
            before = len(master.heartbeats)
            full = [self.joined(server, "P%d" % i)[0] for i in range(4)]
            self.assertTrue(lib.zbxtest.wait_until(lambda: len(master.heartbeats) > before, 5))
            for c in full:
                c.send(lib.press(lib.QUIT))
            self.assertTrue(lib.zbxtest.wait_until(lambda: len(master.heartbeats) > before + 1, 8))
            # A client's getservers lists it.
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sock.bind(("127.0.0.1", 0))
            sock.sendto(PREFIX + b"getservers Zorbix 1 empty full", ("127.0.0.1", master.port))
            reply = answers(sock, 1.0)
            sock.close()
            self.assertEqual(len(reply), 1)
            entry = b"\\" + socket.inet_aton("127.0.0.1") + server.port.to_bytes(2, "big")
            self.assertIn(entry, reply[0])
            self.assertTrue(reply[0].endswith(b"\\EOT\0\0\0"))

            # The headless client, given the master by its host name, lists the
            # server from the master's answer with what the server itself says.
            out = subprocess.run([lib.zbxtest.BOTCLIENT, "-B", "-m", "localhost:%d" % master.port],
                                 capture_output=True, text=True, timeout=30).stdout
            lines = out.splitlines()
            self.assertEqual(len(lines), 1, out)
            words = lines[0].split()
            self.assertEqual(words[:2], ["server", "127.0.0.1:%d" % server.port], out)
            fields = dict(kv.split("=", 1) for kv in words[2:])
            self.assertEqual((fields["players"], fields["found"], fields["name"]),
                             ("0/4", "master", "Listed"))
        finally:
            master.close()


if __name__ == "__main__":
    unittest.main()
