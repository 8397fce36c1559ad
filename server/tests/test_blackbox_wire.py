#!/usr/bin/env python3
"""Black-box checks of what a dedicated server puts on the wire: the join
reply bytes, snapshot layout and ordering, datagram boundaries for several
PACKET_SIZE values, the fields only the owner sees, start values, bots and
the pace of snapshots, and junk datagrams that must change nothing."""

import os
import random
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import (  # noqa: E402
    FIRE, NUKE, PLAYER, PRESENCE, QUIT, ROT_Y_POS, ROT_Z_POS, ServerTestCase,
    check_snapshot, decode_join_reply, is_rotation, norm, press, release, split_datagram,
    transpose, watch_all, wrapped_delta)

IDENTITY = (1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0)
QUIET = dict(START_ASTEROIDS=0, NUM_BOTS=0)


class JoinReply(ServerTestCase):
    def test_reply_bytes_and_slots(self):
        s = self.server(GAME_TYPE=1, MAX_NUMBER_OF_PLAYERS=8, WORLD_WIDTH=10.0, MAX_SHIELD=300,
                        MAX_ARMOR=1000, **QUIET)
        first = s.client()
        first.send(b"P0".ljust(20, b"\0"))
        got = [first.receive(2.0), first.receive(2.0)]
        self.assertEqual(len(got[0]), 20, "the reply comes before any snapshot")
        self.assertEqual(split_datagram(got[1])[-1]["type"], PRESENCE)
        self.assertEqual(decode_join_reply(got[0])["slot"], 0)
        for slot in range(1, 3):
            c, r = self.joined(s, "P%d" % slot)
            self.assertEqual(r["raw"][2:], bytes.fromhex(
                "0001 0008 00%02x 00002041 0000012C 000003E8".replace(" ", "") % slot))

    def test_game_type_reported(self):
        cases = [  # (settings, expected game type)
            (dict(MAX_NUMBER_OF_PLAYERS=1, GAME_TYPE=2), 0),
            (dict(MAX_NUMBER_OF_PLAYERS=1, GAME_TYPE=1), 0),
            (dict(MAX_NUMBER_OF_PLAYERS=3, GAME_TYPE=2), 2),
            (dict(MAX_NUMBER_OF_PLAYERS=3), 1),  # the default type
        ]
        servers = [(self.server(**dict(QUIET, **settings)), want) for settings, want in cases]
        for s, want in servers:
            _, r = self.joined(s)
            self.assertEqual(r["game_type"], want, s.settings)
            self.assertEqual(r["max_players"], s.settings["MAX_NUMBER_OF_PLAYERS"])

    def test_wide_values_big_endian(self):
        s = self.server(port_high=3, MAX_SHIELD=70000, MAX_ARMOR=-3, WORLD_WIDTH=12.5,
                        MAX_NUMBER_OF_PLAYERS=65539, GAME_TYPE=65538, **QUIET)
        _, r = self.joined(s)
        self.assertEqual(r["raw"][2:8], bytes.fromhex("000200030000"))  # low 16 bits
        self.assertEqual(r["raw"][8:20], struct.pack("<f", 12.5) + bytes.fromhex(
            "00011170 FFFFFFFD".replace(" ", "")))
        self.assertEqual(s.settings["GAME_PORT"] & 0xFFFF, s.port)


