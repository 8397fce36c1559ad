#!/usr/bin/env python3
"""The dedicated server (zbx3d -ds) as a process, driven over 127.0.0.1 by
zbx3d-botclient and raw sockets: joins, snapshot rate, refusal by silence,
rejoin, time-outs, single-player stop, bots and malformed datagrams.

Every process and every wait is bounded; every server gets its own free port,
temporary HOME and settings file ("-scf")."""

import os
import random
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import free_port, stop_process  # noqa: E402

ZBX3D = os.environ.get("ZBX3D", "")
BUILD = os.environ.get("ZBX_BUILD_DIR", "")
BOTCLIENT = os.path.join(BUILD, "server", "botclient", "zbx3d-botclient")


def port_taken(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("0.0.0.0", port))
            return False
        except OSError:
            return True


def parse_line(out, head):
    for line in out.splitlines():
        if line.startswith(head + " "):
            return dict(kv.split("=", 1) for kv in line.split()[1:])
    return None


class Server:
    """One zbx3d -ds process with its own HOME, settings file and port."""

    def __init__(self, **settings):
        self.home = tempfile.mkdtemp(prefix="zbx-net-")
        self.port = free_port()
        settings.setdefault("MAX_NUMBER_OF_PLAYERS", 4)
        settings["GAME_PORT"] = self.port
        self.conf = os.path.join(self.home, "server.conf")
        with open(self.conf, "w") as f:
            for key, value in settings.items():
                f.write("%s=%s\n" % (key, value))
        self.out_path = os.path.join(self.home, "server.out")
        env = dict(os.environ, HOME=self.home)
        self.out = open(self.out_path, "w")
        # Standard error holds the "listening" line and any sanitizer report.
        self.err = open(os.path.join(self.home, "server.err"), "w")
        self.proc = subprocess.Popen([ZBX3D, "-ds", "-scf", self.conf], stdout=self.out,
                                     stderr=self.err, env=env)
        deadline = time.time() + 5
        while time.time() < deadline and not port_taken(self.port):
            time.sleep(0.02)
        time.sleep(0.1)  # the receive loop starts once the game is set up

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def close(self):
        stop_process(self.proc)
        self.out.close()
        self.err.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def bot(self, *args, timeout=60):
        """Runs the bot client to its end; returns (status, joined, summary)."""
        r = subprocess.run([BOTCLIENT, "-p", str(self.port)] + [str(a) for a in args],
                           capture_output=True, text=True, timeout=timeout)
        return r.returncode, parse_line(r.stdout, "joined"), parse_line(r.stdout, "summary")

    def bot_async(self, *args, timeout=60):
        result = {}

        def run():
            result["value"] = self.bot(*args, timeout=timeout)

        t = threading.Thread(target=run)
        t.start()
        return t, result


