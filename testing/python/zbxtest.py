"""Test support shared by the Python tests of every folder: free ports on
127.0.0.1, bounded waits and process stops, a private Xvfb, PPM pictures, and
a dedicated server ("zbx3d -ds") with its own HOME, settings file and port.
CTest puts this folder on PYTHONPATH."""

import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

ZBX3D = os.environ.get("ZBX3D", "")
# The headless client, built beside the game.
BOTCLIENT = os.path.join(os.environ.get("ZBX_BUILD_DIR", ""), "server", "botclient",
                         "zbx3d-botclient")

# The palette's colours as they come back from a screenshot.
BLACK, WHITE, DARK_GREY = (0, 0, 0), (255, 255, 255), (51, 51, 51)
RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)


def free_udp_port():
    """A port of 127.0.0.1 that was free a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def udp_port_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def udp_port_bound(port):
    """Whether some socket is bound to this UDP port, read from /proc so that
    probing never races the server's own bind."""
    hexport = ":%04X" % port
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(table) as f:
                for line in f.readlines()[1:]:
                    fields = line.split()
                    if len(fields) > 1 and fields[1].endswith(hexport):
                        return True
        except OSError:
            pass
    return False


def wait_until(predicate, timeout, step=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def stop_process(proc):
    """Ends proc if it still runs: asked first, then killed; bounded waits."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=10)


def file_size_limit(size, kill=False):
    """A preexec_fn: no file the process writes grows past `size` bytes. The
    write that would fails with EFBIG, as on a full disk, or with kill the
    process dies there of SIGXFSZ (without a core file)."""
    def apply():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL if kill else signal.SIG_IGN)
    return apply


class Xvfb:
    """An X server on a display number it picks itself (-displayfd)."""

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 30
        with os.fdopen(read_fd, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        stop_process(self.proc)


def read_ppm(blob):
    """(width, height, RGB rows from the top) of a binary P6 picture."""
    fields, pos = [], 0
    while len(fields) < 4:  # magic, width, height, maximum, each followed by one blank
        while blob[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not blob[pos:pos + 1].isspace():
            pos += 1
        fields.append(blob[start:pos])
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    data = blob[pos + 1:pos + 1 + width * height * 3]
    assert len(data) == width * height * 3
    return width, height, data


SANITIZER_MARKS = ("Sanitizer", "runtime error:")


class Server:
    """One "zbx3d -ds" with its own HOME, settings file ("-scf") and port (a
    free one unless given); returns once the port is bound (or the process
    ended)."""

    def __init__(self, port_high=0, port=None, **settings):
        self.home = tempfile.mkdtemp(prefix="zbx-server-")
        self.port = port or free_udp_port()
        settings.setdefault("MAX_NUMBER_OF_PLAYERS", 4)
        settings["GAME_PORT"] = self.port + 65536 * port_high  # only the low 16 bits count
        self.settings = settings
        self.conf = os.path.join(self.home, "server.conf")
        with open(self.conf, "w") as f:
            for key, value in settings.items():
                f.write("%s=%s\n" % (key, value))
        self.out_path = os.path.join(self.home, "server.out")
        self.err_path = os.path.join(self.home, "server.err")
        self.out = open(self.out_path, "w")
        # Standard error holds the "listening" line and any sanitizer report.
        self.err = open(self.err_path, "w")
        self.proc = subprocess.Popen([ZBX3D, "-ds", "-scf", self.conf], stdout=self.out,
                                     stderr=self.err, env=dict(os.environ, HOME=self.home))
        deadline = time.time() + 10
        while time.time() < deadline and self.proc.poll() is None:
            if udp_port_bound(self.port):
                break
            time.sleep(0.02)

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def wait_output(self, text, seconds=3.0):
        return wait_until(lambda: text in self.output(), seconds, step=0.02)

    def close(self):
        """Stops the server; returns the sanitizer reports in its output, if any."""
        stop_process(self.proc)
        self.out.close()
        self.err.close()
        with open(self.err_path) as f:
            out = self.output() + f.read()
        shutil.rmtree(self.home, ignore_errors=True)
        return "".join(line for line in out.splitlines(True)
                       if any(m in line for m in SANITIZER_MARKS))


# --- A fake game server: snapshots made here, sent over 127.0.0.1 ---

IDENTITY = (1, 0, 0, 0, 1, 0, 0, 0, 1)


def join_reply(slot=0, world_width=10.0):
    """Game type 0, one player, the slot, the world width, shield 300, armor 1000."""
    return struct.pack(">HHHH", 0, 0, 1, slot) + struct.pack("<f", world_width) + struct.pack(
        ">ii", 300, 1000)


def player_message(slot=0, position=(0.0, 0.0, 0.0), orientation=IDENTITY, score=7, lives=3):
    """A flying ship: shield 300, armor 1000, 2 nukes, 1 hyper-warp."""
    return struct.pack("<B4xiiiB3xiiBBBBB3xfff20sf9f", 1, slot, score, lives, 0, 300, 1000, 0, 1,
                       2, 1, 0, *position, b"Fake", 0.1, *orientation)


def object_message(slot, kind, position, size, orientation=IDENTITY):
    return struct.pack("<Biiffff9f", 2, kind, slot, *position, size, *orientation)


def snapshot(slot=0, objects=(), **player):
    """The own ship (player_message's fields) and objects (slot, kind, position,
    size), then the PresenceMessage."""
    data = b"".join(object_message(*o) for o in objects) + player_message(slot, **player)
    presence = bytearray(546)
    for o in objects:
        presence[1 + o[0]] = 1
    presence[513 + slot] = 1
    presence[545] = 1
    return data + bytes(presence)


class FakeServer:
    """Receives on a free port of 127.0.0.1; answers a JoinRequest when `answer` is set.
    stream() sends snapshots from a thread until close()."""

    def __init__(self, answer):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.05)
        self.port = self.sock.getsockname()[1]
        self.answer = answer
        self.client = None
        self.received = []
        self.streaming = None
        self.stop = threading.Event()

    def pump(self, seconds):
        """Takes datagrams in for a while (bounded), answering the join."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                data, addr = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            self.received.append(data)
            if len(data) == 20 and self.answer and self.client is None:
                self.client = addr
                self.sock.sendto(join_reply(), addr)

    def send_snapshots(self, count, gap=0.05, **player):
        for _ in range(count):
            self.sock.sendto(snapshot(**player), self.client)
            time.sleep(gap)

    def stream(self, make, gap=0.05):
        """Sends make(n) for n = 0, 1, ... every `gap` seconds, on the clock."""
        def run():
            start, n = time.monotonic(), 0
            while not self.stop.is_set():
                self.sock.sendto(make(n), self.client)
                n += 1
                self.stop.wait(max(0.0, start + n * gap - time.monotonic()))
        self.streaming = threading.Thread(target=run, daemon=True)
        self.streaming.start()

    def close(self):
        self.stop.set()
        if self.streaming:
            self.streaming.join(timeout=5)
        self.sock.close()
