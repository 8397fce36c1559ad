#!/usr/bin/env python3
"""Shared helpers of the black-box server tests: start a real "zbx3d -ds"
(zbxtest.Server), talk to it over raw UDP on 127.0.0.1 and
decode what comes back byte by byte, strictly.

Run on its own, this file checks its decoders against hand-made datagrams, so
a fault in the helpers is not mistaken for a fault of the server."""

import math
import select
import socket
import struct
import time
import unittest

import zbxtest
from zbxtest import ZBX3D, free_udp_port, stop_process, udp_port_bound  # noqa: F401

PRESENCE, PLAYER, OBJECT, SOUND = 0, 1, 2, 3
SIZES = {PRESENCE: 546, PLAYER: 109, OBJECT: 61, SOUND: 17}
BUFFER = 2048
MAX_PACKET = 1502  # 2048 - 546

# Key event bytes: press of control c is c + 16, release is c.
THRUST_FWD, THRUST_REV = 5, 6
ROT_X_POS, ROT_X_NEG, ROT_Y_POS, ROT_Y_NEG, ROT_Z_POS, ROT_Z_NEG = 7, 8, 9, 10, 11, 12
FIRE, SHIELD, QUIT, NUKE, WARP = 13, 14, 15, 16, 17


def press(control):
    return bytes([control + 16])


def release(control):
    return bytes([control])


class WireError(AssertionError):
    pass


# ---- decoding ---------------------------------------------------------------

def decode_join_reply(data):
    if len(data) != 20:
        raise WireError("join reply of %d bytes" % len(data))
    game_type, max_players, slot = struct.unpack(">HHH", data[2:8])
    (width,) = struct.unpack("<f", data[8:12])
    max_shield, max_armor = struct.unpack(">ii", data[12:20])
    return dict(game_type=game_type, max_players=max_players, slot=slot, world_width=width,
                max_shield=max_shield, max_armor=max_armor, raw=data)


def floats_finite(values):
    return all(math.isfinite(v) for v in values)


def decode_object(m):
    kind, slot = struct.unpack("<ii", m[1:9])
    pos = struct.unpack("<3f", m[9:21])
    (size,) = struct.unpack("<f", m[21:25])
    orient = struct.unpack("<9f", m[25:61])
    return dict(type=OBJECT, kind=kind, slot=slot, pos=pos, size=size, orient=orient, raw=m)


def decode_player(m):
    slot, score, lives = struct.unpack("<iii", m[5:17])
    shield, armor = struct.unpack("<ii", m[21:29])
    name = m[49:69]
    return dict(type=PLAYER, slot=slot, score=score, lives=lives, shield_active=m[17],
                shield=shield, armor=armor, hit=m[29], alive=m[30], nukes=m[31], warps=m[32],
                warping=m[33], pos=struct.unpack("<3f", m[37:49]),
                name=name.split(b"\0", 1)[0].decode("latin-1"), name_raw=name,
                size=struct.unpack("<f", m[69:73])[0],
                orient=struct.unpack("<9f", m[73:109]), raw=m)


def decode_sound(m):
    return dict(type=SOUND, sound=struct.unpack("<b", m[1:2])[0],
                pos=struct.unpack("<3f", m[5:17]), raw=m)


def decode_presence(m):
    return dict(type=PRESENCE, objects=m[1:513], players=m[513:545], match_running=m[545], raw=m)


DECODERS = {PRESENCE: decode_presence, PLAYER: decode_player, OBJECT: decode_object,
            SOUND: decode_sound}


def split_datagram(data):
    """The messages of one snapshot datagram; raises WireError unless every
    byte belongs to a whole message of a known type."""
    out, pos = [], 0
    while pos < len(data):
        kind = data[pos]
        if kind not in SIZES:
            raise WireError("unknown message type %d at offset %d" % (kind, pos))
        end = pos + SIZES[kind]
        if end > len(data):
            raise WireError("type %d message cut short at offset %d of %d" % (kind, pos, len(data)))
        out.append(DECODERS[kind](data[pos:end]))
        pos = end
    return out