class SnapshotLayout(ServerTestCase):
    def test_lone_client_gets_one_datagram_of_655_bytes(self):
        s = self.server(START_LIVES=5, START_SHIELD=123, START_ARMOR=456, START_NUKES=300,
                        START_WARPS=7, SHIP_SIZE=0.25, WORLD_WIDTH=10, **QUIET)
        c, r = self.joined(s, "Lonely")
        snaps = c.snapshots(count=3, seconds=3)
        self.assertEqual(len(snaps), 3)
        for snap in snaps:
            self.assertEqual([len(d) for d in snap.datagrams], [655])
            check_snapshot(self, snap, 1024, 10)
        p = snaps[-1].players[0]
        raw = p["raw"]
        self.assertEqual(raw[0], PLAYER)
        self.assertEqual(
            (p["slot"], p["score"], p["lives"], p["shield"], p["armor"], p["nukes"], p["warps"]),
            (0, 0, 5, 123, 456, 300 % 256, 7))
        self.assertEqual((p["alive"], p["warping"], p["hit"], p["shield_active"]), (1, 0, 0, 0))
        self.assertEqual(p["name_raw"], b"Lonely".ljust(20, b"\0"))
        self.assertAlmostEqual(p["size"], 0.25, places=6)
        self.assertEqual(p["orient"], IDENTITY)
        # A new ship stands still on the grid of spawn points (steps of W/25).
        for snap in snaps:
            self.assertEqual(snap.players[0]["pos"], p["pos"])
        for x in p["pos"]:
            k = x / 10 * 25
            self.assertAlmostEqual(k, round(k), places=3)
            self.assertTrue(-25 <= round(k) <= 24, p["pos"])
        pres = snaps[-1].presence
        self.assertEqual(pres["players"], bytes([1]) + bytes(31))
        self.assertEqual(pres["objects"], bytes(512))
        self.assertEqual(pres["match_running"], 1)

    def test_name_cut_after_19_characters(self):
        s = self.server(**QUIET)
        c, _ = self.joined(s, b"ABCDEFGHIJKLMNOPQRSTUVWXYZ")  # 20 bytes sent, no NUL
        p = c.snapshots(count=1)[0].players[0]
        self.assertEqual(p["name_raw"], b"ABCDEFGHIJKLMNOPQRS\0")
        self.assertTrue(s.wait_output("Adding Player 0\n"))

    def test_boundaries_for_each_packet_size(self):
        # (configured, effective) thresholds; out-of-range values are clamped
        # so that no datagram outgrows the 2048-byte buffers.
        cases = [(100, 100), (1024, 1024), (1502, 1502), (5000, 1502), (0, 1), (-7, 1)]
        servers = []
        for configured, effective in cases:
            s = self.server(PACKET_SIZE=configured, START_ASTEROIDS=40, NUM_BOTS=3,
                            MAX_TOTAL_ASTEROID_SIZE=1000, BOT_NUKE_ODDS=0, NET_SLEEP_TIME=20,
                            WORLD_WIDTH=10)
            servers.append((s, configured, effective))
        for s, configured, effective in servers:
            c, r = self.joined(s)
            self.assertEqual(r["slot"], 3)
            snaps = c.snapshots(count=5, seconds=4)
            self.assertGreaterEqual(len(snaps), 5, configured)
            for snap in snaps:
                check_snapshot(self, snap, effective, 10)
                self.assertEqual(len(snap.objects_of(3)), 40)
                self.assertEqual([p["slot"] for p in snap.players], [0, 1, 2, 3])
                if effective == 1:
                    # Every message travels alone.
                    self.assertEqual(len(snap.datagrams), len(snap.messages))
                if configured == 5000:
                    self.assertGreater(len(snap.datagrams[0]), 1502)
                    self.assertTrue(all(len(d) <= 2048 for d in snap.datagrams))

    def test_twenty_objects_split_after_seventeen(self):
        s = self.server(PACKET_SIZE=1024, START_ASTEROIDS=20, MAX_TOTAL_ASTEROID_SIZE=1000,
                        NUM_BOTS=0)
        c, _ = self.joined(s)
        snap = c.snapshots(count=1, seconds=2)[0]
        self.assertEqual([len(d) for d in snap.datagrams], [1037, 3 * 61 + 109 + 546])
        self.assertEqual([o["slot"] for o in snap.objects], list(range(20)))

    def test_asteroid_count_is_capped_at_256(self):
        s = self.server(START_ASTEROIDS=300, MAX_TOTAL_ASTEROID_SIZE=100000, NUM_BOTS=0,
                        WORLD_WIDTH=40, PACKET_SIZE=1024)
        c, _ = self.joined(s)
        snap = c.snapshots(count=1, seconds=3)[0]
        check_snapshot(self, snap, 1024, 40)
        self.assertEqual(len(snap.objects_of(3)), 256)