class RawClient:
    """A plain UDP socket on 127.0.0.1 speaking to the server."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.to = ("127.0.0.1", port)

    def send(self, data):
        self.sock.sendto(data, self.to)

    def receive_all(self, seconds):
        got, deadline = [], time.time() + seconds
        while True:
            left = deadline - time.time()
            if left <= 0:
                return got
            ready, _, _ = select.select([self.sock], [], [], left)
            if ready:
                got.append(self.sock.recv(4096))

    def close(self):
        self.sock.close()


class DedicatedServer(unittest.TestCase):
    def setUp(self):
        self.servers = []

    def tearDown(self):
        for s in self.servers:
            s.close()

    def server(self, **settings):
        s = Server(**settings)
        self.servers.append(s)
        self.assertIsNone(s.proc.poll(), s.output())
        return s

    def test_join_and_about_twenty_snapshots_a_second(self):
        s = self.server(GAME_TYPE=2, WORLD_WIDTH=12.5, MAX_SHIELD=250)
        status, joined, summary = s.bot("-n", "Alice", "-t", 2, "-q")
        self.assertEqual(status, 0)
        self.assertEqual(joined["slot"], "0")
        self.assertEqual(joined["game_type"], "2")
        self.assertEqual(joined["world_width"], "12.5")
        self.assertEqual(joined["max_shield"], "250")
        rate = float(summary["snapshots_per_sec"])
        self.assertTrue(15 <= rate <= 21, rate)
        self.assertEqual(summary["own_present"], "1")
        self.assertEqual(summary["quit_ack"], "1")
        self.assertEqual(summary["after_quit"], "0")
        out = s.output()
        self.assertIn("Adding Player 0\n", out)
        self.assertIn("Deleting Player 0\n", out)
        self.assertIsNone(s.proc.poll())  # a multi-player server runs on

    def test_third_client_refused_by_silence_then_admitted_after_a_quit(self):
        s = self.server(MAX_NUMBER_OF_PLAYERS=2)
        a, ra = s.bot_async("-n", "A", "-t", 3, "-q")
        b, rb = s.bot_async("-n", "B", "-t", 5)
        time.sleep(1.0)
        status, joined, _ = s.bot("-n", "C", "-w", 0.8, "-r", 1, "-t", 0)
        self.assertEqual(status, 2)
        self.assertIsNone(joined)
        a.join(timeout=30)
        self.assertEqual(ra["value"][0], 0)
        status, joined, summary = s.bot("-n", "C", "-w", 2, "-r", 1, "-t", 0.5)
        self.assertEqual(status, 0)
        self.assertEqual(joined["slot"], ra["value"][1]["slot"])
        b.join(timeout=30)
        self.assertEqual(rb["value"][0], 0)

    def test_rejoin_from_the_same_address_keeps_one_stream(self):
        s = self.server()
        status, joined, summary = s.bot("-n", "R", "-t", 3, "-R", 1.0, "-q")
        self.assertEqual(status, 0)
        self.assertEqual(joined["slot"], "0")
        self.assertEqual(summary["rejoin_slot"], "0")
        rate = float(summary["snapshots_per_sec"])
        self.assertTrue(15 <= rate <= 21, rate)  # one broadcast thread, not two
        out = s.output()
        self.assertEqual(out.count("Adding Player 0\n"), 2, out)
        self.assertEqual(out.count("Deleting Player 0\n"), 2, out)

    def test_silent_clients_time_out(self):
        # Both servers run side by side: these waits are long.
        s = self.server()
        solo = self.server(MAX_NUMBER_OF_PLAYERS=1)
        vanishing, r0 = solo.bot_async("-n", "Gone", "-t", 0.5)  # leaves without a quit
        keys = ",".join("%d:%d" % (t, 29) for t in range(1, 14))  # fire presses only
        only_keys, r1 = s.bot_async("-n", "K", "-u", 0, "-k", keys, "-t", 14)
        mute, r2 = s.bot_async("-n", "M", "-u", 0, "-t", 17)
        updating, r3 = s.bot_async("-n", "U", "-u", 1, "-t", 17)
        for t in (only_keys, mute, updating, vanishing):
            t.join(timeout=60)
        # A single-player server whose player vanished stops by itself.
        self.assertEqual(r0["value"][0], 0)
        self.assertEqual(solo.proc.wait(timeout=20), 0)
        self.assertFalse(port_taken(solo.port))
        # Key events do not count as signs of life: gone about 10 s after the join.
        last = float(r1["value"][2]["last_snapshot_at"])
        self.assertTrue(9.0 <= last <= 11.5, last)
        # No datagram needed to notice a silent client: gone within 10 s plus
        # one receive time-out.
        last = float(r2["value"][2]["last_snapshot_at"])
        self.assertTrue(9.0 <= last <= 16.0, last)
        # Key-state updates keep a client in.
        self.assertEqual(r3["value"][2]["own_present"], "1")
        self.assertGreater(float(r3["value"][2]["last_snapshot_at"]), 16.0)

    def test_single_player_server_stops_on_quit_and_frees_the_port(self):
        s = self.server(MAX_NUMBER_OF_PLAYERS=1, GAME_TYPE=1)
        status, joined, summary = s.bot("-n", "Solo", "-t", 1, "-q")
        self.assertEqual(joined["game_type"], "0")
        self.assertEqual(summary["quit_ack"], "1")
        self.assertEqual(s.proc.wait(timeout=5), 0)
        self.assertFalse(port_taken(s.port))
        self.assertIn("Deleting Player 0\n", s.output())

    def test_bots_take_the_lowest_slots(self):
        s = self.server(NUM_BOTS=2)
        status, joined, summary = s.bot("-n", "H", "-t", 1, "-q")
        self.assertEqual(joined["slot"], "2")
        self.assertEqual(summary["players"], "3")
        self.assertEqual(summary["others_own_fields"], "0")

    def test_port_in_use_is_a_bind_error(self):
        first = self.server()
        home = tempfile.mkdtemp(prefix="zbx-net-")
        try:
            conf = os.path.join(home, "server.conf")
            with open(conf, "w") as f:
                f.write("MAX_NUMBER_OF_PLAYERS=2\nGAME_PORT=%d\n" % first.port)
            r = subprocess.run([ZBX3D, "-ds", "-scf", conf], capture_output=True, text=True,
                               timeout=20, env=dict(os.environ, HOME=home))
            self.assertEqual(r.returncode, 4)
            self.assertEqual(r.stdout, "bind error\n")
        finally:
            shutil.rmtree(home, ignore_errors=True)

    def test_malformed_datagrams_of_every_length_are_ignored(self):
        s = self.server()
        rng = random.Random(5)
        stranger, member = RawClient(s.port), RawClient(s.port)
        try:
            member.send(b"Member".ljust(20, b"\0"))
            first = member.receive_all(0.3)
            self.assertIn(20, [len(d) for d in first])
            for length in list(range(0, 200)) + [546, 655, 1024, 1502, 2048, 8000]:
                junk = bytes(rng.randrange(256) for _ in range(length))
                if length != 20:
                    stranger.send(junk)  # not a client: joins only
                if length not in (1, 16, 20):
                    member.send(junk)
            stranger.send(bytes([31]))  # a quit from nobody
            got = member.receive_all(0.5)
            self.assertGreaterEqual(len(got), 5)
            self.assertNotIn(b"\0", got)  # no QuitAck
            self.assertEqual(stranger.receive_all(0.2), [])
            status, joined, summary = s.bot("-n", "After", "-t", 1, "-q")
            self.assertEqual(joined["slot"], "1")
            self.assertEqual(summary["players"], "2")
            self.assertIsNone(s.proc.poll())
        finally:
            stranger.close()
            member.close()

    def test_verify_new_clients_starves_a_join_nobody_follows_up(self):
        s = self.server(VERIFY_NEW_CLIENTS=1)
        forger = RawClient(s.port)
        try:
            start, got, freed = time.time(), [], None
            forger.send(b"Forged".ljust(20, b"\0"))
            while time.time() - start < 3.5:
                got += forger.receive_all(0.05)
                if freed is None and "Deleting Player 0\n" in s.output():
                    freed = time.time() - start
            self.assertEqual([len(d) for d in got], [20])  # the JoinReply alone
            self.assertIsNotNone(freed)
            self.assertTrue(1.9 < freed < 3.0, freed)
        finally:
            forger.close()
        # A client that sends its key state every second plays as before.
        status, joined, summary = s.bot("-n", "Real", "-t", 3, "-q")
        self.assertEqual(joined["slot"], "0")
        self.assertGreater(int(summary["snapshots"]), 25)
        self.assertEqual(summary["own_present"], "1")
        self.assertEqual(summary["quit_ack"], "1")


if __name__ == "__main__":
    if not ZBX3D or not os.path.exists(BOTCLIENT):
        raise SystemExit("ZBX3D and ZBX_BUILD_DIR must name the built programs")
    unittest.main(verbosity=2)
