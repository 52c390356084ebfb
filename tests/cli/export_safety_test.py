#!/usr/bin/env python3
"""End to end: exports that meet a full disk, an interrupt, an earlier export, planted links and
names, read back with Python's mailbox module and compared with `diff -r` against a clean export.

usage: export_safety_test.py EDB2EML MAKE_DEMO_STORE BENCH_MAKE_STORE [FAULT_LIBRARY]"""
import collections
import glob
import mailbox
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

EDB2EML = MAKE_DEMO = MAKE_BENCH = FAULTS = None
FORMATS = ("eml", "mbox", "maildir")
# The bench store's one message with a part that cannot be read, so that a log is written.
LOG_FOLDER = "Ines Duarte 9\\Inbox"


def run(args, limit=None, umask=None):
    def child():
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        if umask is not None:
            os.umask(umask)
    return subprocess.run([EDB2EML] + args, capture_output=True, text=True, timeout=900,
                          preexec_fn=child)


def has_open(pid, path):
    """Whether process `pid` holds `path` open."""
    fds = "/proc/%d/fd" % pid
    try:
        names = os.listdir(fds)
    except OSError:
        return False
    for n in names:
        try:
            if os.readlink(os.path.join(fds, n)) == path:
                return True
        except OSError:
            pass
    return False


def export(store, out, fmt, *extra, **kw):
    return run(["export", store, "--out", out, "--format", fmt] + list(extra), **kw)


def summary_count(stdout, label):
    return int(re.search(r"^%s: (\d+)" % re.escape(label), stdout, re.M).group(1))


def leftovers(root):
    return [os.path.join(d, n) for d, _, names in os.walk(root) for n in names
            if n.startswith(".edb2eml")]


def mbox_messages(path):
    box = mailbox.mbox(path, create=False)
    try:
        return [box.get_bytes(k) for k in box.keys()]
    finally:
        box.close()


def held(root, fmt):
    """{folder: sorted message bytes} as the files hold them."""
    found = collections.defaultdict(list)
    if fmt == "eml":
        for p in glob.glob(os.path.join(root, "**", "*.eml"), recursive=True):
            with open(p, "rb") as f:
                found[os.path.relpath(os.path.dirname(p), root)].append(f.read())
    elif fmt == "mbox":
        for p in glob.glob(os.path.join(root, "**", "*.mbox"), recursive=True):
            found[os.path.relpath(p, root)] = mbox_messages(p)
    else:  # Maildir++ folders are hidden directories, which glob passes over
        for d, _, names in os.walk(root):
            if os.path.basename(d) == "cur":
                for n in names:
                    with open(os.path.join(d, n), "rb") as f:
                        found[os.path.relpath(d, root)].append(f.read())
    return {k: sorted(v) for k, v in found.items() if v}


def message_count(root, fmt):
    return sum(len(v) for v in held(root, fmt).values())


def same_tree(a, b):
    # The manifest and the log record each run (its times, the store's path); the files are
    # compared.
    r = subprocess.run(["diff", "-r", "-x", "manifest.json", "-x", "export-log.txt", a, b],
                       capture_output=True, text=True)
    return r.returncode == 0, r.stdout[:2000]


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="edb-safety-")
        cls.demo = os.path.join(cls.tmp, "demo.edb")
        cls.bench = os.path.join(cls.tmp, "bench.edb")
        subprocess.run([MAKE_DEMO, cls.demo], check=True, capture_output=True)
        subprocess.run([MAKE_BENCH, "--size", "4MiB", "--messages", "20000", cls.bench],
                       check=True, capture_output=True)
        cls.clean = {}
        for fmt in FORMATS:
            out = os.path.join(cls.tmp, "clean-demo-" + fmt)
            r = export(cls.demo, out, fmt)
            assert r.returncode == 0, r.stderr
            cls.clean[fmt] = out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def out(self, name):
        return os.path.join(self.tmp, self.id().rsplit(".", 1)[-1] + "-" + name)