class Snapshot:
    """The datagrams of one snapshot: everything up to a PresenceMessage."""

    def __init__(self, datagrams, arrived):
        self.datagrams = datagrams
        self.arrived = arrived
        self.messages = [m for d in datagrams for m in split_datagram(d)]
        self.objects = [m for m in self.messages if m["type"] == OBJECT]
        self.players = [m for m in self.messages if m["type"] == PLAYER]
        self.sounds = [m for m in self.messages if m["type"] == SOUND]
        self.presence = self.messages[-1]

    def player(self, slot):
        for p in self.players:
            if p["slot"] == slot:
                return p
        return None

    def objects_of(self, kind):
        return [o for o in self.objects if o["kind"] == kind]

    def floats(self):
        for m in self.messages:
            if m["type"] == OBJECT:
                yield from m["pos"]
                yield m["size"]
                yield from m["orient"]
            elif m["type"] == PLAYER:
                yield from m["pos"]
                yield m["size"]
                yield from m["orient"]
            elif m["type"] == SOUND:
                yield from m["pos"]


def check_snapshot(test, snap, packet_size, width=None):
    """Layout rules that hold for every snapshot: order, boundaries, presence."""
    test.assertEqual(snap.presence["type"], PRESENCE)
    kinds = [m["type"] for m in snap.messages]
    test.assertEqual(kinds.count(PRESENCE), 1, "one presence message, at the end")
    order = {OBJECT: 0, PLAYER: 1, SOUND: 2, PRESENCE: 3}
    test.assertEqual([order[k] for k in kinds], sorted(order[k] for k in kinds),
                     "objects, then players, then sounds, then presence")
    oslots = [o["slot"] for o in snap.objects]
    pslots = [p["slot"] for p in snap.players]
    test.assertEqual(oslots, sorted(set(oslots)), "objects ascending, each once")
    test.assertEqual(pslots, sorted(set(pslots)), "players ascending, each once")
    test.assertTrue(all(0 <= s < 512 for s in oslots))
    test.assertTrue(all(0 <= s < 32 for s in pslots))
    pres = snap.presence
    test.assertEqual([k for k in range(512) if pres["objects"][k]], oslots)
    test.assertEqual([k for k in range(32) if pres["players"][k]], pslots)
    test.assertTrue(set(pres["objects"]) <= {0, 1} and set(pres["players"]) <= {0, 1})
    test.assertIn(pres["match_running"], (0, 1))
    for o in snap.objects:
        test.assertIn(o["kind"], range(2, 12), "ships travel as player messages")
    for s in snap.sounds:
        test.assertIn(s["sound"], range(0, 22))
    # Boundaries: every datagram but the last ends as soon as it grew past the
    # threshold; the last one ends with the presence message.
    last = len(snap.datagrams) - 1
    for i, d in enumerate(snap.datagrams):
        test.assertLessEqual(len(d), BUFFER)
        msgs = split_datagram(d)
        if i < last:
            test.assertGreater(len(d), packet_size, "datagram %d sent too early" % i)
            test.assertLessEqual(len(d) - SIZES[msgs[-1]["type"]], packet_size,
                                 "datagram %d sent too late" % i)
            test.assertNotEqual(msgs[-1]["type"], PRESENCE)
        else:
            test.assertEqual(msgs[-1]["type"], PRESENCE)
            test.assertLessEqual(len(d) - 546, packet_size)
    values = list(snap.floats())
    test.assertTrue(floats_finite(values), "a float that is not finite was sent")
    if width is not None:
        for m in snap.objects + snap.players:
            for c in m["pos"]:
                test.assertLessEqual(abs(c), width * (1 + 1e-6) + 1e-6,
                                     "position %r outside the world" % (m["pos"],))


