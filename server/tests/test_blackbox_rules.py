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
    FIRE, NUKE, ROT_X_POS, ROT_Y_POS, THRUST_FWD, ServerTestCase, norm, press,
    release, watch_all, wrapped_delta)

# A small world crowded with asteroids, where a thrusting ship soon hits one.
CROWDED = dict(WORLD_WIDTH=2, START_ASTEROIDS=20, MAX_TOTAL_ASTEROID_SIZE=1000, NUM_BOTS=0,
               NET_SLEEP_TIME=10, PRIZE_ODDS=0, ACCELERATION_CONSTANT=2)


def watch(test, client, seconds, width):
    return watch_all(test, {"": client}, seconds, width)[""]


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
            smoke = [o for n in seen for o in n.objects_of(4)]
            self.assertTrue(smoke, "no small explosion")
            self.assertEqual({o["size"] for o in smoke}, {1.0})
            for n in seen:
                for rock in n.objects_of(3):
                    self.assertTrue(0 < rock["size"] <= 0.7 + 1e-6, rock["size"])
            # Fragments have sizes that no start asteroid had.
            sizes = {round(r["size"], 6) for n in seen for r in n.objects_of(3)}
            start = {round(r["size"], 6) for r in seen[0].objects_of(3)}
            self.assertTrue(sizes - start, "no fragments")


class Nukes(ServerTestCase):
    def test_own_blast_hits_the_launcher_once(self):
        # A nuke that does not move explodes on its launcher's ship.
        still = dict(NUKE_SPEED=0, NET_SLEEP_TIME=10, START_ASTEROIDS=0, NUM_BOTS=0,
                     WORLD_WIDTH=10, SHIP_SCORE=10)
        hurt = self.joined(self.server(NUKE_DAMAGE=350, **still))[0]
        killed = self.joined(self.server(NUKE_DAMAGE=5000, **still))[0]
        shielded = self.joined(self.server(NUKE_DAMAGE=350, NUKE_SHIELD_DRAIN=50, **still))[0]
        shielded.send(bytes([0, 1]) + bytes(14))  # shield held
        for c in (hurt, killed, shielded):
            c.send(press(NUKE))
        seen = watch_all(self, {"hurt": hurt, "killed": killed, "shielded": shielded}, 2.5, 10)
        blasts = [n for n in seen["hurt"] if n.objects_of(11)]
        self.assertTrue(blasts, "no blast")
        ship = seen["hurt"][-1].player(0)
        self.assertEqual((ship["armor"], ship["alive"]), (650, 1), "hit once only")
        self.assertIn(13, [m["sound"] for n in seen["hurt"] for m in n.sounds])
        ship = seen["killed"][-1].player(0)
        self.assertEqual((ship["alive"], ship["score"]), (0, 10), "a kill by one's own nuke counts")
        ship = seen["shielded"][-1].player(0)
        self.assertEqual(ship["armor"], 1000)
        launched = [n.player(0)["shield"] for n in seen["shielded"]]
        drops = [a - b for a, b in zip(launched, launched[1:]) if a - b > 5]
        self.assertEqual(drops and min(drops) >= 50 and len(drops), 1, launched)


