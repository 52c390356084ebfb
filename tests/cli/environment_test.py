#!/usr/bin/env python3
"""edb2eml in an unkind environment: a temporary folder that cannot take the scan's files, and a
file-size limit. Each ends the command with a message naming the file or folder and a non-zero
status, before any count of saved messages; never a silent loss, never a bare signal.

usage: environment_test.py EDB2EML MAKE_DEMO_STORE"""
import os
import resource
import subprocess
import sys
import tempfile
import unittest

EDB2EML = MAKE_DEMO = None


def run(args, tmpdir=None, fsize=None):
    env = dict(os.environ)
    if tmpdir is not None:
        env["TMPDIR"] = tmpdir

    def child():
        if fsize is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
    return subprocess.run([EDB2EML] + args, capture_output=True, text=True, env=env,
                          timeout=600, preexec_fn=child)


class Environment(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.store = os.path.join(cls.tmp.name, "demo.edb")
        subprocess.run([MAKE_DEMO, cls.store], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_unusable_temporary_folder_stops_every_command_first(self):
        plain = os.path.join(self.tmp.name, "plain-file")
        with open(plain, "w") as f:
            f.write("x")
        # A folder under a regular file, and one no one may create files in (root included).
        for folder, reason in ((os.path.join(plain, "sub"), "Not a directory"),
                               ("/proc", None)):
            with self.subTest(folder=folder):
                with tempfile.TemporaryDirectory() as out:
                    r = run(["export", self.store, "--out", out], tmpdir=folder)
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    self.assertIn("cannot create a temporary file in %s: " % folder, r.stderr)
                    if reason:
                        self.assertIn(reason, r.stderr)
                    self.assertNotIn("saved", r.stdout)
                    self.assertEqual(os.listdir(out), [])
                for command in (["dump"], ["rows", "--json"], []):
                    r = run(command[:1] + [self.store] + command[1:], tmpdir=folder)
                    self.assertEqual(r.returncode, 1, command)
                    self.assertIn("cannot create a temporary file in " + folder, r.stderr)

    def test_file_size_limit_is_a_write_error_naming_the_file(self):
        # Too small for the scan's own temporary files.
        with tempfile.TemporaryDirectory() as scratch, tempfile.TemporaryDirectory() as out:
            r = run(["export", self.store, "--out", out], tmpdir=scratch, fsize=1)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn("File too large", r.stderr)
            self.assertIn(scratch + "/edb2eml-", r.stderr)
            self.assertNotIn("saved", r.stdout)
        # Room for the scan, not for every message: those are failed and named.
        with tempfile.TemporaryDirectory() as out:
            r = run(["export", self.store, "--out", out], fsize=8192)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn("File too large", r.stderr)
            self.assertRegex(r.stdout, r"Messages failed: [1-9]")
        # Standard output into a limited file.
        with tempfile.TemporaryDirectory() as scratch:
            with open(os.path.join(scratch, "dump.json"), "w") as dump:
                env = dict(os.environ)
                p = subprocess.run([EDB2EML, "dump", self.store], stdout=dump,
                                   stderr=subprocess.PIPE, text=True, env=env, timeout=600,
                                   preexec_fn=lambda: resource.setrlimit(
                                       resource.RLIMIT_FSIZE, (8192, 8192)))
            self.assertEqual(p.returncode, 1, p.stderr)
            self.assertIn("cannot write to standard output: File too large", p.stderr)


if __name__ == "__main__":
    EDB2EML, MAKE_DEMO = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