# ---- geometry ----------------------------------------------------------------

def rows(orient):
    return [orient[0:3], orient[3:6], orient[6:9]]


def transpose(orient):
    r = rows(orient)
    return tuple(r[j][i] for i in range(3) for j in range(3))


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def norm(a):
    return math.sqrt(dot(a, a))


def wrapped_delta(a, b, width):
    """b - a per axis in the wrapping world, the nearest copy."""
    out = []
    for x, y in zip(a, b):
        d = y - x
        while d > width:
            d -= 2 * width
        while d < -width:
            d += 2 * width
        out.append(d)
    return out


def is_rotation(orient, tol=1e-3):
    r = rows(orient)
    for i in range(3):
        for j in range(3):
            if abs(dot(r[i], r[j]) - (1.0 if i == j else 0.0)) > tol:
                return False
    return True


# ---- processes and sockets ------------------------------------------------------

class Server(zbxtest.Server):
    """A zbxtest.Server that also closes the clients made for it."""

    def __init__(self, port_high=0, **settings):
        super().__init__(port_high, **settings)
        self.clients = []

    def client(self):
        c = Client(self.port)
        self.clients.append(c)
        return c

    def close(self):
        for c in self.clients:
            c.close()
        return super().close()


class Client:
    """A raw UDP socket on 127.0.0.1 that speaks the game protocol."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        self.sock.bind(("127.0.0.1", 0))
        self.to = ("127.0.0.1", port)
        self.pending = []  # datagrams of a snapshot not yet complete
        self.reply = None

    def send(self, data):
        self.sock.sendto(data, self.to)

    def receive(self, seconds):
        """One datagram, or None after `seconds`."""
        ready, _, _ = select.select([self.sock], [], [], max(0.0, seconds))
        if not ready:
            return None
        return self.sock.recv(65536)

    def drain(self, seconds=0.0):
        """Everything that arrives within `seconds`, as raw datagrams."""
        got, deadline = [], time.time() + seconds
        while True:
            d = self.receive(max(0.0, deadline - time.time()))
            if d is None:
                self.pending = []
                return got
            got.append(d)

    def join(self, name=b"Tester", seconds=2.0):
        """Sends a JoinRequest and returns the decoded reply, or None."""
        if isinstance(name, str):
            name = name.encode()
        self.send(name[:20].ljust(20, b"\0"))
        deadline = time.time() + seconds
        while time.time() < deadline:
            d = self.receive(deadline - time.time())
            if d is not None and len(d) == 20:
                self.reply = decode_join_reply(d)
                self.pending = []
                return self.reply
        return None

    def snapshots(self, count=None, seconds=2.0):
        """Complete snapshots until `count` of them arrived or `seconds` passed."""
        out, deadline = [], time.time() + seconds
        while count is None or len(out) < count:
            d = self.receive(deadline - time.time())  # with no time left: only what is there
            if d is None:
                break
            if len(d) < SIZES[PRESENCE] and len(d) in (1, 20):
                continue  # a late reply or QuitAck is not part of a snapshot
            self.pending.append(d)
            if split_datagram(d)[-1]["type"] == PRESENCE:
                out.append(Snapshot(self.pending, time.time()))
                self.pending = []
        return out

    def latest(self, seconds=1.0):
        """The first snapshot begun after the socket's backlog was dropped."""
        while self.receive(0.0) is not None:
            pass
        self.pending = []
        fresh = self.snapshots(count=2, seconds=seconds)
        return fresh[-1] if fresh else None

    def close(self):
        self.sock.close()