class StartOfGame(ServerTestCase):
    def test_start_asteroids(self):
        s = self.server(START_ASTEROIDS=6, MAX_TOTAL_ASTEROID_SIZE=1000, NUM_BOTS=0, WORLD_WIDTH=8)
        c, _ = self.joined(s)
        snap = c.snapshots(count=1)[0]
        rocks = snap.objects
        self.assertEqual([o["slot"] for o in rocks], list(range(6)))
        ship = snap.players[0]
        for o in rocks:  # the ship was placed clear of every asteroid
            gap = norm(wrapped_delta(ship["pos"], o["pos"], 8))
            self.assertGreater(gap, o["size"] + 0.3 - 0.05)
        for o in rocks:
            self.assertEqual(o["kind"], 3)
            # 0.55 * (k / 50) + 0.15 for k = 1..50
            k = (o["size"] - 0.15) / 0.55 * 50
            self.assertAlmostEqual(k, round(k), places=2)
            self.assertTrue(1 <= round(k) <= 50, o["size"])
            self.assertTrue(is_rotation(o["orient"]))
            self.assertTrue(all(abs(x) <= 8 for x in o["pos"]))

    def test_default_total_size_limits_start_asteroids(self):
        # 0.7 at most each: 15 start asteroids would need a total up to 10.5,
        # and no asteroid is made once the total is above 10.
        s = self.server(START_ASTEROIDS=40, NUM_BOTS=0)
        c, _ = self.joined(s)
        rocks = c.snapshots(count=1)[0].objects_of(3)
        self.assertTrue(15 <= len(rocks) <= 40, len(rocks))
        sizes = sorted(o["size"] for o in rocks)
        self.assertLessEqual(sum(sizes[:-1]), 10.0 + 1e-4)
        if len(rocks) < 40:
            self.assertGreater(sum(sizes), 10.0 - 1e-4)

    def test_bots_fill_the_lowest_slots(self):
        s = self.server(NUM_BOTS=3, START_ASTEROIDS=0, START_BOT_RATIO=0.5, START_SHIELD=300,
                        START_ARMOR=1000, BOT_NUKE_ODDS=0, BOT_FIRE_TIME=100000)
        c, r = self.joined(s, "Human")
        self.assertEqual(r["slot"], 3)
        snap = c.snapshots(count=1)[0]
        self.assertEqual([(p["slot"], p["name"]) for p in snap.players],
                         [(0, "Bot 1"), (1, "Bot 2"), (2, "Bot 3"), (3, "Human")])
        for p in snap.players[:3]:
            self.assertEqual((p["shield"], p["armor"], p["nukes"], p["warps"], p["hit"]),
                             (0, 0, 0, 0, 0), "a bot's own fields go to nobody")
            self.assertEqual(p["lives"], 3)
        self.assertTrue(s.wait_output("Adding Player 3\n"))
        self.assertTrue(s.output().startswith(
            "Adding Player 0\nAdding Player 1\nAdding Player 2\nAdding Player 3\n"), s.output())

    def test_bots_fly_and_fire_at_their_rhythm(self):
        # Skill 1.0: a shot every 20 steps, 2.5 a second. Shots that live 5
        # steps make each one a separate appearance in the snapshots.
        s = self.server(NUM_BOTS=1, START_ASTEROIDS=0, START_BOT_RATIO=1, BOT_FIRE_TIME=20,
                        BOT_NUKE_ODDS=0, NET_SLEEP_TIME=10, WORLD_WIDTH=30, SHIP_SIZE=0.001,
                        SHOT_ALIVE_TIME=5)
        c, _ = self.joined(s)
        first = c.latest()
        shots, start = [], time.time()
        while time.time() - start < 2.0:
            shots += [len(n.objects_of(2)) for n in c.snapshots(seconds=0.3)]
        last = c.latest()
        seconds = last.arrived - first.arrived
        births = sum(1 for a, b in zip(shots, shots[1:]) if b > a)
        self.assertTrue(1.5 * seconds <= births <= 3.5 * seconds, (births, seconds))
        moved = norm(wrapped_delta(first.player(0)["pos"], last.player(0)["pos"], 30))
        self.assertGreater(moved, 0.5, "bots always thrust")

    def test_more_bots_than_slots_leave_no_room(self):
        s = self.server(NUM_BOTS=40, START_ASTEROIDS=0, BOT_NUKE_ODDS=0)
        c = s.client()
        self.assertIsNone(c.join("Late", seconds=1.0))
        self.assertEqual(c.drain(0.3), [])
        out = s.output()
        self.assertEqual(out.count("Adding Player"), 32, out)
        self.assertIn("Adding Player 31\n", out)
        self.assertIsNone(s.proc.poll())

    def test_world_waits_for_players(self):
        # One timed asteroid every 50 iterations, about a second of play, but
        # only while somebody plays; while nobody does, nothing moves.
        timed = self.server(START_ASTEROIDS=0, NUM_BOTS=0, NEW_ASTEROID_TIME=500,
                            NET_SLEEP_TIME=20)
        rocks = self.server(START_ASTEROIDS=10, MAX_TOTAL_ASTEROID_SIZE=1000, NUM_BOTS=0,
                            NET_SLEEP_TIME=20, WORLD_WIDTH=10)
        c, _ = self.joined(rocks)
        before = c.latest()
        c.send(press(QUIT))
        self.assertIn(b"\x00", c.drain(0.3))
        time.sleep(1.5)
        t, _ = self.joined(timed)
        self.assertEqual(t.snapshots(count=1)[0].objects, [])
        c2, _ = self.joined(rocks)
        at_rejoin = c2.snapshots(count=1)[0]
        time.sleep(2.6)
        new = t.latest().objects
        self.assertTrue(2 <= len(new) <= 3, len(new))
        self.assertEqual([o["kind"] for o in new], [3] * len(new))
        later = c2.latest()

        def most_moved(a, b):
            return max(max(abs(d) for d in wrapped_delta(o["pos"], p["pos"], 10))
                       for o, p in zip(a.objects, b.objects))

        self.assertEqual([o["slot"] for o in at_rejoin.objects], list(range(10)))
        self.assertLess(most_moved(before, at_rejoin), 8 * 0.0042)  # a few steps at most
        self.assertGreater(most_moved(at_rejoin, later), 0.05)

    def test_deathmatch_lives_unlimited(self):
        s = self.server(GAME_TYPE=2, NUM_BOTS=1, START_ASTEROIDS=0, BOT_NUKE_ODDS=0)
        c, r = self.joined(s)
        self.assertEqual(r["game_type"], 2)
        snap = c.snapshots(count=1)[0]
        self.assertEqual([p["lives"] for p in snap.players], [-1, -1])


