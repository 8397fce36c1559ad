"""check_layers.py on small trees: an include upwards and the cycle it makes
are reported; includes down the layers and a library's own headers pass."""
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(__file__), "..", "check_layers.py")


def tree(files):
    root = tempfile.mkdtemp(prefix="layers_")
    files["HACKING.md"] = "## Layers\n```layers\ntop\nmid other\nbase\n```\n"
    for path, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)) or root, exist_ok=True)
        with open(os.path.join(root, path), "w") as f:
            f.write(text)
    return subprocess.run([sys.executable, TOOL, root], capture_output=True, text=True)


class CheckLayers(unittest.TestCase):
    def test_downward_and_own_includes_pass(self):
        r = tree({"top/a.cpp": '#include "mid/include/mid/m.h"\n#include "own.h"\n',
                  "top/own.h": "", "mid/m.cpp": '#include "base/b.h"\n',
                  "tests_elsewhere/x.cpp": '#include "top/a.h"\n'})
        self.assertEqual((r.returncode, r.stdout), (0, ""))

    def test_upward_sideways_and_cycle_fail(self):
        r = tree({"base/b.cpp": '#include "top/t.h"\n', "top/t.cpp": '#include "base/b.h"\n',
                  "mid/m.cpp": '#include "other/o.h"\n'})
        self.assertEqual(r.returncode, 1)
        self.assertIn("base/b.cpp: includes top/t.h: base may not depend on top", r.stdout)
        self.assertIn("mid may not depend on other", r.stdout)
        self.assertIn("cycle: base -> top -> base", r.stdout)


if __name__ == "__main__":
    unittest.main()