class FullDisk(Fixture):
    """A disk that fills up (a small tmpfs) or a size limit on every file: the counts say what
    the files hold, the earlier messages of an mbox stay, nothing half-written is left, and a
    rerun with room completes the export."""

    def check(self, fmt, out, result):
        r = result
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        saved = summary_count(r.stdout, "Messages saved")
        failed = summary_count(r.stdout, "Messages failed")
        self.assertGreater(failed, 0)
        self.assertGreater(saved, 0)
        self.assertEqual(message_count(out, fmt), saved)
        self.assertEqual(saved + failed, message_count(self.clean[fmt], fmt))
        self.assertRegex(r.stderr, "File too large|No space left")
        self.assertEqual(leftovers(out), [])
        return saved, failed

    def finish(self, fmt, out, saved, failed):
        again = export(self.demo, out, fmt)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(summary_count(again.stdout, "Messages already in the output folder"),
                         saved)
        self.assertEqual(summary_count(again.stdout, "Messages saved"), failed)
        self.assertEqual(held(out, fmt), held(self.clean[fmt], fmt))
        if fmt != "mbox":  # an extended mbox has the late messages at its end
            same, diff = same_tree(out, self.clean[fmt])
            self.assertTrue(same, diff)

    def test_mbox_at_a_file_size_limit(self):
        out = self.out("mbox")
        saved, failed = self.check("mbox", out, export(self.demo, out, "mbox", limit=60000))
        # Each failed message is named on stderr (and so is the manifest, which the limit stops
        # too).
        self.assertEqual(len([l for l in self.last_stderr(out, 60000).splitlines()
                              if "File too large" in l and "manifest" not in l]), failed)
        self.finish("mbox", out, saved, failed)

    def last_stderr(self, out, limit):
        # The same run into a fresh folder gives the same failures.
        again = out + "-again"
        return export(self.demo, again, "mbox", limit=limit).stderr

    def on_small_disk(self, fmt):
        disk = self.out("disk")
        os.makedirs(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk],
                          capture_output=True).returncode != 0:
            self.skipTest("cannot mount a tmpfs here")
        try:
            out = os.path.join(disk, fmt)
            saved, failed = self.check(fmt, out, export(self.demo, out, fmt))
            room = self.out("room")
            shutil.copytree(out, room, symlinks=True)
        finally:
            subprocess.run(["umount", disk], check=True)
        self.finish(fmt, room, saved, failed)

    def test_eml_on_a_full_disk(self):
        self.on_small_disk("eml")

    def test_maildir_on_a_full_disk(self):
        self.on_small_disk("maildir")

    def test_mbox_on_a_full_disk(self):
        self.on_small_disk("mbox")