class OwnFieldsAndOrientation(ServerTestCase):
    def test_others_see_zeros_and_the_inverse_orientation(self):
        s = self.server(START_ASTEROIDS=0, NUM_BOTS=0, NET_SLEEP_TIME=20, START_SHIELD=200)
        a, ra = self.joined(s, "A")
        b, rb = self.joined(s, "B")
        self.assertEqual((ra["slot"], rb["slot"]), (0, 1))
        # Turn A about two axes so that its orientation is not symmetric.
        a.send(press(ROT_Y_POS))
        a.send(press(ROT_Z_POS))
        time.sleep(0.5)
        a.send(release(ROT_Y_POS))
        a.send(release(ROT_Z_POS))
        time.sleep(0.2)
        sa, sb = a.latest(), b.latest()
        mine, seen = sa.player(0), sb.player(0)
        self.assertNotEqual(mine["orient"], IDENTITY)
        self.assertTrue(is_rotation(mine["orient"]))
        for x, y in zip(transpose(mine["orient"]), seen["orient"]):
            self.assertAlmostEqual(x, y, places=4)
        self.assertEqual((mine["shield"], mine["armor"]), (200, 1000))
        self.assertEqual((seen["shield"], seen["armor"], seen["hit"], seen["nukes"],
                          seen["warps"]), (0, 0, 0, 0, 0))
        # Byte by byte, apart from the five own fields and the orientation,
        # both receivers get the same message.
        own = set(range(21, 33)) - {30} | set(range(73, 109))
        diff = [i for i in range(109) if mine["raw"][i] != seen["raw"][i] and i not in own]
        self.assertEqual(diff, [])
        self.assertEqual(sb.player(1)["shield"], 200)
        # A's keys turned A only.
        self.assertEqual(sb.player(1)["orient"], IDENTITY)
        self.assertEqual(sa.player(1)["orient"], IDENTITY)

    def test_sound_queue_holds_22_events_in_order(self):
        s = self.server(NET_SLEEP_TIME=2500, SHOT_ALIVE_TIME=1, **QUIET)
        # Nuke sounds are queued as the key arrives, the shot's at the next
        # step, the blast's 35 steps later: all reach the next snapshot in
        # that order.
        order = self.server(NET_SLEEP_TIME=2500, **QUIET)
        o, _ = self.joined(order)
        o.snapshots(count=1)
        o.send(press(FIRE))
        time.sleep(0.1)
        o.send(press(NUKE))
        o.send(press(FIRE))
        c, _ = self.joined(s)
        first = c.snapshots(count=1)[0]
        ship = first.player(0)
        for _ in range(30):  # one shot a step at most: presses 40 ms apart
            c.send(press(FIRE))
            time.sleep(0.04)
        snap = c.snapshots(count=1, seconds=3)[0]
        self.assertEqual([m["sound"] for m in snap.sounds], [0] * 22)
        self.assertTrue(all(m["pos"] == ship["pos"] for m in snap.sounds))
        self.assertEqual([m["raw"][2:5] for m in snap.sounds], [bytes(3)] * 22)
        snap = o.snapshots(count=1, seconds=3)[0]
        self.assertEqual([m["sound"] for m in snap.sounds], [0, 19, 0, 20])


