#!/usr/bin/env python3
"""Black-box checks of the game rules as the owner of a ship sees them over the
wire: shots breaking asteroids and scoring, ships hurt or destroyed by
asteroids, the wait before a respawn, lives and the out-of-play state."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_blackbox_lib import (  # noqa: E402
    FIRE, ROT_X_POS, ROT_Y_POS, THRUST_FWD, ServerTestCase, check_snapshot, norm, press,
    release, wrapped_delta)

# A small world crowded with asteroids, where a thrusting ship soon hits one.
CROWDED = dict(WORLD_WIDTH=2, START_ASTEROIDS=20, MAX_TOTAL_ASTEROID_SIZE=1000, NUM_BOTS=0,
               NET_SLEEP_TIME=10, PRIZE_ODDS=0, ACCELERATION_CONSTANT=2)


def watch(test, client, seconds, width, until=None):
    """Snapshots for up to `seconds`, each checked; stops early when `until`
    holds for the newest one."""
    out, deadline = [], time.time() + seconds
    while time.time() < deadline:
        for snap in client.snapshots(count=1, seconds=deadline - time.time()):
            check_snapshot(test, snap, 1024, width)
            out.append(snap)
            if until is not None and until(snap):
                return out
    return out


class Asteroids(ServerTestCase):
    def test_shots_break_asteroids_and_score(self):
        field = dict(WORLD_WIDTH=2.5, START_ASTEROIDS=20, MAX_TOTAL_ASTEROID_SIZE=1000,
                     NUM_BOTS=0, NET_SLEEP_TIME=10, COLLISION_DAMAGE=0, ASTEROID_SCORE=5,
                     SHIP_SIZE=0.001)
        clients = [self.joined(self.server(GAME_TYPE=t, **field))[0] for t in (1, 2)]
        snaps = [[], []]
        for c in clients:
            c.send(press(ROT_Y_POS))
            c.send(press(ROT_X_POS))
        for _ in range(40):
            for c in clients:
                c.send(press(FIRE))
                c.send(release(FIRE))
            for i, c in enumerate(clients):
                snaps[i] += watch(self, c, 0.025, 2.5)
        for i, c in enumerate(clients):
            snaps[i] += watch(self, c, 0.6, 2.5)
        for game_type, seen in zip((1, 2), snaps):
            breaks = sum(1 for n in seen for m in n.sounds if m["sound"] == 2)
            score = seen[-1].player(0)["score"]
            self.assertGreater(breaks, 0, "40 shots in a crowded world hit nothing")
            if game_type == 2:
                self.assertEqual(score, 0, "asteroids earn nothing in a deathmatch")
            elif not any(len(n.sounds) >= 22 for n in seen):  # unless bumps filled the queue
                self.assertEqual(score, 5 * breaks)
            self.assertTrue(any(n.objects_of(4) for n in seen), "no small explosion")
            for n in seen:
                for rock in n.objects_of(3):
                    self.assertTrue(0 < rock["size"] <= 0.7 + 1e-6, rock["size"])
            # Fragments have sizes that no start asteroid had.
            sizes = {round(r["size"], 6) for n in seen for r in n.objects_of(3)}
            start = {round(r["size"], 6) for r in seen[0].objects_of(3)}
            self.assertTrue(sizes - start, "no fragments")


class ShipLife(ServerTestCase):
    def test_destruction_respawn_and_lives(self):
        deadly = dict(CROWDED, COLLISION_DAMAGE=1000000, SHIP_SCORE=10, START_ARMOR=500)
        two = self.server(GAME_TYPE=1, START_LIVES=2, **deadly)
        one = self.server(GAME_TYPE=1, START_LIVES=1, **deadly)
        dm = self.server(GAME_TYPE=2, **deadly)
        hurt = self.server(GAME_TYPE=1, **dict(CROWDED, COLLISION_DAMAGE=40))
        # One player: type 0 whatever the file says, and no points lost to asteroids.
        solo = self.server(GAME_TYPE=1, START_LIVES=2, **dict(deadly, MAX_NUMBER_OF_PLAYERS=1))
        clients = {}
        for name, s in (("two", two), ("one", one), ("dm", dm), ("hurt", hurt), ("solo", solo)):
            c, _ = self.joined(s, name)
            c.send(press(THRUST_FWD))
            clients[name] = c

        # Destroyed: out of play, one unit behind a ship explosion, score down.
        deaths = {}
        for name in ("two", "one", "dm", "solo"):
            snaps = watch(self, clients[name], 10, 2, lambda n: n.player(0)["alive"] == 0)
            dead = snaps[-1]
            ship = dead.player(0)
            self.assertEqual(ship["alive"], 0, name + " never hit an asteroid")
            deaths[name] = (dead.arrived, ship)
            self.assertEqual((ship["armor"], ship["shield"], ship["hit"]), (0, 0, 0))
            self.assertEqual(ship["score"], {"dm": -1, "solo": 0}.get(name, -10))
            booms = dead.objects_of(5)
            self.assertEqual(len(booms), 1, "no ship explosion")
            gap = norm(wrapped_delta(booms[0]["pos"], ship["pos"], 2))
            self.assertAlmostEqual(gap, 1.0, places=3)
            heard = [m["sound"] for n in snaps[-3:] for m in n.sounds]
            if not any(len(n.sounds) >= 22 for n in snaps[-3:]):  # unless bumps filled the queue
                self.assertIn(3, heard)
        clients["two"].send(release(THRUST_FWD))
        clients["one"].send(release(THRUST_FWD))
        clients["solo"].send(release(THRUST_FWD))

        # Surviving a bump: armor down, the hit flag and sound 13.
        snaps = watch(self, clients["hurt"], 6, 2, lambda n: n.player(0)["armor"] < 1000)
        ship = snaps[-1].player(0)
        self.assertLess(ship["armor"], 1000)
        self.assertEqual((ship["alive"], ship["hit"]), (1, 1))
        heard = [m["sound"] for n in snaps + clients["hurt"].snapshots(count=2) for m in n.sounds]
        self.assertIn(13, heard)

        # 250 steps later: back with a life less, or out for good.
        for name in ("two", "one", "dm", "solo"):
            when, ship = deaths[name]
            snaps = watch(self, clients[name], when + 7 - time.time(), 2,
                          lambda n: n.player(0)["alive"] == 1 or n.player(0)["lives"] == 0)
            # A destroyed ship stands still. (A respawn into a crowded spot
            # can end at once, before any snapshot shows the ship flying:
            # lives or score tell that apart.)
            first_life = [n.player(0) for n in snaps
                          if (n.player(0)["alive"], n.player(0)["lives"], n.player(0)["score"]) ==
                          (0, ship["lives"], ship["score"])]
            for p in first_life:
                self.assertEqual(p["pos"], ship["pos"])
            self.assertGreater(len(first_life), 100)
            back = snaps[-1].player(0)
            gone = snaps[-1].arrived - when
            if back["alive"] == 0 and name != "one":
                continue  # destroyed again on arrival
            if name == "one":
                self.assertEqual((back["alive"], back["lives"]), (0, 0))
                self.assertTrue(4.0 <= gone <= 7.0, gone)
                later = watch(self, clients[name], 0.5, 2)[-1].player(0)
                self.assertEqual((later["alive"], later["lives"]), (0, 0))
                continue
            self.assertEqual(back["alive"], 1, name)
            self.assertTrue(4.0 <= gone <= 7.0, gone)
            self.assertEqual(back["lives"], -1 if name == "dm" else 1)
            self.assertEqual(back["armor"], 500)
            self.assertEqual(back["score"], ship["score"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
