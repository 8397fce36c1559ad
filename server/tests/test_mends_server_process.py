#!/usr/bin/env python3
"""zbx3d -ds fed with settings that would stop, stall or poison a server, and a
forged join that never speaks again. Each server must keep running, answer
joins and quits, send only finite numbers, and drop the silent client without
any other traffic arriving.

Every process and wait is bounded; each server has its own free port,
temporary HOME and settings file ("-scf"). Only 127.0.0.1 is used."""

import math
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

ZBX3D = os.environ.get("ZBX3D", "")

PRESENCE, PLAYER, OBJECT, SOUND = 0, 1, 2, 3
SIZES = {PRESENCE: 546, PLAYER: 109, OBJECT: 61, SOUND: 17}
# Byte offsets of every float in each message type.
FLOATS = {
    OBJECT: [9 + 4 * i for i in range(13)],  # position, size, orientation
    PLAYER: [37, 41, 45, 69] + [73 + 4 * i for i in range(9)],
    SOUND: [5, 9, 13],
}


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_taken(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("0.0.0.0", port))
            return False
        except OSError:
            return True


class Snapshot:
    def __init__(self):
        self.floats = []
        self.objects = {}  # slot -> (kind, position)
        self.players = {}
        self.presences = 0


def parse(datagram, into):
    """Adds the messages of one snapshot datagram to `into`; False when the
    datagram is malformed."""
    at = 0
    while at < len(datagram):
        kind = datagram[at]
        size = SIZES.get(kind)
        if size is None or at + size > len(datagram):
            return False
        msg = datagram[at:at + size]
        for off in FLOATS.get(kind, []):
            into.floats.append(struct.unpack_from("<f", msg, off)[0])
        if kind == PRESENCE:
            into.presences += 1
        elif kind == OBJECT:
            k, slot = struct.unpack_from("<ii", msg, 1)
            into.objects[slot] = (k, struct.unpack_from("<3f", msg, 9))
        elif kind == PLAYER:
            slot = struct.unpack_from("<i", msg, 5)[0]
            into.players[slot] = struct.unpack_from("<3f", msg, 37)
        at += size
    return True


class Client:
    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.to = ("127.0.0.1", port)

    def send(self, data):
        self.sock.sendto(data, self.to)

    def join(self, name, wait=3.0):
        """(slot, world width) of the JoinReply, or None."""
        self.send(name.encode().ljust(20, b"\0"))
        for d in self.receive_all(wait, stop_at_first=True):
            if len(d) == 20:
                slot = struct.unpack_from(">H", d, 6)[0]
                return slot, struct.unpack_from("<f", d, 8)[0]
        return None

    def receive_all(self, seconds, stop_at_first=False):
        out = []
        until = time.time() + seconds
        while time.time() < until:
            self.sock.settimeout(max(0.01, until - time.time()))
            try:
                d, _ = self.sock.recvfrom(4096)
            except socket.timeout:
                break
            out.append(d)
            if stop_at_first:
                break
        return out

    def close(self):
        self.sock.close()


class Server:
    def __init__(self, **settings):
        self.home = tempfile.mkdtemp(prefix="zbx-mends-")
        self.port = free_port()
        settings.setdefault("MAX_NUMBER_OF_PLAYERS", 4)
        settings["GAME_PORT"] = self.port
        self.conf = os.path.join(self.home, "server.conf")
        with open(self.conf, "w") as f:
            for key, value in settings.items():
                f.write("%s=%s\n" % (key, value))
        self.out_path = os.path.join(self.home, "server.out")
        self.out = open(self.out_path, "w")
        # Standard error holds the "listening" line and any sanitizer report.
        self.err = open(os.path.join(self.home, "server.err"), "w")
        self.proc = subprocess.Popen([ZBX3D, "-ds", "-scf", self.conf], stdout=self.out,
                                     stderr=self.err,
                                     env=dict(os.environ, HOME=self.home))
        deadline = time.time() + 5
        while time.time() < deadline and not port_taken(self.port):
            time.sleep(0.02)

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()
        self.err.close()
        shutil.rmtree(self.home, ignore_errors=True)


