#!/usr/bin/env python3
"""Black-box checks of a ship steered over the wire: thrust, turning, key-state
updates, shots, nukes and hyper-warp, as seen in the snapshots."""

import math
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import (  # noqa: E402
    FIRE, NUKE, ROT_Y_POS, ROT_X_POS, SHIELD, THRUST_FWD, THRUST_REV, WARP, ServerTestCase,
    check_snapshot, dot, is_rotation, norm, press, release, rows, transpose, wrapped_delta)

TOP_SPEED = 0.00945 * 50  # units per second at 50 steps a second
QUIET = dict(START_ASTEROIDS=0, NUM_BOTS=0)


def key_state(*held, value=1):
    state = bytearray(16)
    for i in held:
        state[i] = value
    return bytes(state)


class Motion(ServerTestCase):
    def velocity(self, client, slot, seconds, width):
        """Average velocity of a ship in units per second over `seconds`."""
        first = client.latest()
        snaps = client.snapshots(seconds=seconds)
        last = snaps[-1]
        d = wrapped_delta(first.player(slot)["pos"], last.player(slot)["pos"], width)
        dt = last.arrived - first.arrived
        for snap in snaps:
            check_snapshot(self, snap, 1024, width)
        return [x / dt for x in d], last

    def test_forward_and_reverse_thrust(self):
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=30, **QUIET)
        c, r = self.joined(s)
        start = c.latest().player(0)
        c.send(press(THRUST_FWD))
        time.sleep(0.7)  # 35 steps: within 3 % of top speed
        v, snap = self.velocity(c, 0, 0.7, 30)
        speed = norm(v)
        self.assertTrue(0.65 * TOP_SPEED <= speed <= 1.3 * TOP_SPEED, speed)
        nose = [-x for x in rows(snap.player(0)["orient"])[2]]
        self.assertGreater(dot(v, nose) / speed, 0.999)
        self.assertEqual(snap.player(0)["pos"][:2], start["pos"][:2])  # straight along -z
        # Released: the drag stops the ship within a second.
        c.send(release(THRUST_FWD))
        time.sleep(0.7)
        v, _ = self.velocity(c, 0, 0.5, 30)
        self.assertLess(norm(v), 0.01)
        # Reverse thrust: a third of the strength, backwards.
        c.send(press(THRUST_REV))
        time.sleep(0.7)
        v, snap = self.velocity(c, 0, 0.7, 30)
        speed = norm(v)
        self.assertTrue(0.65 * TOP_SPEED / 3 <= speed <= 1.3 * TOP_SPEED / 3, speed)
        self.assertLess(dot(v, nose) / speed, -0.999)

    def test_side_thrust_controls(self):
        # Controls 1 to 4 push with strength 1 against the ship's own x and
        # y axes (the thrust vector is -0.001 x the inputs in world terms).
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=30, **QUIET)
        c, _ = self.joined(s)
        c.send(bytes([17]))  # control 1 pressed
        c.send(bytes([20]))  # control 4 pressed
        time.sleep(0.7)
        v, _ = self.velocity(c, 0, 0.7, 30)
        side = TOP_SPEED / 3  # per axis
        self.assertTrue(0.65 * side <= -v[0] <= 1.3 * side, v)
        self.assertTrue(0.65 * side <= v[1] <= 1.3 * side, v)
        self.assertEqual(v[2], 0.0)
        c.send(bytes([1]))
        c.send(bytes([4]))
        time.sleep(0.7)
        v, _ = self.velocity(c, 0, 0.5, 30)
        self.assertLess(norm(v), 0.01)

    def test_turning_then_thrust_follows_the_nose(self):
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=30, **QUIET)
        c, _ = self.joined(s)
        c.send(press(ROT_Y_POS))
        time.sleep(0.3)
        a = c.latest()
        snaps = c.snapshots(seconds=0.6)
        b = snaps[-1]
        c.send(release(ROT_Y_POS))

        def angle(snap):  # about y: row 0 turns from +x towards +z
            r0 = rows(snap.player(0)["orient"])[0]
            return math.degrees(math.atan2(r0[2], r0[0]))

        rate = (angle(b) - angle(a)) / (b.arrived - a.arrived)
        self.assertTrue(35 <= rate <= 85, rate)  # 1.2 degrees a step, 50 steps a second
        for snap in snaps:
            o = snap.player(0)["orient"]
            self.assertTrue(is_rotation(o))
            for x, y in zip(rows(o)[1], (0.0, 1.0, 0.0)):
                self.assertAlmostEqual(x, y, places=4)
        time.sleep(0.2)
        still = c.latest().player(0)["orient"]
        time.sleep(0.3)
        self.assertEqual(c.latest().player(0)["orient"], still)
        c.send(press(THRUST_FWD))
        time.sleep(0.3)
        v, snap = self.velocity(c, 0, 0.7, 30)
        nose = [-x for x in rows(still)[2]]
        self.assertGreater(dot(v, nose) / norm(v), 0.999)

    def test_game_sleep_sets_the_step_rate(self):
        # An iteration lasts 2 x GAME_SLEEP ms and steps once 10 units have
        # gathered: 50 steps a second up to GAME_SLEEP 10, fewer above.
        rates = {}
        clients = {}
        for sleep in (5, 10, 20, 40):
            s = self.server(GAME_SLEEP=sleep, NET_SLEEP_TIME=20, **QUIET)
            clients[sleep] = self.joined(s)[0]
            clients[sleep].send(press(ROT_Y_POS))
        time.sleep(0.2)
        first = {k: c.latest() for k, c in clients.items()}
        time.sleep(1.0)
        for k, c in clients.items():
            a, b = first[k], c.latest()
            turned = math.degrees(math.acos(max(-1.0, min(1.0, dot(
                rows(a.player(0)["orient"])[0], rows(b.player(0)["orient"])[0])))))
            rates[k] = turned / (b.arrived - a.arrived) / 1.2  # steps a second
        for k, want in ((5, 50), (10, 50), (20, 25), (40, 12.5)):
            self.assertTrue(0.7 * want <= rates[k] <= 1.2 * want, rates)

    def test_rotation_presses_saturate_and_releases_cancel(self):
        s = self.server(NET_SLEEP_TIME=20, **QUIET)
        c, _ = self.joined(s)
        c.send(press(ROT_X_POS))
        c.send(press(ROT_X_POS))
        time.sleep(0.3)
        c.send(release(ROT_X_POS))  # one release brings the input back to 0
        time.sleep(0.2)
        o = c.latest().player(0)["orient"]
        self.assertNotEqual(o[4], 1.0)
        time.sleep(0.3)
        self.assertEqual(c.latest().player(0)["orient"], o)

    def test_key_state_updates_steer(self):
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=30, **QUIET)
        c, _ = self.joined(s)
        c.send(key_state(8, value=255))  # forward thrust held: any byte but 0
        time.sleep(0.7)
        v, _ = self.velocity(c, 0, 0.7, 30)
        self.assertTrue(0.65 * TOP_SPEED <= norm(v) <= 1.3 * TOP_SPEED, v)
        c.send(key_state(8, 9))  # both thrust keys: no thrust
        time.sleep(0.7)
        v, _ = self.velocity(c, 0, 0.5, 30)
        self.assertLess(norm(v), 0.01)
        c.send(key_state(12, 1))  # turning about y, shield held
        time.sleep(0.3)
        snap = c.latest()
        self.assertEqual(snap.player(0)["shield_active"], 1)
        self.assertLess(snap.player(0)["shield"], 300)  # one point a step
        c.send(key_state())
        time.sleep(0.2)
        o = c.latest().player(0)["orient"]
        self.assertNotEqual(o, (1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0))
        time.sleep(0.3)
        snap = c.latest()
        self.assertEqual(snap.player(0)["orient"], o)
        self.assertEqual(snap.player(0)["shield_active"], 0)

    def test_shield_protects_while_energy_lasts(self):
        s = self.server(NET_SLEEP_TIME=20, START_SHIELD=5, MAX_SHIELD=300, **QUIET)
        c, _ = self.joined(s)
        c.send(press(SHIELD))
        seen = [(n.player(0)["shield_active"], n.player(0)["shield"])
                for n in c.snapshots(seconds=0.5)]
        self.assertEqual(seen[-1], (0, 0), "drained at one point a step")
        self.assertTrue(any(active for active, _ in seen), seen)
        on = seen[[active for active, _ in seen].index(1):]  # once the press arrived
        self.assertTrue(all(active == (1 if energy else 0) for active, energy in on), seen)
        c.send(release(SHIELD))

    def test_wrap_keeps_positions_inside_the_world(self):
        # About 1.35 units a second: through the world 1.2 across in time.
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=0.6, ACCELERATION_CONSTANT=1, **QUIET)
        c, r = self.joined(s)
        c.send(press(THRUST_FWD))
        z = []
        deadline = time.time() + 2.5
        while time.time() < deadline:
            for snap in c.snapshots(seconds=0.5):
                check_snapshot(self, snap, 1024, 0.6)
                z.append(snap.player(0)["pos"][2])
        # It went along -z through the face at -0.6 and came back in at +0.6.
        jumps = [b - a for a, b in zip(z, z[1:]) if b - a > 0.5]
        self.assertGreaterEqual(len(jumps), 1, z)


