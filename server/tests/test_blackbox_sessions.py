#!/usr/bin/env python3
"""Black-box checks of a dedicated server's clients over time: quit and its
acknowledgement, key bytes that do nothing, rejoin, a full server, a port
already taken, time-outs (also of a join nobody follows up), the server's
output lines, deathmatch matches and settings that would stop, stall or poison
a server."""

import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import (  # noqa: E402
    FIRE, QUIT, ROT_X_POS, THRUST_FWD, WARP, ZBX3D, Server, ServerTestCase, check_snapshot,
    floats_finite, press, release, udp_port_bound)

QUIET = dict(START_ASTEROIDS=0, NUM_BOTS=0)


def lines(out):
    return out.splitlines(keepends=True)


class Quit(ServerTestCase):
    def test_quit_is_acknowledged_and_ends_the_stream(self):
        s = self.server(NET_SLEEP_TIME=20, **QUIET)
        c, _ = self.joined(s, "Leaver")
        stay, _ = self.joined(s, "Stayer")
        c.snapshots(count=2)
        c.send(release(QUIT))  # a release of quit does nothing
        c.send(bytes([0]))
        time.sleep(0.2)
        self.assertEqual(len(c.latest().players), 2)
        c.send(press(QUIT))
        got = c.drain(0.5)
        self.assertIn(b"\x00", got, "no QuitAck")
        after = got[got.index(b"\x00") + 1:]
        self.assertLessEqual(len(after), 1, "snapshots after the quit")
        self.assertEqual(c.drain(0.3), [])
        self.assertTrue(s.wait_output("Deleting Player 0\n"))
        snap = stay.latest()
        self.assertEqual([p["slot"] for p in snap.players], [1])
        self.assertEqual(snap.presence["players"][0], 0)
        self.assertIsNone(s.proc.poll(), "a multi-player server runs on")
        self.assertEqual(lines(s.output()), ["Adding Player 0\n", "Adding Player 1\n",
                                             "Deleting Player 0\n"])

    def test_single_player_quit_stops_the_server(self):
        s = self.server(MAX_NUMBER_OF_PLAYERS=1, GAME_TYPE=2, **QUIET)
        crowd = self.server(MAX_NUMBER_OF_PLAYERS=1, NUM_BOTS=2, START_ASTEROIDS=0,
                            BOT_NUKE_ODDS=0)
        c, r = self.joined(s, "Solo")
        self.assertEqual(r["game_type"], 0)
        self.assertEqual(c.snapshots(count=1)[0].players[0]["lives"], 3)  # type 0 counts lives
        # Joining again from the same address is allowed although the server
        # is full: the old player goes first.
        self.assertEqual(c.join("Solo")["slot"], 0)
        c2, r2 = self.joined(crowd, "Solo")
        self.assertEqual(r2["slot"], 2)
        for client, server in ((c, s), (c2, crowd)):
            client.send(press(QUIT))
            self.assertIn(b"\x00", client.drain(0.5))
            self.assertEqual(server.proc.wait(timeout=10), 0)
            self.assertFalse(udp_port_bound(server.port), "the port outlived the server")
        self.assertEqual(lines(s.output()), ["Adding Player 0\n", "Deleting Player 0\n",
                                             "Adding Player 0\n", "Deleting Player 0\n"])
        # The bots go with the server.
        out = lines(crowd.output())
        self.assertEqual(out[:4], ["Adding Player 0\n", "Adding Player 1\n", "Adding Player 2\n",
                                   "Deleting Player 2\n"])
        self.assertEqual(sorted(out[4:]), ["Deleting Player 0\n", "Deleting Player 1\n"])

    def test_key_bytes_that_do_nothing(self):
        s = self.server(NET_SLEEP_TIME=20, **QUIET)
        c, _ = self.joined(s)
        before = c.latest().player(0)
        for b in [0, 15, 34, 47, 100, 127, 128, 159, 200, 255]:
            c.send(bytes([b]))
        time.sleep(0.3)
        snap = c.latest()
        self.assertEqual(snap.objects, [])
        self.assertEqual(snap.sounds, [])
        p = snap.player(0)
        for key in ("pos", "orient", "nukes", "warps", "warping", "shield_active"):
            self.assertEqual(p[key], before[key], key)
        self.assertNotIn(b"\x00", c.drain(0.1))
        # Key events from a stranger reach nobody's ship.
        stranger = s.client()
        for b in [press(FIRE), press(WARP), press(THRUST_FWD), press(ROT_X_POS), press(QUIT)]:
            stranger.send(b)
        stranger.send(bytes(16))
        time.sleep(0.3)
        snap = c.latest()
        self.assertEqual(snap.objects, [])
        self.assertEqual(snap.player(0)["pos"], before["pos"])
        self.assertEqual(stranger.drain(0.2), [])
        self.assertEqual(lines(s.output()), ["Adding Player 0\n"])