class UnsafeSettings(unittest.TestCase):
    def play(self, settings, seconds=1.5):
        """Joins the server, listens, quits; returns what was seen."""
        s = Server(NUM_BOTS=2, START_ASTEROIDS=6, **settings)
        self.addCleanup(s.close)
        c = Client(s.port)
        self.addCleanup(c.close)
        joined = c.join("Probe")
        self.assertIsNotNone(joined, "no JoinReply with %s" % settings)
        slot, width = joined
        first, last = Snapshot(), Snapshot()
        datagrams = c.receive_all(seconds)
        for d in datagrams:
            self.assertTrue(parse(d, last), "malformed snapshot with %s" % settings)
        if datagrams:
            parse(datagrams[0], first)
        c.send(bytes([15 + 16]))  # quit
        ack = [d for d in c.receive_all(1.0) if d == b"\0"]
        return s, slot, width, datagrams, first, last, ack

    def check_finite(self, settings, width, last):
        self.assertTrue(math.isfinite(width) and width > 0, (settings, width))
        bad = [x for x in last.floats if not math.isfinite(x)]
        self.assertEqual(bad, [], settings)
        for pos in list(last.players.values()) + [p for _, p in last.objects.values()]:
            for x in pos:
                self.assertLessEqual(abs(x), width * 1.01, (settings, pos))

    def test_game_sleep_below_one_still_runs_a_moving_world(self):
        for value in (0, -1):
            settings = {"GAME_SLEEP": value}
            s, slot, width, datagrams, first, last, ack = self.play(settings)
            self.assertEqual(slot, 2)  # after the two bots
            self.check_finite(settings, width, last)
            self.assertGreater(len(datagrams), 10, settings)
            moved = [k for k, (kind, pos) in last.objects.items()
                     if kind == 3 and k in first.objects and first.objects[k][1] != pos]
            self.assertTrue(moved, "the world stands still with %s" % settings)
            self.assertEqual(len(ack), 1, settings)
            self.assertIsNone(s.proc.poll(), settings)
            again = Client(s.port)
            self.addCleanup(again.close)
            self.assertIsNotNone(again.join("Again"), settings)

    def test_huge_net_sleep_time_sends_at_once_and_keeps_listening(self):
        settings = {"NET_SLEEP_TIME": 2147483647}
        s, slot, width, datagrams, first, last, ack = self.play(settings, seconds=1.0)
        # One snapshot at the join, then a long pause: neither silence nor a
        # flood from a pause that overflowed.
        self.assertEqual(last.presences, 1)
        self.check_finite(settings, width, last)
        self.assertEqual(len(ack), 1)
        self.assertIsNone(s.proc.poll())
        again = Client(s.port)
        self.addCleanup(again.close)
        self.assertIsNotNone(again.join("Again"))
        self.assertIn("Deleting Player 2\n", s.output())

    def test_world_width_nan_plays_in_the_default_world(self):
        for value in ("nan", "inf", "-nan"):
            settings = {"WORLD_WIDTH": value}
            s, slot, width, datagrams, first, last, ack = self.play(settings)
            self.assertEqual(width, 10.0, settings)
            self.check_finite(settings, width, last)
            rocks = {pos for kind, pos in last.objects.values() if kind == 3}
            self.assertGreater(len(rocks), 3, "asteroids piled up with %s" % settings)
            self.assertEqual(len(ack), 1, settings)
            self.assertIsNone(s.proc.poll(), settings)


class SilentClients(unittest.TestCase):
    def test_forged_join_is_dropped_with_no_other_traffic(self):
        # Nobody else sends anything: only the receive time-out can notice.
        s = Server()
        self.addCleanup(s.close)
        forger = Client(s.port)
        self.addCleanup(forger.close)
        start = time.time()
        self.assertEqual(forger.join("Forged")[0], 0)
        last = start
        while time.time() - start < 20:
            got = forger.receive_all(1.0)
            if got:
                last = time.time()
            elif time.time() - last > 2.0:
                break
        self.assertLess(last - start, 16.0, "snapshots went on for ever")
        self.assertGreater(last - start, 9.0)
        self.assertIn("Deleting Player 0\n", s.output())
        self.assertIsNone(s.proc.poll())


if __name__ == "__main__":
    if not ZBX3D:
        raise SystemExit("ZBX3D must name the built zbx3d")
    unittest.main(verbosity=2)