def watch_all(test, clients, seconds, width, until=None, packet_size=1024):
    """Reads several clients side by side, so that no socket's backlog
    overflows while another one is read. `clients` maps names to clients,
    `until` names to a condition on a snapshot; returns the checked
    snapshots per name, stopping once every condition held once."""
    until = dict(until or {})
    seen = {name: [] for name in clients}
    done = set()
    by_socket = {c.sock: name for name, c in clients.items()}
    deadline = time.time() + seconds
    while time.time() < deadline and (not until or done != set(until)):
        ready, _, _ = select.select(list(by_socket), [], [], max(0.0, deadline - time.time()))
        for sock in ready:
            name = by_socket[sock]
            for snap in clients[name].snapshots(count=1, seconds=0.0):
                check_snapshot(test, snap, packet_size, width)
                seen[name].append(snap)
                if name in until and name not in done and until[name](snap):
                    done.add(name)
    return seen


class ServerTestCase(unittest.TestCase):
    """Starts servers on demand and always stops them."""

    def setUp(self):
        self.servers = []

    def tearDown(self):
        reports = [s.close() for s in self.servers]
        self.assertEqual("".join(reports), "", "sanitizer reports")

    def server(self, port_high=0, **settings):
        s = Server(port_high, **settings)
        self.servers.append(s)
        self.assertIsNone(s.proc.poll(), s.output())
        return s

    def joined(self, server, name="Tester"):
        c = server.client()
        reply = c.join(name)
        self.assertIsNotNone(reply, "no join reply")
        return c, reply


# ---- self-test of the decoders --------------------------------------------------

class DecoderSelfTest(unittest.TestCase):
    def test_join_reply_example(self):
        raw = bytes.fromhex("0000 0001 0008 0003 00002041 0000012C 000003E8".replace(" ", ""))
        r = decode_join_reply(raw)
        self.assertEqual((r["game_type"], r["max_players"], r["slot"]), (1, 8, 3))
        self.assertEqual((r["world_width"], r["max_shield"], r["max_armor"]), (10.0, 300, 1000))

    def test_object_message_example(self):
        head = "02 03000000 07000000 0000803F 000000C0 0000003F 0000803E"
        m = split_datagram(bytes.fromhex(head.replace(" ", "")) + bytes(36))[0]
        self.assertEqual((m["kind"], m["slot"], m["pos"], m["size"]),
                         (3, 7, (1.0, -2.0, 0.5), 0.25))

    def test_cut_or_unknown_messages_are_errors(self):
        with self.assertRaises(WireError):
            split_datagram(bytes([1]) + bytes(50))
        with self.assertRaises(WireError):
            split_datagram(bytes([4]) + bytes(60))
        self.assertEqual(len(split_datagram(bytes([3]) + bytes(16) + bytes(546))), 2)

    def test_snapshot_rules_catch_misplaced_boundaries(self):
        def obj(slot):
            return bytes([2, 3, 0, 0, 0, slot, 0, 0, 0]) + bytes(52)
        presence = bytes([0, 1, 1, 1]) + bytes(542)
        check_snapshot(self, Snapshot([obj(0) + obj(1), obj(2) + presence], 0), 100)
        with self.assertRaises(AssertionError):  # sent too early
            check_snapshot(self, Snapshot([obj(0), obj(1) + obj(2) + presence], 0), 100)
        with self.assertRaises(AssertionError):  # sent too late
            check_snapshot(self, Snapshot([obj(0) + obj(1) + obj(2), presence], 0), 100)
        with self.assertRaises(AssertionError):  # out of order
            check_snapshot(self, Snapshot([obj(1) + obj(0), obj(2) + presence], 0), 100)
        with self.assertRaises(AssertionError):  # presence disagrees
            check_snapshot(self, Snapshot([obj(0) + obj(1), obj(3) + presence], 0), 100)

    def test_wrapped_delta_takes_the_nearest_copy(self):
        self.assertAlmostEqual(wrapped_delta((9.9, 0, 0), (-9.9, 0, 0), 10)[0], 0.2, places=5)
        self.assertEqual(transpose(tuple(range(9))), (0, 3, 6, 1, 4, 7, 2, 5, 8))


if __name__ == "__main__":
    unittest.main(verbosity=2)