class Interrupt(Fixture):
    """SIGINT or SIGTERM during an export of a bigger store, then the same command again: the
    tree equals a clean export's."""

    def interrupt_then_finish(self, fmt, sig):
        # The reference tree without flushing (the same bytes, far sooner); the interrupted run
        # and the rerun flush as every export does.
        clean = self.out("clean")
        r = export(self.bench, clean, fmt, "--no-sync")
        self.assertEqual(r.returncode, 0, r.stderr)
        out = self.out("cut")
        proc = subprocess.Popen([EDB2EML, "export", self.bench, "--out", out, "--format", fmt],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 300
        while time.time() < deadline and proc.poll() is None:
            if os.path.isdir(out) and sum(len(n) for _, _, n in os.walk(out)) >= 20:
                break
            time.sleep(0.02)
        proc.send_signal(sig)
        stdout, stderr = proc.communicate(timeout=300)
        self.assertEqual(proc.returncode, 128 + sig, stdout + stderr)
        self.assertIn("Interrupted in ", stdout)
        self.assertEqual(leftovers(out), [])
        saved = summary_count(stdout, "Messages saved")
        self.assertEqual(message_count(out, fmt), saved)
        total = message_count(clean, fmt)
        self.assertLess(saved, total)
        if fmt == "mbox":  # every message in a committed mbox is whole
            for p in glob.glob(os.path.join(out, "**", "*.mbox"), recursive=True):
                with open(p, "rb") as f:
                    data = f.read()
                self.assertTrue(data == b"" or data.endswith(b"\n\n"), p)

        again = export(self.bench, out, fmt)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(summary_count(again.stdout, "Messages already in the output folder"),
                         saved)
        self.assertEqual(summary_count(again.stdout, "Messages saved"), total - saved)
        same, diff = same_tree(out, clean)
        self.assertTrue(same, diff)

    def test_sigint_during_the_scan_stops_it_and_writes_nothing(self):
        if FAULTS is None:
            self.skipTest("no read-fault library in this build")
        # A slow disk (every read of the store waits) keeps the scan reading; the store is
        # opened only once the handler is in place, so the signal meets the scan.
        env = dict(os.environ, LD_PRELOAD=FAULTS, EDB_TEST_READ_FAULT_FILE=self.bench,
                   EDB_TEST_READ_DELAY_US="200000")
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        out = self.out("scan-cut")
        proc = subprocess.Popen([EDB2EML, "export", self.bench, "--out", out],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=env)
        store = os.path.realpath(self.bench)
        while proc.poll() is None and not has_open(proc.pid, store):
            time.sleep(0.01)
        proc.send_signal(signal.SIGINT)
        stdout, stderr = proc.communicate(timeout=300)
        self.assertEqual(proc.returncode, 130, stdout + stderr)
        self.assertIn("edb2eml: interrupted; the scan of %s stopped and nothing was written"
                      % self.bench, stderr)
        self.assertEqual(stdout, "")
        self.assertFalse(os.path.exists(out) and os.listdir(out), out)

    def test_eml_sigint(self):
        self.interrupt_then_finish("eml", signal.SIGINT)

    def test_mbox_sigterm(self):
        self.interrupt_then_finish("mbox", signal.SIGTERM)

    def test_maildir_sigint(self):
        self.interrupt_then_finish("maildir", signal.SIGINT)

    def test_a_killed_run_leaves_no_temporary_file_after_the_next(self):
        # SIGKILL gives no chance to clean up: the next run removes what a dead run left.
        clean = self.out("clean")
        self.assertEqual(export(self.bench, clean, "eml", "--no-sync").returncode, 0)
        out = self.out("killed")
        proc = subprocess.Popen([EDB2EML, "export", self.bench, "--out", out],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 300
        while time.time() < deadline and proc.poll() is None:
            if os.path.isdir(out) and sum(len(n) for _, _, n in os.walk(out)) >= 200:
                break
            time.sleep(0.005)
        proc.kill()
        proc.wait()
        again = export(self.bench, out, "eml")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(leftovers(out), [])
        same, diff = same_tree(out, clean)
        self.assertTrue(same, diff)

    def test_only_temporary_files_of_ended_processes_are_removed(self):
        ended = subprocess.Popen(["true"])
        ended.wait()
        for fmt in FORMATS:
            out = self.out(fmt)
            shutil.copytree(self.clean[fmt], out, symlinks=True)
            # One message taken away, so the rerun writes again where the stale file lies.
            if fmt == "maildir":
                cur = next(d for d, _, n in os.walk(out) if os.path.basename(d) == "cur" and n)
                os.remove(os.path.join(cur, sorted(os.listdir(cur))[0]))
                where = os.path.join(os.path.dirname(cur), "tmp")
            else:
                victim = sorted(glob.glob(os.path.join(out, "**", "*." + fmt), recursive=True))[0]
                os.remove(victim)
                where = os.path.dirname(victim)
            dead = os.path.join(where, ".edb2eml-%d-0-0" % ended.pid)
            alive = os.path.join(where, ".edb2eml-%d-0-0" % os.getpid())
            odd = os.path.join(where, ".edb2eml-notanumber")
            for p in (dead, alive, odd):
                with open(p, "w") as f:
                    f.write("partial")
            r = export(self.demo, out, fmt)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertFalse(os.path.exists(dead), fmt)
            self.assertTrue(os.path.exists(alive), fmt)  # another run may still be writing it
            self.assertTrue(os.path.exists(odd), fmt)
            os.remove(alive)
            os.remove(odd)
            same, diff = same_tree(out, self.clean[fmt])
            self.assertTrue(same, (fmt, diff))


class Rerun(Fixture):
    def test_a_complete_export_run_again_writes_nothing(self):
        for fmt in FORMATS:
            out = self.out(fmt)
            shutil.copytree(self.clean[fmt], out, symlinks=True)
            r = export(self.demo, out, fmt)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(summary_count(r.stdout, "Messages saved"), 0)
            same, diff = same_tree(out, self.clean[fmt])
            self.assertTrue(same, diff)

    def test_fresh_refuses_a_folder_with_something_in_it(self):
        out = self.out("fresh")
        os.makedirs(out)
        r = export(self.demo, out, "eml", "--fresh", "--folder", "Ann Smith\\Drafts")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = export(self.demo, out, "eml", "--fresh", "--folder", "Ann Smith\\Drafts")
        self.assertEqual(r.returncode, 1)
        self.assertIn("not an empty folder", r.stderr)


class LinksAndNames(Fixture):
    def log_export(self, out, fmt="eml"):
        return export(self.bench, out, fmt, "--folder", LOG_FOLDER)

    def test_the_log_is_written_and_replaced_like_any_output(self):
        out = self.out("log")
        r = self.log_export(out)
        self.assertEqual(r.returncode, 0, r.stderr)
        log = os.path.join(out, "export-log.txt")
        with open(log) as f:
            text = f.read()
        self.assertIn("part missing", text)
        # A rerun adds its own block and keeps the first run's; the message it names is already
        # there and keeps its line.
        r = self.log_export(out)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(log) as f:
            again = f.read()
        self.assertTrue(again.startswith(text + "\n"), again)
        second = again[len(text) + 1:]
        self.assertTrue(second.startswith("=== Run started "), second)
        self.assertIn("part missing", second)
        self.assertTrue(second.endswith("Run complete.\n"), second)

    def test_a_planted_link_is_not_followed(self):
        out = self.out("link")
        os.makedirs(out)
        victim = os.path.join(self.tmp, "victim.txt")
        with open(victim, "w") as f:
            f.write("keep me\n")
        os.symlink(victim, os.path.join(out, "export-log.txt"))
        r = self.log_export(out)
        self.assertEqual(r.returncode, 1, r.stdout)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep me\n")
        self.assertTrue(os.path.islink(os.path.join(out, "export-log.txt")))
        self.assertIn("export-log.txt", r.stderr)
        self.assertIn("link", r.stderr)
        # What the log would have said is not lost.
        self.assertIn("Quarterly report", r.stderr)
        self.assertEqual(leftovers(out), [])

    def test_a_folder_in_the_logs_place_is_named_as_the_reason(self):
        for fmt in FORMATS:
            out = self.out(fmt)
            os.makedirs(os.path.join(out, "export-log.txt"))
            r = self.log_export(out, fmt)
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertIn("a folder has its name", r.stderr)
            self.assertNotIn("Input/output error", r.stderr)
            self.assertIn("part missing", r.stderr)

    def test_mailboxes_named_like_our_own_files_get_other_names(self):
        store = os.path.join(self.tmp, "own.edb")
        subprocess.run([MAKE_DEMO, store, "--own-names"], check=True, capture_output=True)
        for fmt in FORMATS:
            out = self.out(fmt)
            r = export(store, out, fmt)
            self.assertEqual(r.returncode, 0, r.stderr)
            top = sorted(os.listdir(out))
            self.assertIn("export-log.txt (2)", top)
            self.assertIn("Unattached folders (2)", top)
            # Every run's log is the file of that name; the mailbox got another.
            self.assertTrue(os.path.isfile(os.path.join(out, "export-log.txt")))
            # No folder reaches no mailbox here, so there is no "Unattached folders".
            self.assertNotIn("Unattached folders", top)
            self.assertTrue(os.path.isdir(os.path.join(out, "export-log.txt (2)")))


class Permissions(Fixture):
    def test_files_and_folders_follow_the_umask(self):
        for fmt in FORMATS:
            for mask in (0o022, 0o027):
                out = self.out("%s-%o" % (fmt, mask))
                r = export(self.demo, out, fmt, "--folder", "Ann Smith\\Inbox", umask=mask)
                self.assertEqual(r.returncode, 0, r.stderr)
                modes = set()
                for d, dirs, names in os.walk(out):
                    for n in dirs:
                        modes.add(("dir", stat.S_IMODE(os.lstat(os.path.join(d, n)).st_mode)))
                    for n in names:
                        modes.add(("file", stat.S_IMODE(os.lstat(os.path.join(d, n)).st_mode)))
                self.assertEqual(modes, {("dir", 0o777 & ~mask), ("file", 0o666 & ~mask)},
                                 (fmt, oct(mask)))


if __name__ == "__main__":
    EDB2EML, MAKE_DEMO, MAKE_BENCH = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    if len(sys.argv) > 1 and sys.argv[1].endswith(".so"):
        FAULTS = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
