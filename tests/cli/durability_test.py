#!/usr/bin/env python3
"""Durability of every export, seen from the system calls (an LD_PRELOAD shim records each
fsync, syncfs, file creation and rename in order): in every format each file is flushed (by
itself, or by a flush of its file system after it was made) before it gets its name, and each
directory that got a name is flushed before the program ends; --no-sync flushes nothing and
writes the same bytes.

usage: durability_test.py EDB2EML MAKE_DEMO_STORE SYNC_SHIM"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

EDB2EML = MAKE_DEMO = SHIM = None
FORMATS = ("eml", "mbox", "maildir")


def traced_export(store, out, fmt, *extra):
    log = out + ".calls"
    env = dict(os.environ, LD_PRELOAD=SHIM, EDB_SYNC_LOG=log)
    r = subprocess.run([EDB2EML, "export", store, "--out", out, "--format", fmt] + list(extra),
                       capture_output=True, text=True, timeout=600, env=env)
    calls = []
    if os.path.exists(log):
        with open(log, encoding="utf-8", errors="replace") as f:
            calls = [line.rstrip("\n").split(" ", 1) for line in f]
    return r, calls


def files_under(root):
    return sorted(os.path.relpath(os.path.join(d, n), root)
                  for d, _, names in os.walk(root) for n in names)


class Durability(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="edb-durable-")
        cls.store = os.path.join(cls.tmp, "demo.edb")
        subprocess.run([MAKE_DEMO, cls.store], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_every_file_and_folder_is_flushed_before_it_counts(self):
        for fmt in FORMATS:
            out = os.path.realpath(os.path.join(self.tmp, fmt))
            r, calls = traced_export(self.store, out, fmt)
            self.assertEqual(r.returncode, 0, r.stderr)
            synced, created, named_dirs, renames = set(), set(), set(), 0
            for kind, arg in calls:
                if kind == "C":
                    created.add(arg)
                    synced.discard(arg)
                    continue
                if kind == "F":
                    # The whole file system: every file made so far, not the folders' names
                    # made since (those wait for their own flush).
                    synced |= created
                    continue
                if kind == "S":
                    synced.add(arg)
                    named_dirs.discard(arg)
                    continue
                src, dst = arg.split("\t")
                if not dst.startswith(out + os.sep):
                    continue
                renames += 1
                self.assertIn(src, synced, f"{fmt}: {dst} named before its data was flushed")
                named_dirs.add(os.path.dirname(dst))
            self.assertGreater(renames, 20, fmt)
            self.assertEqual(named_dirs, set(), f"{fmt}: folders never flushed after naming")
            # Every message file on disk got its name through a flushed rename.
            self.assertGreaterEqual(renames, len(files_under(out)), fmt)

    def test_no_sync_flushes_nothing_and_writes_the_same(self):
        for fmt in FORMATS:
            out = os.path.realpath(os.path.join(self.tmp, "fast-" + fmt))
            r, calls = traced_export(self.store, out, fmt, "--no-sync")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual([c for c in calls if c[0] in ("S", "F")], [], fmt)
            ref = os.path.realpath(os.path.join(self.tmp, "ref-" + fmt))
            subprocess.run([EDB2EML, "export", self.store, "--out", ref, "--format", fmt],
                           check=True, capture_output=True)
            # The run's own record (its times and options) aside.
            d = subprocess.run(["diff", "-r", "-x", "manifest.json", "-x", "export-log.txt",
                                out, ref], capture_output=True, text=True)
            self.assertEqual(d.returncode, 0, d.stdout[:2000])


if __name__ == "__main__":
    EDB2EML, MAKE_DEMO, SHIM = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