class Weapons(ServerTestCase):
    def turned(self, server, name="Gunner", seconds=0.4):
        c, r = self.joined(server, name)
        c.send(press(ROT_Y_POS))
        c.send(press(ROT_X_POS))
        time.sleep(seconds)
        c.send(release(ROT_Y_POS))
        c.send(release(ROT_X_POS))
        time.sleep(0.1)
        return c, r

    def first_with(self, client, kind, count=1, seconds=1.0):
        deadline = time.time() + seconds
        while time.time() < deadline:
            for snap in client.snapshots(count=1, seconds=deadline - time.time()):
                if len(snap.objects_of(kind)) >= count:
                    return snap
        return None

    def test_shots_leave_the_guns_along_the_nose(self):
        # Tiny ships, so that the shots do not hit the other player.
        s = self.server(NET_SLEEP_TIME=10, WORLD_WIDTH=30, SHIP_SIZE=0.001, **QUIET)
        c, _ = self.turned(s)
        other, _ = self.joined(s, "Other")
        c.latest()
        other.drain()
        for side, gun in enumerate((0.047, -0.047)):
            c.send(press(FIRE))
            snap = self.first_with(c, 2, side + 1)
            self.assertIsNotNone(snap, "no shot")
            ship = snap.player(0)
            r = rows(ship["orient"])
            shots = snap.objects_of(2)
            self.assertEqual(len(shots), side + 1)
            shot = shots[-1]
            self.assertEqual(shot["slot"], side)
            self.assertAlmostEqual(shot["size"], 0.01, places=6)
            for x, y in zip(shot["orient"], transpose(ship["orient"])):
                self.assertAlmostEqual(x, y, places=5)
            off = wrapped_delta(ship["pos"], shot["pos"], 30)
            self.assertAlmostEqual(dot(off, r[0]), gun, places=3)
            self.assertAlmostEqual(dot(off, r[1]), 0.022, places=3)
            steps = (-dot(off, r[2]) - 0.06) / 0.14
            self.assertAlmostEqual(steps, round(steps), places=2)
            # The shooter hears sound 0 at the ship.
            sounds = [m for m in snap.sounds if m["sound"] == 0]
            if not sounds:
                sounds = [m for n in c.snapshots(count=2) for m in n.sounds]
            self.assertEqual([m["sound"] for m in sounds], [0])
            for x, y in zip(sounds[0]["pos"], ship["pos"]):
                self.assertAlmostEqual(x, y, places=4)
            # It flies 0.14 a step along the nose.
            time.sleep(0.15)
            later = c.latest()
            moved = [o for o in later.objects_of(2) if o["slot"] == shot["slot"]][0]
            d = wrapped_delta(shot["pos"], moved["pos"], 30)
            steps = norm(d) / 0.14
            self.assertAlmostEqual(steps, round(steps), places=2)
            self.assertGreaterEqual(round(steps), 1)
            self.assertGreater(dot(d, [-x for x in r[2]]) / norm(d), 0.9999)
            c.send(release(FIRE))
        # The shots expire after 50 steps; the other player heard nothing.
        time.sleep(1.3)
        self.assertEqual(c.latest().objects_of(2), [])
        self.assertEqual([m for snap in other.snapshots(seconds=0.3) for m in snap.sounds], [])

    def test_nuke_launch_blast_and_sounds(self):
        s = self.server(NET_SLEEP_TIME=10, WORLD_WIDTH=30, START_NUKES=2, **QUIET)
        c, _ = self.turned(s, "Nuker")
        other, _ = self.joined(s, "Other")
        c.latest()
        other.latest()
        c.send(press(NUKE))
        snaps = c.snapshots(seconds=1.5)
        launched = [n for n in snaps if n.objects_of(10)]
        self.assertTrue(launched, "no nuke")
        first = launched[0]
        ship = first.player(0)
        nuke = first.objects_of(10)[0]
        self.assertEqual(ship["nukes"], 1)
        self.assertAlmostEqual(nuke["size"], 0.1, places=6)
        for x, y in zip(nuke["orient"], transpose(ship["orient"])):
            self.assertAlmostEqual(x, y, places=5)
        r = rows(ship["orient"])
        off = wrapped_delta(ship["pos"], nuke["pos"], 30)
        self.assertAlmostEqual(dot(off, r[0]), 0.0, places=3)
        self.assertAlmostEqual(dot(off, r[1]), -0.1, places=3)
        steps = (-dot(off, r[2]) - 0.06) / 0.14
        self.assertAlmostEqual(steps, round(steps), places=2)
        heard = [m["sound"] for n in snaps for m in n.sounds]
        self.assertEqual(heard, [19, 20])  # launch, then the blast
        blasts = [n.objects_of(11)[0] for n in snaps if n.objects_of(11)]
        self.assertTrue(blasts)
        self.assertTrue(all(0.1 < b["size"] <= 1.3 + 1e-4 for b in blasts))
        self.assertGreater(blasts[-1]["size"], blasts[0]["size"])
        self.assertEqual([m["sound"] for n in other.snapshots(seconds=0.5) for m in n.sounds],
                         [21, 20])
        # Byte 16 is read as the launch too; with no nukes left nothing happens.
        c.send(bytes([16]))
        time.sleep(0.3)
        self.assertEqual(c.latest().player(0)["nukes"], 0)
        time.sleep(1.2)
        c.drain()
        c.send(press(NUKE))
        snaps = c.snapshots(seconds=0.5)
        self.assertEqual([n.objects_of(10) for n in snaps if n.objects_of(10)], [])
        self.assertEqual([m for n in snaps for m in n.sounds], [])

    def test_hyper_warp(self):
        s = self.server(NET_SLEEP_TIME=20, WORLD_WIDTH=15, START_WARPS=2, **QUIET)
        c, _ = self.joined(s, "Warper")
        other, _ = self.joined(s, "Other")
        before = c.latest().player(0)
        c.send(press(WARP))
        time.sleep(0.3)
        c.send(press(WARP))  # ignored while warping
        c.send(press(NUKE))  # refused while warping
        c.send(press(FIRE))  # kept for the end of the warp
        during = c.latest().player(0)
        self.assertEqual((during["warping"], during["warps"], during["nukes"]), (1, 1, 2))
        self.assertEqual(other.latest().player(0)["warping"], 1)
        began = time.time() - 0.3
        z = []
        ended = None
        deadline = time.time() + 8
        while ended is None and time.time() < deadline:
            for snap in c.snapshots(seconds=0.2):
                check_snapshot(self, snap, 1024, 15)
                p = snap.player(0)
                z.append(p["pos"][2])
                if p["warping"]:
                    self.assertEqual(snap.objects, [], "a shot or nuke left during the warp")
                if p["warping"] == 0:
                    ended = snap.arrived
                    break
        self.assertIsNotNone(ended, "the warp never ended")
        self.assertTrue(3.0 <= ended - began <= 6.5, ended - began)
        time.sleep(0.2)
        after = c.latest().player(0)
        self.assertEqual(after["warps"], 1)
        self.assertEqual(len(c.latest().objects_of(2)), 1, "the held shot")
        self.assertEqual(after["pos"][:2], before["pos"][:2])
        # 200 steps of 0.2 along -z: 40 units, in a world 30 across.
        d = wrapped_delta(before["pos"], after["pos"], 15)[2]
        self.assertAlmostEqual(d, -10.0, places=2)
        time.sleep(0.3)
        self.assertEqual(c.latest().player(0)["pos"], after["pos"])  # stopped dead


if __name__ == "__main__":
    unittest.main(verbosity=2)
