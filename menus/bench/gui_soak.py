#!/usr/bin/env python3
"""Soak run of the real client: a single-player game of five minutes (by
default) under a private Xvfb, flown with scripted real key events. Reports
whether the client survived, its resident memory over time and its frame
rate. Frames are counted by a tiny preloaded library around glXSwapBuffers,
so the game itself is run unchanged.

    ZBX3D=build/zbx3d python3 menus/bench/gui_soak.py [--seconds 300]

Not a ctest test: it takes minutes and its figures depend on the machine."""

import argparse
import os
import pathlib
import random
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "menus" / "tests"), str(ROOT / "testing" / "python")]
import gui_util as g  # noqa: E402

SWAP_COUNTER = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef void (*swap_fn)(void*, unsigned long);
static unsigned long frames;
static time_t last_second;
static FILE* log_file;

void glXSwapBuffers(void* display, unsigned long drawable) {
  static swap_fn real;
  if (!real) real = (swap_fn)dlsym(RTLD_NEXT, "glXSwapBuffers");
  real(display, drawable);
  ++frames;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (now.tv_sec != last_second) {
    last_second = now.tv_sec;
    if (!log_file && getenv("ZBX_SWAP_LOG")) log_file = fopen(getenv("ZBX_SWAP_LOG"), "w");
    if (log_file) {
      fprintf(log_file, "%ld.%09ld %lu\n", (long)now.tv_sec, now.tv_nsec, frames);
      fflush(log_file);
    }
  }
}
"""


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def swap_log(path):
    rows = []
    for line in pathlib.Path(path).read_text().splitlines():
        t, n = line.split()
        rows.append((float(t), int(n)))
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=300)
    args = parser.parse_args()
    if not g.have_tools():
        sys.exit("needs Xvfb, xdotool, ImageMagick and ZBX3D")

    work = pathlib.Path(tempfile.mkdtemp(prefix="zbx_soak_"))
    shim = work / "swapcount.so"
    (work / "swapcount.c").write_text(SWAP_COUNTER)
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(shim), str(work / "swapcount.c"),
                    "-ldl"], check=True)
    log = work / "swaps.txt"

    with g.PortLock(), g.Xvfb() as x:
        c = g.Client(x.display, env={"LD_PRELOAD": str(shim), "ZBX_SWAP_LOG": str(log)})
        userdir = c.prepare()
        # Enough lives that the five minutes are one game.
        single = userdir / "ZBXServerSingleConfig"
        single.write_text(single.read_text() + "\nSTART_LIVES=1000\n")
        c.start()
        c.window()
        c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu")
        c.key("Return")
        c.wait_screen(g.hud_shown, timeout=40, what="game view")

        start = time.monotonic()
        memory = []  # (seconds into the game, RSS KiB)
        rng = random.Random(7)
        flight = ["w", "s", "a", "d", "q", "e", "i", "k"]
        next_sample = 0.0
        while time.monotonic() - start < args.seconds:
            if c.proc.poll() is not None:
                break
            elapsed = time.monotonic() - start
            if elapsed >= next_sample:
                memory.append((elapsed, rss_kib(c.proc.pid)))
                next_sample += 10
            c.hold(rng.choice(flight), "j" if rng.random() < 0.5 else "l",
                   seconds=rng.uniform(0.1, 0.5))
            if rng.random() < 0.2:
                c.key("j")
            if rng.random() < 0.02:
                c.key(rng.choice(["h", "n"]))
            time.sleep(0.1)
        alive = c.proc.poll() is None
        game_seconds = time.monotonic() - start
        if alive:
            memory.append((game_seconds, rss_kib(c.proc.pid)))
            c.key("p")
            c.wait_screen(lambda p: g.menu_selected(p, 0), what="main menu after the game")
            c.key("Up", "Up", "Return")  # "Quit Game"
        status = c.wait_exit(30)
        output = c.output()
        c.stop()

    rows = swap_log(log)
    game_rows = [r for r in rows if r[1] > 0]
    rates = [(b[1] - a[1]) / (b[0] - a[0]) for a, b in zip(game_rows, game_rows[1:]) if b[0] > a[0]]
    # Skip the menu seconds at both ends: the game is the long middle stretch.
    middle = rates[5:-5] if len(rates) > 20 else rates
    after_minute = [kib for t, kib in memory if t >= 60]
    print(f"game seconds        {game_seconds:.0f}")
    print(f"survived            {alive} (exit status {status})")
    if middle:
        middle_sorted = sorted(middle)
        print(f"frames per second   mean {sum(middle) / len(middle):.1f}  "
              f"median {middle_sorted[len(middle) // 2]:.1f}  min {middle_sorted[0]:.1f}")
    if memory:
        print(f"RSS KiB             start {memory[0][1]}  at 60 s "
              f"{after_minute[0] if after_minute else '-'}  end {memory[-1][1]}  "
              f"max after 60 s {max(after_minute) if after_minute else '-'}")
        if after_minute:
            print(f"growth after 60 s   {max(after_minute) - after_minute[0]} KiB")
    if not alive or status != 0:
        print(output)
        sys.exit(1)


if __name__ == "__main__":
    main()
