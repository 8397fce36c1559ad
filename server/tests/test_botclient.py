#!/usr/bin/env python3
"""The dedicated server (zbx3d -ds) as a process, driven over 127.0.0.1 by
zbx3d-botclient: joins and the snapshot rate, refusal by silence, rejoin and
time-outs, as the bot client reports them.

Every process and every wait is bounded; every server gets its own free port,
temporary HOME and settings file ("-scf")."""

import os
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import ZBX3D, ServerTestCase, udp_port_bound  # noqa: E402
from zbxtest import BOTCLIENT  # noqa: E402


def parse_line(out, head):
    for line in out.splitlines():
        if line.startswith(head + " "):
            return dict(kv.split("=", 1) for kv in line.split()[1:])
    return None


def bot(server, *args, timeout=60):
    """Runs the bot client to its end; returns (status, joined, summary)."""
    r = subprocess.run([BOTCLIENT, "-p", str(server.port)] + [str(a) for a in args],
                       capture_output=True, text=True, timeout=timeout)
    return r.returncode, parse_line(r.stdout, "joined"), parse_line(r.stdout, "summary")


def bot_async(server, *args, timeout=60):
    result = {}

    def run():
        result["value"] = bot(server, *args, timeout=timeout)

    t = threading.Thread(target=run)
    t.start()
    return t, result


class DedicatedServer(ServerTestCase):
    def test_join_and_about_twenty_snapshots_a_second(self):
        s = self.server(GAME_TYPE=2, WORLD_WIDTH=12.5, MAX_SHIELD=250)
        status, joined, summary = bot(s, "-n", "Alice", "-t", 2, "-q")
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
        a, ra = bot_async(s, "-n", "A", "-t", 3, "-q")
        b, rb = bot_async(s, "-n", "B", "-t", 5)
        time.sleep(1.0)
        status, joined, _ = bot(s, "-n", "C", "-w", 0.8, "-r", 1, "-t", 0)
        self.assertEqual(status, 2)
        self.assertIsNone(joined)
        a.join(timeout=30)
        self.assertEqual(ra["value"][0], 0)
        status, joined, summary = bot(s, "-n", "C", "-w", 2, "-r", 1, "-t", 0.5)
        self.assertEqual(status, 0)
        self.assertEqual(joined["slot"], ra["value"][1]["slot"])
        b.join(timeout=30)
        self.assertEqual(rb["value"][0], 0)

    def test_rejoin_from_the_same_address_keeps_one_stream(self):
        s = self.server()
        status, joined, summary = bot(s, "-n", "R", "-t", 3, "-R", 1.0, "-q")
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
        vanishing, r0 = bot_async(solo, "-n", "Gone", "-t", 0.5)  # leaves without a quit
        keys = ",".join("%d:%d" % (t, 29) for t in range(1, 14))  # fire presses only
        only_keys, r1 = bot_async(s, "-n", "K", "-u", 0, "-k", keys, "-t", 14)
        mute, r2 = bot_async(s, "-n", "M", "-u", 0, "-t", 17)
        updating, r3 = bot_async(s, "-n", "U", "-u", 1, "-t", 17)
        for t in (only_keys, mute, updating, vanishing):
            t.join(timeout=60)
        # A single-player server whose player vanished stops by itself.
        self.assertEqual(r0["value"][0], 0)
        self.assertEqual(solo.proc.wait(timeout=20), 0)
        self.assertFalse(udp_port_bound(solo.port))
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

    def test_verify_new_clients_starves_a_join_nobody_follows_up(self):
        s = self.server(VERIFY_NEW_CLIENTS=1)
        forger = s.client()
        start, got, freed = time.time(), [], None
        forger.send(b"Forged".ljust(20, b"\0"))
        while time.time() - start < 3.5:
            got += forger.drain(0.05)
            if freed is None and "Deleting Player 0\n" in s.output():
                freed = time.time() - start
        self.assertEqual([len(d) for d in got], [20])  # the JoinReply alone
        self.assertIsNotNone(freed)
        self.assertTrue(1.9 < freed < 3.0, freed)
        # A client that sends its key state every second plays as before.
        status, joined, summary = bot(s, "-n", "Real", "-t", 3, "-q")
        self.assertEqual(joined["slot"], "0")
        self.assertGreater(int(summary["snapshots"]), 25)
        self.assertEqual(summary["own_present"], "1")
        self.assertEqual(summary["quit_ack"], "1")


if __name__ == "__main__":
    if not ZBX3D or not os.path.exists(BOTCLIENT):
        raise SystemExit("ZBX3D and ZBX_BUILD_DIR must name the built programs")
    unittest.main(verbosity=2)
