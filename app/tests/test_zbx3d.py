"""Start-up of the real zbx3d executable: per-user files, command line, exits.

Every run gets a private HOME and ends by itself or is stopped by pid within
a few seconds.
"""
import errno
import filecmp
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from zbxtest import file_size_limit, free_udp_port, stop_process

ZBX3D = os.environ.get("ZBX3D", "")
SOURCE = os.environ.get("ZBX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../../.."))
SHARE = os.environ.get("ZBX3D_DATA_PREFIX", os.path.join(SOURCE, "share"))
FILES = ["scores.dat", "ZBXConfig", "ZBXServerConfig", "ZBXServerSingleConfig"]
TIMEOUT = 20



@unittest.skipUnless(ZBX3D and os.access(ZBX3D, os.X_OK), "ZBX3D not set")
class Zbx3dStartup(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="zbx3d_test_")
        self.home = os.path.join(self.tmp, "home")
        os.mkdir(self.home)
        self.userdir = os.path.join(self.home, ".zbx3d")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def env(self, **changes):
        env = dict(os.environ)
        env["HOME"] = self.home
        env["ZBX3D_DATA_PREFIX"] = SHARE
        for key, value in changes.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def run_zbx(self, *args, argv0=None, preexec_fn=None, **env):
        return subprocess.run([argv0 or ZBX3D, *args], executable=ZBX3D, env=self.env(**env),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=TIMEOUT, preexec_fn=preexec_fn)

    def assert_complete_user_dir(self):
        self.assertFalse(os.path.exists(self.userdir + ".new"))
        for name in FILES:
            self.assertTrue(filecmp.cmp(os.path.join(self.userdir, name),
                                        os.path.join(SHARE, "zbx3d", "conf", name), shallow=False),
                            name)

    def test_first_run_installs_the_four_files_and_unknown_word_prints_usage(self):
        r = self.run_zbx("--bogus", argv0="my-zorbix")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "\nUsage: my-zorbix -cf Configuration_Filename\n")
        self.assertEqual(os.stat(self.userdir).st_mode & 0o777, 0o755)
        self.assert_complete_user_dir()

    def test_bare_file_name_is_a_usage_error_too(self):
        r = self.run_zbx("-ds", "game.cfg")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "\nUsage: %s -cf Configuration_Filename\n" % ZBX3D)

    def test_version_and_help_alone_answer_with_status_0_and_touch_nothing(self):
        r = self.run_zbx("--version", HOME=None)
        self.assertEqual((r.returncode, r.stdout), (0, "zbx3d 1.0.0\n"))
        r = self.run_zbx("--help")
        self.assertEqual(r.returncode, 0)
        for option in ("-cf FILE", "-scf FILE", "-ds", "-record FILE", "-play FILE", "--help",
                       "--version"):
            self.assertIn(option, r.stdout)
        self.assertFalse(os.path.exists(self.userdir))
        for words in (["--version", "-ds"], ["--help", "x"], ["-ds", "--version"]):
            r = self.run_zbx(*words)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stdout, "\nUsage: %s -cf Configuration_Filename\n" % ZBX3D)

    def test_data_prefix_without_a_data_tree_is_refused_first(self):
        empty = os.path.join(self.tmp, "empty")
        os.mkdir(empty)
        r = self.run_zbx("-ds", ZBX3D_DATA_PREFIX=empty)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "Cannot find the game data: no zbx3d folder in %s\n" % empty)
        self.assertFalse(os.path.exists(self.userdir))

    def test_existing_directory_is_left_as_it_is(self):
        self.run_zbx("--bogus")
        os.remove(os.path.join(self.userdir, "ZBXConfig"))
        with open(os.path.join(self.userdir, "scores.dat"), "w") as f:
            f.write("5 me\n")
        self.run_zbx("--bogus")
        self.assertFalse(os.path.exists(os.path.join(self.userdir, "ZBXConfig")))
        with open(os.path.join(self.userdir, "scores.dat")) as f:
            self.assertEqual(f.read(), "5 me\n")

    def test_missing_shared_default_stops_the_first_run(self):
        prefix = os.path.join(self.tmp, "share")
        shutil.copytree(os.path.join(SHARE, "zbx3d", "conf"), os.path.join(prefix, "zbx3d", "conf"))
        os.remove(os.path.join(prefix, "zbx3d", "conf", "ZBXServerSingleConfig"))
        r = self.run_zbx("-ds", ZBX3D_DATA_PREFIX=prefix)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "Error creating ZBXServerSingleConfig file\n")
        self.assertEqual(os.listdir(self.home), [])  # no folder: the next run is a first run
        self.run_zbx("--prepare-only")
        self.assert_complete_user_dir()

    def test_first_run_cut_short_by_a_full_disk_or_killed_is_done_again_whole(self):
        # Limits that let none, one and two of the four copies through.
        sizes = [os.path.getsize(os.path.join(SHARE, "zbx3d", "conf", n)) for n in FILES]
        self.assertEqual(sorted(sizes[:3]), sizes[:3])
        for i in range(3):
            for kill in (False, True):
                r = self.run_zbx("--prepare-only", preexec_fn=file_size_limit(sizes[i] - 1, kill))
                self.assertEqual((r.returncode, r.stdout), (-signal.SIGXFSZ, "") if kill else
                                 (1, "Error creating %s file\n" % FILES[i]))
                self.assertEqual(os.listdir(self.home), [".zbx3d.new"] if kill else [])
        self.run_zbx("--prepare-only")
        self.assert_complete_user_dir()

    def test_directory_that_cannot_be_created(self):
        # HOME names a plain file: no directory can be made under it, even by root.
        not_a_dir = os.path.join(self.tmp, "plain_file")
        open(not_a_dir, "w").close()
        r = self.run_zbx("-ds", HOME=not_a_dir)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "Error opening zbx directory\n")

    def test_home_unset_or_too_long_is_one_line_and_status_1(self):
        r = self.run_zbx("-ds", HOME=None)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.count("\n"), 1)
        self.assertIn("HOME", r.stdout)

        long_home = os.path.join(self.home, "h" * 60)
        os.mkdir(long_home)
        r = self.run_zbx("-ds", HOME=long_home)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.count("\n"), 1)
        self.assertIn("79", r.stdout)
        self.assertFalse(os.path.exists(os.path.join(long_home, ".zbx3d")))

    def test_over_long_option_argument_is_refused(self):
        r = self.run_zbx("-scf", "/tmp/" + "s" * 80, "-ds")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.count("\n"), 1)
        self.assertIn("79", r.stdout)
        self.assertTrue(os.path.isdir(self.userdir))  # prepared before the scan

    def test_second_scf_is_read_and_dedicated_mode_skips_client_settings(self):
        # Named pipes show which files are opened: opening one for reading
        # blocks until a writer comes, so reading the wrong file would hang.
        first = os.path.join(self.tmp, "first.cfg")
        second = os.path.join(self.tmp, "second.cfg")
        client = os.path.join(self.tmp, "client.cfg")
        for path in (first, second, client):
            os.mkfifo(path)
        proc = subprocess.Popen([ZBX3D, "-scf", first, "-cf", client, "-scf", second, "-ds"],
                                env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            fd = None
            deadline = time.monotonic() + TIMEOUT
            while fd is None and time.monotonic() < deadline:
                try:
                    fd = os.open(second, os.O_WRONLY | os.O_NONBLOCK)
                except OSError as e:
                    self.assertEqual(e.errno, errno.ENXIO)  # no reader yet
                    self.assertIsNone(proc.poll(), "exited without reading the second file")
                    time.sleep(0.02)
            self.assertIsNotNone(fd, "second -scf file never opened")
            # A one-player server on a free port, should a real server start.
            os.write(fd, b"MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=%d\n" % free_udp_port())
            os.close(fd)
            try:
                rc = proc.wait(timeout=2)
                self.assertEqual(rc, 0)
            except subprocess.TimeoutExpired:
                pass  # a real server keeps running; it is stopped below
            for path in (first, client):
                with self.assertRaises(OSError) as caught:
                    os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))
                self.assertEqual(caught.exception.errno, errno.ENXIO, path + " was opened")
        finally:
            stop_process(proc)
            proc.stdout.close()
            proc.stderr.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