class ShipLife(ServerTestCase):
    def test_destruction_respawn_and_lives(self):
        deadly = dict(CROWDED, COLLISION_DAMAGE=1000000, SHIP_SCORE=10, START_ARMOR=500)
        two = self.server(GAME_TYPE=1, START_LIVES=2, **deadly)
        one = self.server(GAME_TYPE=1, START_LIVES=1, **dict(deadly, PRIZE_ODDS=1024))
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
        dying = ("two", "one", "dm", "solo")
        # Where the rocks drift is random: allow a long wait, which ends as
        # soon as every ship has met one.
        seen = watch_all(self, clients, 40, 2,
                         {name: (lambda n: n.player(0)["alive"] == 0) for name in dying})
        deaths = {}
        for name in dying:
            alive = [n.player(0)["alive"] for n in seen[name]]
            self.assertIn(0, alive, name + " never hit an asteroid")
            snaps = seen[name][:alive.index(0) + 1]
            dead = snaps[-1]
            ship = dead.player(0)
            self.assertEqual((ship["armor"], ship["shield"], ship["hit"]), (0, 0, 0))
            self.assertEqual(ship["score"], {"dm": -1, "solo": 0}.get(name, -10))
            booms = dead.objects_of(5)
            self.assertEqual(len(booms), 1, "no ship explosion")
            self.assertEqual(booms[0]["size"], 1.0)
            gap = norm(wrapped_delta(booms[0]["pos"], ship["pos"], 2))
            self.assertAlmostEqual(gap, 1.0, places=3)
            deaths[name] = (dead.arrived, ship, booms[0])
            heard = [m["sound"] for n in snaps[-2:] for m in n.sounds]
            if not any(len(n.sounds) >= 22 for n in snaps[-2:]):  # unless bumps filled the queue
                self.assertIn(3, heard)
            clients[name].send(release(THRUST_FWD))
        # A destroyed ship's fire request makes no shot and no sound.
        clients["one"].send(press(FIRE))

        # 250 steps later: back with a life less, or out for good.
        def settled(name):
            return lambda n: (n.arrived > deaths[name][0] + 3.5 and
                              (n.player(0)["alive"] == 1 or n.player(0)["lives"] == 0))

        more = watch_all(self, clients, max(deaths[n][0] for n in dying) + 7.5 - time.time(), 2,
                         dict({name: settled(name) for name in dying},
                              hurt=lambda n: n.player(0)["armor"] < 1000))
        for name in dying:
            when, ship, boom = deaths[name]
            after = [n for n in seen[name] + more[name] if n.arrived > when]
            # A destroyed ship stands still. (A respawn into a crowded spot
            # can end at once, before any snapshot shows the ship flying:
            # lives or score tell that apart.)
            first_life = [n for n in after
                          if (n.player(0)["alive"], n.player(0)["lives"], n.player(0)["score"]) ==
                          (0, ship["lives"], ship["score"])]
            for n in first_life:
                self.assertEqual(n.player(0)["pos"], ship["pos"])
            self.assertGreater(len(first_life), 100)
            back = [n for n in after if settled(name)(n)]
            self.assertTrue(back, name + " neither came back nor went out")
            gone = back[0].arrived - when
            self.assertTrue(4.0 <= gone <= 7.0, (name, gone))
            p = back[0].player(0)
            if name == "one":
                self.assertEqual((p["alive"], p["lives"]), (0, 0))
                self.assertEqual(after[-1].player(0)["alive"], 0, "out for good")
                # No shot, no fire sound, and the explosion left a powerup.
                self.assertEqual([n for n in after if n.objects_of(2)], [])
                self.assertNotIn(0, [m["sound"] for n in after for m in n.sounds])
                prizes = [o for n in after for o in n.objects if 6 <= o["kind"] <= 9]
                self.assertTrue(prizes, "no powerup")
                self.assertLess(norm(wrapped_delta(prizes[0]["pos"], boom["pos"], 2)), 0.3)
                self.assertAlmostEqual(prizes[0]["size"], 0.1, places=6)
                continue
            if p["score"] != ship["score"] or (p["lives"] != ship["lives"] and p["alive"] == 0):
                continue  # destroyed again on arrival
            self.assertEqual(p["alive"], 1, name)
            self.assertEqual(p["lives"], -1 if name == "dm" else 1)
            self.assertEqual(p["armor"], 500)

        # Surviving a bump: armor down, the hit flag and sound 13.
        hurt = seen["hurt"] + more["hurt"]
        armor = [n.player(0)["armor"] for n in hurt]
        self.assertLess(min(armor), 1000, "never bumped into an asteroid")
        first = [n for n in hurt if n.player(0)["armor"] < 1000][0]
        self.assertEqual((first.player(0)["alive"], first.player(0)["hit"]), (1, 1))
        self.assertIn(13, [m["sound"] for n in hurt for m in n.sounds])


if __name__ == "__main__":
    unittest.main(verbosity=2)
