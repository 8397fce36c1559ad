"""Installs as players and packagers make them: the build installed to a
prefix other than the configured one, the .deb unpacked with dpkg -x (when
ZBX_DEB names it), and a program whose data tree is missing. Each zbx3d runs
with a fresh HOME and no ZBX3D_DATA_PREFIX, as it would for a new user."""
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from zbxtest import free_udp_port

BUILD = os.environ.get("ZBX_BUILD_DIR", "")
DEB = os.environ.get("ZBX_DEB", "")
TIMEOUT = 20



def settings_lines(path):
    with open(path) as f:
        return {line.strip() for line in f if "=" in line and not line.startswith("#")}


class Install(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zbx_install_")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def env(self, home):
        os.makedirs(home, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if k != "ZBX3D_DATA_PREFIX"}
        env["HOME"] = home
        return env

    def serve_and_join(self, exe):
        """Runs exe -ds on a free port, joins it from 127.0.0.1 and expects the
        player to be added; the user's files are installed on the way."""
        home = tempfile.mkdtemp(prefix="home", dir=self.tmp)
        port = free_udp_port()
        settings = os.path.join(self.tmp, "server.cfg")
        with open(settings, "w") as f:
            f.write("MAX_NUMBER_OF_PLAYERS=8\nGAME_PORT=%d\n" % port)
        proc = subprocess.Popen([exe, "-ds", "-scf", settings], env=self.env(home),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        try:
            listening = proc.stderr.readline()
            self.assertIn("listening on UDP port %d" % port, listening)
            self.assertIn("up to 8 players, game type 1", listening)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                s.settimeout(5)
                s.sendto(b"installed".ljust(20, b"\0"), ("127.0.0.1", port))
                self.assertEqual(len(s.recvfrom(2048)[0]), 20)  # the JoinReply
            self.assertEqual(proc.stdout.readline(), "Adding Player 0\n")
        finally:
            proc.kill()
            proc.communicate(timeout=TIMEOUT)
        self.assertEqual(sorted(os.listdir(os.path.join(home, ".zbx3d"))),
                         ["ZBXConfig", "ZBXServerConfig", "ZBXServerSingleConfig", "scores.dat"])

    @unittest.skipUnless(BUILD, "ZBX_BUILD_DIR not set")
    def test_install_to_another_prefix_runs_from_there(self):
        prefix = os.path.join(self.tmp, "opt")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
        for path in ["share/man/man6/zbx3d.6.gz", "share/applications/zorbix.desktop",
                     "share/icons/hicolor/256x256/apps/zorbix.png",
                     "share/zbx3d/models/ship.spec", "etc/zbx3d/default.conf"]:
            self.assertTrue(os.path.isfile(os.path.join(prefix, path)), path)
        # The service's settings are the shipped ones with new clients verified.
        shipped = settings_lines(os.path.join(os.environ["ZBX_SOURCE_DIR"],
                                              "share/zbx3d/conf/ZBXServerConfig"))
        service = settings_lines(os.path.join(prefix, "etc/zbx3d/default.conf"))
        self.assertEqual(service - shipped, {"VERIFY_NEW_CLIENTS=1"})
        self.assertEqual(shipped - service, {"VERIFY_NEW_CLIENTS=0"})
        self.serve_and_join(os.path.join(prefix, "bin", "zbx3d"))

        # The same install moved elsewhere as a whole still finds its data.
        moved = os.path.join(self.tmp, "moved")
        shutil.move(prefix, moved)
        self.serve_and_join(os.path.join(moved, "bin", "zbx3d"))

    @unittest.skipUnless(DEB, "ZBX_DEB not set")
    def test_deb_unpacked_without_installing_runs(self):
        root = os.path.join(self.tmp, "root")
        subprocess.run(["dpkg", "-x", DEB, root], check=True, timeout=60)
        self.serve_and_join(os.path.join(root, "usr", "games", "zbx3d"))

    @unittest.skipUnless(BUILD, "ZBX_BUILD_DIR not set")
    def test_package_target_of_a_build_not_made_for_it_refuses_in_one_line(self):
        # tools/package.sh builds (and lintian checks) the package of its own folder.
        r = subprocess.run(["cmake", "--build", BUILD, "--target", "package"], capture_output=True,
                           text=True, timeout=300)
        said = [line for line in r.stdout.splitlines() if "tools/package.sh" in line]
        self.assertEqual((r.returncode != 0, len(said)), (True, 1), r.stdout + r.stderr)

    @unittest.skipUnless(BUILD, "ZBX_BUILD_DIR not set")
    def test_missing_data_tree_is_refused_before_the_user_folder_is_made(self):
        exe = os.path.join(self.tmp, "lonely", "bin", "zbx3d")
        os.makedirs(os.path.dirname(exe))
        shutil.copy(os.environ["ZBX3D"], exe)
        home = os.path.join(self.tmp, "fresh-home")
        r = subprocess.run([exe, "-ds"], env=self.env(home), capture_output=True, text=True,
                           timeout=TIMEOUT)
        if r.returncode != 1 and os.path.isdir(os.path.join(home, ".zbx3d")):
            self.skipTest("this machine has the game's data installed")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.count("\n"), 1)
        self.assertIn(os.path.join(self.tmp, "lonely", "share"), r.stdout)
        self.assertFalse(os.path.exists(os.path.join(home, ".zbx3d")))

        # With the data in place, the next run is a first run.
        source = os.path.join(os.environ["ZBX_SOURCE_DIR"], "share", "zbx3d")
        shutil.copytree(source, os.path.join(self.tmp, "lonely", "share", "zbx3d"))
        self.serve_and_join(exe)


if __name__ == "__main__":
    unittest.main(verbosity=2)
