#!/usr/bin/env python3
"""The committed sound files and manifest are exactly what the generator
makes: running tools/gen_sounds.py again into a scratch tree reproduces
every byte, so the files can always be rebuilt from their source."""

import filecmp
import os
import subprocess
import sys
import tempfile

REPO = os.environ.get("ZBX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))


def main():
    with tempfile.TemporaryDirectory() as scratch:
        os.makedirs(os.path.join(scratch, "sound", "tests"))
        subprocess.run([sys.executable, os.path.join(REPO, "tools", "gen_sounds.py"), scratch],
                       check=True, timeout=300)
        pairs = [("sound/tests/sound_manifest.txt",) * 2]
        pairs += [("share/zbx3d/sounds/%d.wav" % n,) * 2 for n in range(22)]
        bad = [made for made, _ in pairs
               if not filecmp.cmp(os.path.join(scratch, made), os.path.join(REPO, made),
                                  shallow=False)]
        extra = set(os.listdir(os.path.join(scratch, "share", "zbx3d", "sounds"))) - {
            "%d.wav" % n for n in range(22)}
    if bad or extra:
        print("differs from the generator's output:", " ".join(bad + sorted(extra)))
        return 1
    print("22 sound files and the manifest match tools/gen_sounds.py")
    return 0


if __name__ == "__main__":
    sys.exit(main())
