#!/usr/bin/env python3
"""The compact snapshot stream of a real "zbx3d -ds" against the full one: a
headless client on the compact stream behind a relay on 127.0.0.1 that loses,
reorders and repeats datagrams shows the world a reference client on the full
stream shows, within the stream's bounds, and never waits long for a snapshot;
servers and clients that do not both offer it fall back to the full stream."""

import os
import random
import select
import socket
import subprocess
import threading
import time
import unittest

import test_blackbox_lib as lib

BOTCLIENT = os.path.join(os.environ.get("ZBX_BUILD_DIR", ""), "server", "botclient",
                         "zbx3d-botclient")
POSITION, ORIENTATION, SIZE = 0.0005, 0.001, 0.0005


class Relay:
    """Between one client and a server: drops a tenth of the datagrams each
    way, lets one in ten overtake the next, and sends one in twenty twice."""

    def __init__(self, server_port, seed=7):
        self.random = random.Random(seed)
        self.outer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.outer.bind(("127.0.0.1", 0))
        self.inner = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.inner.bind(("127.0.0.1", 0))
        self.port = self.outer.getsockname()[1]
        self.server = ("127.0.0.1", server_port)
        self.client = None
        self.held = {}
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def forward(self, sock, data, to):
        r = self.random.random()
        if r < 0.10:
            return
        held = self.held.pop(sock, None)
        if r < 0.20 and held is None:
            self.held[sock] = (data, to)  # goes out after the next one
            return
        sock.sendto(data, to)
        if held:
            sock.sendto(*held)
        if self.random.random() < 0.05:
            sock.sendto(data, to)

    def run(self):
        while not self.stop.is_set():
            ready, _, _ = select.select([self.outer, self.inner], [], [], 0.05)
            for sock in ready:
                data, addr = sock.recvfrom(4096)
                if sock is self.outer:
                    self.client = addr
                    self.forward(self.inner, data, self.server)
                elif self.client:
                    self.forward(self.outer, data, self.client)

    def close(self):
        self.stop.set()
        self.thread.join(timeout=5)
        self.outer.close()
        self.inner.close()


def read_dump(path):
    """The compact client's snapshots: (time, objects by slot, players by slot)."""
    snaps = []
    with open(path) as f:
        for line in f:
            w = line.split()
            if w[0] == "snapshot":
                snaps.append((float(w[1]), {}, {}))
            elif w[0] == "o":
                snaps[-1][1][int(w[1])] = dict(kind=int(w[2]), pos=tuple(map(float, w[3:6])),
                                               size=float(w[6]), orient=tuple(map(float, w[7:16])))
            elif w[0] == "p":
                v = list(map(int, w[1:12]))
                snaps[-1][2][v[0]] = dict(score=v[1], lives=v[2], shield_active=v[3], alive=v[7],
                                          warping=v[10], pos=tuple(map(float, w[12:15])),
                                          size=float(w[15]), orient=tuple(map(float, w[16:25])),
                                          name=" ".join(w[25:]))
    return snaps


def close(a, b, bound):
    return all(abs(x - y) <= bound for x, y in zip(a, b))


def same_world(compact, full, width, own):
    """Whether a compact snapshot shows the full stream's snapshot, within the
    bounds: every object, and every player but the two clients' own ships in
    what both of them see (their own ships are sent differently to each)."""
    objects, players = compact[1], compact[2]
    if set(objects) != {o["slot"] for o in full.objects}:
        return False
    for o in full.objects:
        c = objects[o["slot"]]
        d = lib.wrapped_delta(c["pos"], o["pos"], width)
        if (c["kind"] != o["kind"] or sum(x * x for x in d) ** 0.5 > POSITION
                or abs(c["size"] - o["size"]) > SIZE or not close(c["orient"], o["orient"], ORIENTATION)):
            return False
    if set(players) != {p["slot"] for p in full.players}:
        return False
    for p in full.players:
        c = players[p["slot"]]
        d = lib.wrapped_delta(c["pos"], p["pos"], width)
        if ((c["score"], c["lives"], c["shield_active"], c["alive"], c["warping"], c["name"])
                != (p["score"], p["lives"], p["shield_active"], p["alive"], p["warping"], p["name"])
                or sum(x * x for x in d) ** 0.5 > POSITION or abs(c["size"] - p["size"]) > SIZE):
            return False
        if p["slot"] not in own and not close(c["orient"], p["orient"], ORIENTATION):
            return False
    return True


def run_botclient(port, *args, seconds=6.0):
    r = subprocess.run([BOTCLIENT, "-p", str(port), "-t", str(seconds), *args],
                       capture_output=True, text=True, timeout=seconds + 30)
    summary = r.stdout.splitlines()[-1]
    return dict(kv.split("=", 1) for kv in summary.split()[1:]), r.stdout


class CompactTest(lib.ServerTestCase):

    def test_lossy_relay_client_matches_the_full_stream_within_bounds(self):
        # Five world steps a second: each step is in several snapshots of both
        # clients, so every compact snapshot has a full one of the same step.
        server = self.server(GAME_SLEEP=100, NUM_BOTS=4, START_ASTEROIDS=20,
                             MAX_TOTAL_ASTEROID_SIZE=100, BOT_NUKE_ODDS=100)
        reference, reply = self.joined(server, "Reference")
        full = []

        def watch():
            deadline = time.time() + 9
            while time.time() < deadline:
                full.extend(reference.snapshots(seconds=0.1))
        watcher = threading.Thread(target=watch)
        watcher.start()
        relay = Relay(server.port)
        dump = os.path.join(server.home, "compact.dump")
        started = time.time()
        try:
            summary, out = run_botclient(relay.port, "-C", "-P", "-n", "Relayed", "-D", dump,
                                         seconds=7.0)
        finally:
            relay.close()
            watcher.join()
        self.assertEqual(summary["stream"], "compact", out)
        self.assertLessEqual(float(summary["longest_gap"]), 0.2, out)
        own = {reply["slot"], int(out.split("slot=")[1].split()[0])}
        snaps = [s for s in read_dump(dump) if s[0] > 1.0]
        self.assertGreater(len(snaps), 80)
        unmatched = 0
        for snap in snaps:
            at = started + snap[0]
            near = [f for f in full if abs(f.arrived - at) < 0.5]
            if not any(same_world(snap, f, 10.0, own) for f in near):
                unmatched += 1
        self.assertEqual(unmatched, 0, "%d of %d compact snapshots match no full one"
                         % (unmatched, len(snaps)))
        # A small part of the full stream's bytes.
        self.assertLess(int(summary["bytes_per_sec"]) * 10, sum(
            len(d) for f in full for d in f.datagrams) / 9.0)

    def test_either_side_switched_off_gives_the_full_stream(self):
        off = self.server(COMPACT_SNAPSHOTS=0, NUM_BOTS=2)
        summary, out = run_botclient(off.port, "-C", seconds=1.5)
        self.assertEqual(summary["stream"], "full", out)
        self.assertGreater(int(summary["snapshots"]), 20, out)
        on = self.server(NUM_BOTS=2)
        summary, out = run_botclient(on.port, seconds=1.5)  # a client that does not ask
        self.assertEqual(summary["stream"], "full", out)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.settimeout(1)
        for server, offered in ((off, b""), (on, b"compact")):
            sock.sendto(b"\xff\xff\xff\xffgetinfo c", ("127.0.0.1", server.port))
            self.assertIn(b"\\zbx_extensions\\" + offered, sock.recv(2048))
        sock.close()


if __name__ == "__main__":
    unittest.main()