class Admission(ServerTestCase):
    def test_rejoin_replaces_the_old_player(self):
        s = self.server(NET_SLEEP_TIME=25, **QUIET)
        a, ra = self.joined(s, "A")
        b, rb = self.joined(s, "B")
        c, rc = self.joined(s, "C")
        self.assertEqual([r["slot"] for r in (ra, rb, rc)], [0, 1, 2])
        self.assertEqual(a.join("A again")["slot"], 0)  # its own slot is the lowest free
        a.send(press(QUIT))
        self.assertIn(b"\x00", a.drain(0.3))
        self.assertEqual(c.join("C again")["slot"], 0)  # the lowest free slot now
        snap = c.latest()
        self.assertEqual([(p["slot"], p["name"]) for p in snap.players],
                         [(0, "C again"), (1, "B")])
        # One stream per client, not one per join.
        c.snapshots(count=1)
        start = time.time()
        rate = len(c.snapshots(seconds=1.5)) / (time.time() - start)
        self.assertTrue(25 <= rate <= 41, rate)
        self.assertEqual(lines(s.output()), [
            "Adding Player 0\n", "Adding Player 1\n", "Adding Player 2\n",
            "Deleting Player 0\n", "Adding Player 0\n", "Deleting Player 0\n",
            "Deleting Player 2\n", "Adding Player 0\n"])

    def test_full_server_refuses_by_silence(self):
        s = self.server(MAX_NUMBER_OF_PLAYERS=2, **QUIET)
        nobody = self.server(MAX_NUMBER_OF_PLAYERS=0, **QUIET)
        a, _ = self.joined(s, "A")
        b, _ = self.joined(s, "B")
        c = s.client()
        self.assertIsNone(c.join("C", seconds=0.8))
        self.assertEqual(c.drain(0.2), [])
        self.assertEqual(b.join("B again")["slot"], 1)  # a member may join again
        a.send(press(QUIT))
        self.assertIn(b"\x00", a.drain(0.3))
        self.assertEqual(c.join("C")["slot"], 0)
        lone = nobody.client()
        self.assertIsNone(lone.join("X", seconds=0.8))
        self.assertEqual(nobody.output(), "")

    def test_port_in_use_is_a_bind_error(self):
        first = self.server()
        with tempfile.TemporaryDirectory() as home:
            conf = os.path.join(home, "server.conf")
            with open(conf, "w") as f:
                f.write("MAX_NUMBER_OF_PLAYERS=2\nGAME_PORT=%d\n" % first.port)
            r = subprocess.run([ZBX3D, "-ds", "-scf", conf], capture_output=True, text=True,
                               timeout=20, env=dict(os.environ, HOME=home))
        self.assertEqual(r.returncode, 4)
        self.assertEqual(r.stdout, "bind error\n")

class Deathmatch(ServerTestCase):
    def test_match_over_freezes_then_restarts(self):
        # MAX_KILLS 0: every step ends the match at once. GAME_SLEEP 1 makes
        # the 500 frozen iterations last about a second.
        s = self.server(GAME_TYPE=2, MAX_KILLS=0, GAME_SLEEP=1, NET_SLEEP_TIME=10,
                        START_ASTEROIDS=2, NUM_BOTS=0, WORLD_WIDTH=20)
        c, r = self.joined(s)
        self.assertEqual(r["game_type"], 2)
        c.send(press(THRUST_FWD))
        states, rocks = [], []
        deadline = time.time() + 5
        while time.time() < deadline and states.count(0) + states.count(1) < 400:
            for snap in c.snapshots(seconds=0.5):
                check_snapshot(self, snap, 1024, 20)
                states.append(snap.presence["match_running"])
                rocks.append(tuple(o["pos"] for o in snap.objects_of(3)))
        self.assertIn(0, states)
        over = states.index(0)
        frozen = [i for i in range(over, len(states)) if states[i] == 0]
        # While the match is over, nothing moves.
        run = [rocks[i] for i in frozen[:20]]
        self.assertEqual(len(set(run)), 1, "the world moved after the match ended")
        self.assertIn(1, states[over:], "no new match within 5 s")
        # The new match brought fresh start asteroids.
        self.assertNotEqual(set(rocks[over]), set(rocks[-1]))


