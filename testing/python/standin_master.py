"""A stand-in master server for tests, written from dpmaster's published
protocol description: game servers register with a heartbeat, prove they are
there by answering a getinfo challenge, and clients ask for the list with
getservers. It serves on 127.0.0.1 only, in a thread that stops with close()."""

import os
import random
import socket
import struct
import threading

PREFIX = b"\xff\xff\xff\xff"


def parse_info(text):
    """The key/value pairs of an info string "\\k\\v\\k\\v..."."""
    fields = text.split(b"\n", 1)[0].split(b"\\")[1:]
    return {fields[i].decode("latin-1"): fields[i + 1].decode("latin-1")
            for i in range(0, len(fields) - 1, 2)}


class StandInMaster:
    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.1)
        self.port = self.sock.getsockname()[1]
        self.heartbeats = []        # (address, text) as they arrived
        self.challenges = {}        # address -> challenge sent
        self.registered = {}        # address -> info pairs of its answer
        self.queries = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop.is_set():
            try:
                data, addr = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if not data.startswith(PREFIX):
                continue
            body = data[4:]
            if body.startswith(b"heartbeat"):
                self.heartbeats.append((addr, body))
                challenge = "%08x" % random.getrandbits(32)
                self.challenges[addr] = challenge
                self.sock.sendto(PREFIX + b"getinfo " + challenge.encode(), addr)
            elif body.startswith(b"infoResponse\n"):
                info = parse_info(body[len(b"infoResponse\n"):])
                if (info.get("challenge") == self.challenges.get(addr) and info.get("gamename")
                        and "protocol" in info and "clients" in info
                        and int(info.get("sv_maxclients", "0") or 0) > 0):
                    self.registered[addr] = info
            elif body.startswith(b"getservers "):
                self.queries += 1
                words = body.split()
                game = words[1].decode("latin-1") if len(words) > 1 else ""
                entries = b"".join(
                    b"\\" + socket.inet_aton(a[0]) + struct.pack(">H", a[1])
                    for a, info in self.registered.items() if info.get("gamename") == game)
                self.sock.sendto(PREFIX + b"getserversResponse" + entries + b"\\EOT\0\0\0", addr)

    def close(self):
        self._stop.set()
        self._thread.join(timeout=5)
        self.sock.close()
