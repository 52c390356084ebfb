#!/usr/bin/env python3
"""edb2eml on a failing disk: reads of the store fail with EIO at chosen pages (a preloaded
library wraps the read calls). The unreadable pages are listed (dump, summary, export log), the
exit status is 3, and every row of a clean read is still there unless a bad page held it: a row
missing from the damaged read must be one that a read with one of those pages bad alone misses.

usage: failing_disk_test.py EDB2EML MAKE_DEMO_STORE FAULT_LIBRARY"""
import collections
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import unittest

EDB2EML = MAKE_DEMO = FAULTS = None
PAGE = 4096
INCOMPLETE = 3


def run(args, store=None, faults=()):
    """edb2eml with `faults` ("OFFSET+LENGTH[@AFTER]" strings) failing reads of `store`."""
    env = dict(os.environ)
    if store is not None and faults:
        env.update(LD_PRELOAD=FAULTS, EDB_TEST_READ_FAULT_FILE=store,
                   EDB_TEST_READ_FAULTS=",".join(faults))
        # A sanitizer runtime that is a shared library wants to be first; this one is not.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    return subprocess.run([EDB2EML] + args, capture_output=True, text=True, env=env, timeout=600)


def page_faults(pages, rnd):
    """One failing byte somewhere in each page: the whole page is lost."""
    return ["%d+1" % (p * PAGE + rnd.randrange(PAGE)) for p in pages]


def rows_of(result):
    """The rows of `rows --json` as a multiset of (folder path, row)."""
    return collections.Counter((f["path"], json.dumps(r, sort_keys=True))
                               for f in json.loads(result.stdout) for r in f["rows"])


class FailingDisk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.store = os.path.join(cls.tmp.name, "demo.edb")
        subprocess.run([MAKE_DEMO, cls.store], check=True, capture_output=True)
        cls.pages = (os.path.getsize(cls.store) + PAGE - 1) // PAGE
        # The pages of the mailbox list (owner 21) are left alone: without it there is no
        # mailbox to find, and nothing to compare.
        with open(cls.store, "rb") as f:
            data = f.read()
        cls.mailbox_pages = {p for p in range(cls.pages)
                             if data[p * PAGE + 24:p * PAGE + 28] == (21).to_bytes(4, "little")}
        clean = run(["rows", cls.store, "--json"])
        assert clean.returncode == 0, clean.stderr
        cls.clean = rows_of(clean)
        cls.alone = {}  # page -> (rows missing, rows changed) with that page bad alone

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def lost_alone(self, page):
        if page not in self.alone:
            r = run(["rows", self.store, "--json"], self.store, ["%d+%d" % (page * PAGE, PAGE)])
            self.assertEqual(r.returncode, INCOMPLETE, r.stderr)
            got = rows_of(r)
            self.alone[page] = (set(self.clean - got), set(got - self.clean))
        return self.alone[page]

    def test_rows_outside_bad_pages_survive_and_ranges_are_listed(self):
        rnd = random.Random(29)
        # Never adjacent: each page is its own range.
        odd = [p for p in range(1, self.pages, 2) if p not in self.mailbox_pages]
        for count in (1, 10, 100):
            with self.subTest(ranges=count):
                pages = sorted(rnd.sample(odd, count))
                faults = page_faults(pages, rnd)
                dump = run(["dump", self.store], self.store, faults)
                self.assertEqual(dump.returncode, INCOMPLETE, dump.stderr)
                doc = json.loads(dump.stdout)
                self.assertEqual(doc["outcome"], "complete")
                size = os.path.getsize(self.store)
                self.assertEqual(doc["unreadable"],
                                 [{"offset": p * PAGE, "length": min(PAGE, size - p * PAGE),
                                   "reason": "Input/output error"} for p in pages])
                self.assertRegex(dump.stderr, r"read incompletely: %d ranges? \(%d bytes\)"
                                 % (count, sum(r["length"] for r in doc["unreadable"])))

                rows = run(["rows", self.store, "--json"], self.store, faults)
                self.assertEqual(rows.returncode, INCOMPLETE, rows.stderr)
                got = rows_of(rows)
                may_miss, may_change = set(), set()
                for p in pages:
                    missing, changed = self.lost_alone(p)
                    may_miss |= missing
                    may_change |= changed
                self.assertLessEqual(set(self.clean - got), may_miss)
                self.assertLessEqual(set(got - self.clean), may_change)
                kept = sum((self.clean & got).values())
                print("%3d bad pages: %d of %d rows kept" % (count, kept,
                                                             sum(self.clean.values())))
                self.assertGreater(kept, 0)

    def test_summary_export_log_and_a_body_read_failing_during_export(self):
        rnd = random.Random(7)
        pages = sorted(rnd.sample(range(3, self.pages - 1, 2), 5))
        faults = page_faults(pages, rnd)
        summary = run([self.store], self.store, faults)
        self.assertEqual(summary.returncode, INCOMPLETE, summary.stderr)
        self.assertRegex(summary.stdout, r"Unreadable +5 ranges \(20480 bytes\) could not be "
                                         r"read: Input/output error")
        for p in pages:
            self.assertIn("bytes 0x%x-0x%x (4096 bytes): Input/output error"
                          % (p * PAGE, p * PAGE + PAGE - 1), summary.stdout)

        # A page of a long plain body that the scan reads fine and the export's read fails.
        dump = json.loads(run(["dump", self.store]).stdout)
        body = next(m for m in dump["messages"] if m["primary_body"]["chunks"])
        chunk = body["primary_body"]["chunks"][0]
        scan_reads = next(k for k in range(1, 8)
                          if not json.loads(run(["dump", self.store], self.store,
                                                ["%d+1@%d" % (chunk, k)]).stdout)["unreadable"])
        with tempfile.TemporaryDirectory() as out:
            r = run(["export", self.store, "--out", out], self.store,
                    ["%d+1@%d" % (chunk, scan_reads)])
            self.assertEqual(r.returncode, INCOMPLETE, r.stdout + r.stderr)
            self.assertRegex(r.stdout, r"Messages failed: 0\b")
            self.assertGreaterEqual(int(re.search(r"missing parts noted: (\d+)", r.stdout)[1]), 1)
            with open(os.path.join(out, "export-log.txt"), encoding="utf-8") as f:
                log = f.read()
            p = chunk // PAGE
            self.assertIn("The store was read incompletely: 1 range (4096 bytes)", log)
            self.assertIn("  bytes 0x%x-0x%x (4096 bytes): Input/output error"
                          % (p * PAGE, p * PAGE + PAGE - 1), log)
            self.assertIn("could not be read completely", log)

    def test_a_disk_that_gives_nothing(self):
        r = run(["dump", self.store], self.store, ["0+%d" % os.path.getsize(self.store)])
        self.assertEqual(r.returncode, INCOMPLETE, r.stderr)
        doc = json.loads(r.stdout)
        self.assertEqual(doc["outcome"], "no_mailbox")
        self.assertEqual(doc["unreadable"], [{"offset": 0, "length": os.path.getsize(self.store),
                                              "reason": "Input/output error"}])


if __name__ == "__main__":
    EDB2EML, MAKE_DEMO, FAULTS = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