class Pace(ServerTestCase):
    def test_snapshots_every_net_sleep_time(self):
        clients = {ms: self.joined(self.server(NET_SLEEP_TIME=ms, **QUIET))[0] for ms in (100, 25)}
        watch_all(self, clients, 0.3, 10)
        start = time.time()
        seen = watch_all(self, clients, 1.5, 10)
        spent = time.time() - start
        rates = {ms: len(snaps) / spent for ms, snaps in seen.items()}
        self.assertTrue(7.0 <= rates[100] <= 10.5, rates)
        self.assertTrue(22.0 <= rates[25] <= 40.5, rates)


class Junk(ServerTestCase):
    def test_malformed_datagrams_of_every_length_are_ignored(self):
        s = self.server()
        rng = random.Random(5)
        stranger = s.client()
        member, _ = self.joined(s, "Member")
        for length in list(range(0, 200)) + [546, 655, 1024, 1502, 2048, 8000]:
            junk = bytes(rng.randrange(256) for _ in range(length))
            if length != 20:
                stranger.send(junk)  # not a client: joins only
            if length not in (1, 16, 20):
                member.send(junk)
        stranger.send(bytes([31]))  # a quit from nobody
        got = member.drain(0.5)
        self.assertGreaterEqual(len(got), 5)
        self.assertNotIn(b"\0", got)  # no QuitAck
        self.assertEqual(stranger.drain(0.2), [])
        after, r = self.joined(s, "After")
        self.assertEqual(r["slot"], 1)
        self.assertEqual(len(after.latest().players), 2)
        self.assertIsNone(s.proc.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