class AbsurdSettings(ServerTestCase):
    def survive(self, settings, actions=True):
        s = self.server(**settings)
        c = s.client()
        r = c.join("Edge", seconds=3)
        self.assertIsNotNone(r, settings)
        width = r["world_width"]
        self.assertTrue(floats_finite([width]) and width > 0, r)
        if actions:
            for b in (press(THRUST_FWD), press(ROT_X_POS), press(FIRE), press(16), press(WARP)):
                c.send(b)
        snaps = c.snapshots(count=3, seconds=3)
        self.assertTrue(snaps, settings)
        for snap in snaps:
            check_snapshot(self, snap, 1024, width)
        return s, c

    def test_pacing_extremes(self):
        servers = [self.survive(dict(QUIET, GAME_SLEEP=g)) for g in (0, -1, 2147483647)]
        for s, c in servers:
            c.send(press(QUIT))
            self.assertIn(b"\x00", c.drain(0.5))
            self.assertIsNone(s.proc.poll())
        # Below one millisecond a step, the world still moves and bots still come first.
        for g in (0, -1):
            s = self.server(GAME_SLEEP=g, NUM_BOTS=2, START_ASTEROIDS=6)
            c, r = self.joined(s, "Probe")
            self.assertEqual(r["slot"], 2, g)
            snaps = c.snapshots(seconds=1.5)
            self.assertGreater(len(snaps), 10, g)
            first = {o["slot"]: o["pos"] for o in snaps[0].objects_of(3)}
            moved = [o for o in snaps[-1].objects_of(3)
                     if o["slot"] in first and first[o["slot"]] != o["pos"]]
            self.assertTrue(moved, "the world stands still with GAME_SLEEP=%d" % g)
            c.send(press(QUIT))
            self.assertIn(b"\x00", c.drain(0.5))
            self.assertIsNotNone(s.client().join("Again"), g)

    def test_endless_net_sleep_still_serves_one_snapshot_and_quits(self):
        s = self.server(NET_SLEEP_TIME=2147483647, **QUIET)
        c = s.client()
        self.assertIsNotNone(c.join("Slow"))
        self.assertEqual(len(c.snapshots(count=1, seconds=2)), 1)
        # Then a long pause: no flood from a pause that overflowed.
        self.assertEqual(c.snapshots(seconds=1.0), [])
        c.send(press(QUIT))
        self.assertIn(b"\x00", c.drain(0.5))
        self.assertTrue(s.wait_output("Deleting Player 0\n"))
        self.assertIsNone(s.proc.poll())
        self.assertIsNotNone(s.client().join("Again"), "stopped listening")

    def test_back_to_back_snapshots_starve_nobody(self):
        s = self.server(NET_SLEEP_TIME=0, WORLD_WIDTH=30, **QUIET)
        c, _ = self.joined(s)
        c.send(press(THRUST_FWD))
        time.sleep(0.5)
        start = time.time()
        snaps = c.snapshots(seconds=1.0)
        self.assertGreater(len(snaps) / (time.time() - start), 200)
        for snap in snaps[::50]:
            check_snapshot(self, snap, 1024, 30)
        moved = abs(snaps[-1].player(0)["pos"][2] - snaps[0].player(0)["pos"][2])
        self.assertGreater(moved, 0.25, "the simulation did not get the lock")
        c.send(press(QUIT))  # the acknowledgement may drown in the flood
        self.assertTrue(s.wait_output("Deleting Player 0\n", 2.0))
        c.drain(0.2)
        self.assertEqual(c.drain(0.3), [])

    def test_world_widths_that_are_not_numbers(self):
        for w in ("nan", "-nan", "inf", "-inf", "0", "-5", "letters", "1e39"):
            s, c = self.survive(dict(QUIET, WORLD_WIDTH=w, START_ASTEROIDS=3, NET_SLEEP_TIME=10))
            if w in ("nan", "-nan", "inf"):
                self.assertEqual(c.reply["world_width"], 10.0, w)  # the default world
                rocks = [o["pos"] for o in c.latest().objects_of(3)]
                self.assertEqual(len(set(rocks)), 3, "asteroids piled up with %s" % w)

    def test_rules_with_absurd_values(self):
        cases = [
            dict(START_BOT_RATIO=0, NUM_BOTS=2, BOT_NUKE_ODDS=1),
            dict(START_BOT_RATIO="nan", NUM_BOTS=2, MAX_BOT_RATIO=-1),
            dict(DECELERATION_CONSTANT=1.5, ACCELERATION_CONSTANT=1e30, NUM_BOTS=2),
            dict(SHOT_SPEED=1e30, NUKE_SPEED="inf", SHIP_SIZE=-1, NUM_BOTS=2, BOT_FIRE_TIME=1),
            dict(ROTATION_SPEED="nan", SHIP_SIZE="nan", NUKE_EXPLOSTION_GROWTH_SPEED=1e38),
            dict(START_ASTEROIDS=50, MAX_TOTAL_ASTEROID_SIZE="inf", PRIZE_ODDS=4096,
                 SHOT_ALIVE_TIME=-1, NUKE_ALIVE_TIME=0, POWERUP_ALIVE_TIME=-5),
        ]
        servers = [self.survive(dict(settings, NET_SLEEP_TIME=20, WORLD_WIDTH=5))
                   for settings in cases]
        time.sleep(1.0)
        for (s, c), settings in zip(servers, cases):
            for snap in c.snapshots(count=3, seconds=2):
                check_snapshot(self, snap, 1024, 5)
            self.assertIsNone(s.proc.poll(), settings)


class TimeOutScene:
    """Three clients of one server, played out on a thread of its own while
    the other tests run: one sends key-state updates, one only key events,
    one nothing. Records when each stream of snapshots stopped."""

    def __init__(self):
        self.server = Server(NET_SLEEP_TIME=50, **QUIET)
        # Nobody else sends anything here: only the receive time-out can notice.
        self.lone = Server()
        self.gone = {}
        self.error = None
        self.thread = threading.Thread(target=self.play)
        self.thread.start()

    def watch(self, client, name, since, seconds=14):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if not client.snapshots(count=1, seconds=1.0):
                return
            self.gone[name] = time.time() - since

    def play(self):
        try:
            keeper, silent = self.server.client(), self.server.client()
            keys_only, forger = self.server.client(), self.lone.client()
            self.replies = [keeper.join("Keeper"), silent.join("Silent")]
            since = time.time()
            self.replies.append(keys_only.join("Keys"))
            self.replies.append(forger.join("Forged"))
            watchers = [threading.Thread(target=self.watch, args=(silent, "silent", since)),
                        threading.Thread(target=self.watch, args=(keys_only, "keys", since)),
                        threading.Thread(target=self.watch, args=(forger, "forged", since, 20))]
            for w in watchers:
                w.start()
            deadline = time.time() + 13
            while time.time() < deadline:
                keeper.send(bytes(16))  # key-state updates keep a client in
                keys_only.send(release(FIRE))  # key events do not
                time.sleep(0.25)
            for w in watchers:
                w.join(timeout=12)
            self.lone_output = self.lone.output()
            self.lone_running = self.lone.proc.poll() is None
            self.players = [p["slot"] for p in keeper.latest().players]
            self.output = self.server.output()  # the keeper goes later, when it falls silent
        except Exception as e:  # reported by the test that checks the scene
            self.error = e


SCENE = None


def setUpModule():
    global SCENE
    SCENE = TimeOutScene()


def tearDownModule():
    SCENE.thread.join(timeout=30)
    report = SCENE.server.close() + SCENE.lone.close()
    if report:
        raise AssertionError("sanitizer reports:\n" + report)


class ZTimeOuts(unittest.TestCase):
    """Runs last, so the scene has played out meanwhile."""

    def test_silent_clients_time_out_after_ten_seconds(self):
        SCENE.thread.join(timeout=30)
        self.assertIsNone(SCENE.error)
        self.assertEqual([r["slot"] for r in SCENE.replies], [0, 1, 2, 0])
        gone = SCENE.gone
        self.assertTrue(9.5 <= gone["silent"] <= 11.5, gone)
        self.assertTrue(9.5 <= gone["keys"] <= 11.5, gone)
        # Within ten seconds plus one receive time-out, with no traffic at all.
        self.assertTrue(9.0 <= gone["forged"] < 16.0, gone)
        self.assertIn("Deleting Player 0\n", SCENE.lone_output)
        self.assertTrue(SCENE.lone_running)
        self.assertEqual(SCENE.players, [0])
        out = SCENE.output
        self.assertIn("Deleting Player 1\n", out)
        self.assertIn("Deleting Player 2\n", out)
        self.assertNotIn("Deleting Player 0\n", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
