#!/usr/bin/env python3
"""End to end: the manifest every export writes, `edb2eml verify`, and reruns that trust only what
still matches it: files cut, changed, replaced or planted, mbox messages cut at a blank line,
vCards a killed run never wrote, the export log of earlier runs, and -f reruns whose folders an
earlier run named in another case. Trees are compared with diff -r against a clean export.

usage: manifest_resume_test.py EDB2EML MAKE_DEMO_STORE"""
import glob
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

EDB2EML = MAKE_DEMO = None
FORMATS = ("eml", "mbox", "maildir")
OURS = ("manifest.json", "manifest-journal.jsonl", "export-log.txt")


def run(args):
    return subprocess.run([EDB2EML] + args, capture_output=True, text=True, timeout=900)


def export(store, out, fmt="eml", *extra):
    return run(["export", store, "--out", out, "--format", fmt] + list(extra))


def verify(out):
    return run(["verify", out])


def count(stdout, label):
    return int(re.search(r"^%s: (\d+)" % re.escape(label), stdout, re.M).group(1))


def sha256(path, offset=0, size=None):
    with open(path, "rb") as f:
        f.seek(offset)
        return hashlib.sha256(f.read() if size is None else f.read(size)).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def manifest(out):
    with open(os.path.join(out, "manifest.json"), encoding="utf-8") as f:
        return json.load(f)


def same_tree(a, b, also_ignore=()):
    """diff -r with our own records (manifest, journal, log) aside."""
    cmd = ["diff", "-r"] + [a for n in OURS + tuple(also_ignore) for a in ("-x", n)] + [a, b]
    r = subprocess.run(cmd, capture_output=True, text=True)
    return r.returncode == 0, r.stdout[:3000]


def files_of(root, ext):
    return sorted(p for p in glob.glob(os.path.join(root, "**", "*" + ext), recursive=True))


def maildir_files(root):
    return sorted(os.path.join(d, n) for d, _, names in os.walk(root)
                  if os.path.basename(d) == "cur" for n in names)


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="edb-manifest-")
        cls.demo = os.path.join(cls.tmp, "demo.edb")
        subprocess.run([MAKE_DEMO, cls.demo], check=True, capture_output=True)
        cls.clean = {}
        for fmt in FORMATS:
            out = os.path.join(cls.tmp, "clean-" + fmt)
            r = export(cls.demo, out, fmt)
            assert r.returncode == 0, r.stderr
            cls.clean[fmt] = out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def out(self, name):
        return os.path.join(self.tmp, self.id().rsplit(".", 1)[-1] + "-" + name)

    def copy(self, fmt, name=None):
        out = self.out(name or fmt)
        shutil.copytree(self.clean[fmt], out, symlinks=True)
        return out


class Manifest(Fixture):
    def test_the_manifest_records_store_run_and_every_file(self):
        with open(self.demo, "rb") as f:
            store_hash = hashlib.sha256(f.read()).hexdigest()
        for fmt in FORMATS:
            out = self.clean[fmt]
            m = manifest(out)
            self.assertEqual(len(m["runs"]), 1)
            run_ = m["runs"][0]
            self.assertEqual(run_["store"]["sha256"], store_hash, fmt)
            self.assertEqual(run_["store"]["size"], os.path.getsize(self.demo))
            self.assertEqual(run_["options"]["format"], fmt)
            self.assertFalse(run_["interrupted"])
            self.assertFalse(os.path.exists(os.path.join(out, "manifest-journal.jsonl")))
            files = set()
            for e in m["messages"]:
                self.assertEqual(e["state"], "saved", e)
                self.assertTrue(e["source"]["folder"] and e["source"]["messageId"], e)
                for f in [e] + e.get("vcards", []):
                    path = os.path.join(out, f["file"])
                    self.assertEqual(sha256(path, f.get("offset", 0), f["size"]), f["sha256"])
                    files.add(f["file"])
            if fmt == "eml":
                on_disk = files_of(out, ".eml") + files_of(out, ".vcf")
            elif fmt == "mbox":
                on_disk = files_of(out, ".mbox")
            else:
                on_disk = maildir_files(out)
            self.assertEqual(files, {os.path.relpath(p, out) for p in on_disk}, fmt)
            r = verify(out)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_verify_names_missing_changed_replaced_and_extra_files(self):
        out = self.copy("eml")
        emls = files_of(out, ".eml")
        cut, changed, replaced, gone = emls[0], emls[1], emls[2], emls[3]
        with open(cut, "r+b") as f:
            f.truncate(os.path.getsize(cut) // 2)
        with open(changed, "r+b") as f:
            f.seek(os.path.getsize(changed) - 10)
            f.write(b"X")
        shutil.copyfile(emls[5], replaced)
        os.remove(gone)
        extra = os.path.join(os.path.dirname(emls[0]), "planted.eml")
        with open(extra, "wb") as f:
            f.write(b"Subject: planted\r\n\r\nx\r\n")
        r = verify(out)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        rel = lambda p: os.path.relpath(p, out)  # noqa: E731
        for word, path in (("changed", cut), ("changed", changed), ("changed", replaced),
                           ("missing", gone), ("extra", extra)):
            self.assertIn("%s: %s" % (word, rel(path)), r.stdout)
        self.assertIn("missing: 1, changed: 3, extra: 1", r.stdout)
        self.assertEqual(verify(self.clean["eml"]).returncode, 0)

    def test_verify_finds_a_changed_mbox_message_and_added_bytes(self):
        out = self.copy("mbox")
        box = files_of(out, ".mbox")[0]
        data = read(box)
        at = data.index(b"\n\n", data.index(b"\nFrom ") + 1) + 5  # inside the second message
        with open(box, "r+b") as f:
            f.seek(at)
            f.write(b"#")
        r = verify(out)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertRegex(r.stdout, r"changed: %s \(the message at byte \d+\)"
                         % re.escape(os.path.relpath(box, out)))
        out2 = self.copy("mbox", "added")
        with open(files_of(out2, ".mbox")[0], "ab") as f:
            f.write(b"From x@y Thu Jan  1 00:00:00 1970\nSubject: added\n\nadded\n\n")
        r = verify(out2)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("bytes no recorded message accounts for", r.stdout)

    def test_a_pst_export_records_each_pst_whole_and_its_messages(self):
        out = self.out("pst")
        r = export(self.demo, out, "pst")
        self.assertEqual(r.returncode, 0, r.stderr)
        m = manifest(out)
        self.assertEqual(m["runs"][0]["options"]["format"], "pst")
        psts = {os.path.relpath(p, out) for p in files_of(out, ".pst")}
        by_file = {}
        for e in m["messages"]:
            self.assertEqual(e["state"], "saved", e)
            by_file.setdefault(e["file"], set()).add((e["sha256"], e["size"]))
        self.assertEqual(set(by_file), psts)
        self.assertEqual(sum(1 for _ in m["messages"]), count(r.stdout, "Messages saved"))
        for name, hashes in by_file.items():
            path = os.path.join(out, name)
            self.assertEqual(hashes, {(sha256(path), os.path.getsize(path))})
        self.assertEqual(verify(out).returncode, 0)
        victim = os.path.join(out, sorted(psts)[0])
        with open(victim, "r+b") as f:
            f.seek(5000)
            f.write(b"#")
        v = verify(out)
        self.assertEqual(v.returncode, 1)
        self.assertEqual(v.stdout.count("changed: " + sorted(psts)[0] + "\n"), 1, v.stdout)
        # A rerun writes the PST again and its record follows.
        self.assertEqual(export(self.demo, out, "pst").returncode, 0)
        self.assertEqual(verify(out).returncode, 0)
        self.assertEqual(len(manifest(out)["messages"]), len(m["messages"]))

    def test_verify_without_a_manifest_says_so(self):
        empty = self.out("empty")
        os.makedirs(empty)
        r = verify(empty)
        self.assertEqual(r.returncode, 2)
        self.assertIn("no manifest.json", r.stderr)


class Resume(Fixture):
    """A rerun writes again what no longer matches, keeps what is in the way, and leaves the tree
    as a clean export apart from the kept file."""

    def rerun(self, out, fmt, saved):
        r = export(self.demo, out, fmt)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(count(r.stdout, "Messages saved"), saved, r.stdout)
        v = verify(out)
        self.assertEqual(v.returncode, 0, v.stdout)
        return r

    def assert_restored(self, out, fmt, kept, again):
        """The tree equals the clean one but for `kept` (left as found) and `again` (its message
        written again), which holds the bytes the clean export has at `kept`'s name."""
        ok, diff = same_tree(out, self.clean[fmt], also_ignore=(os.path.basename(kept),
                                                                 os.path.basename(again)))
        self.assertTrue(ok, diff)
        with open(again, "rb") as f, open(os.path.join(self.clean[fmt], os.path.relpath(
                kept, out)), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_an_eml_cut_to_its_headers_is_written_again_and_kept(self):
        for with_manifest in (True, False):
            out = self.copy("eml", "manifest" if with_manifest else "older")
            if not with_manifest:
                os.remove(os.path.join(out, "manifest.json"))
            victim = files_of(out, ".eml")[0]
            data = read(victim)
            with open(victim, "wb") as f:
                f.write(data[:data.index(b"\r\n\r\n") + 4])
            r = self.rerun(out, "eml", 1)
            self.assertIn("1 file(s) in the output folder do not match", r.stdout)
            self.assertIn(os.path.relpath(victim, out), r.stdout)
            again = [p for p in files_of(out, ".eml") if not os.path.exists(
                os.path.join(self.clean["eml"], os.path.relpath(p, out)))]
            self.assertEqual(len(again), 1, r.stdout)
            self.assert_restored(out, "eml", victim, again[0])

    def test_a_planted_eml_with_a_real_message_id_does_not_count(self):
        out = self.copy("eml")
        victim = files_of(out, ".eml")[0]
        data = read(victim)
        with open(victim, "wb") as f:  # the real headers, someone else's body
            f.write(data[:data.index(b"\r\n\r\n") + 4] + b"planted\r\n")
        self.rerun(out, "eml", 1)
        self.assertEqual(read(victim).split(b"\r\n\r\n")[1], b"planted\r\n")

    def test_an_mbox_cut_at_a_blank_line_is_not_accepted(self):
        for with_manifest in (True, False):
            out = self.copy("mbox", "manifest" if with_manifest else "older")
            if not with_manifest:
                os.remove(os.path.join(out, "manifest.json"))
            box = max(files_of(out, ".mbox"), key=os.path.getsize)
            data = read(box)
            last = data.rindex(b"\nFrom ") + 1
            cut = data.index(b"\n\n", last) + 2  # the blank line after the last headers
            with open(box, "wb") as f:
                f.write(data[:cut])
            self.rerun(out, "mbox", 1)
            got = read(box)
            self.assertTrue(got.startswith(data[:cut]))  # nothing of the file is lost
            self.assertTrue(got.endswith(data[last:]), "the message is written again whole")

    def test_a_cut_maildir_message_is_written_again(self):
        out = self.copy("maildir")
        victim = maildir_files(out)[0]
        data = read(victim)
        with open(victim, "wb") as f:
            f.write(data[:len(data) // 2])
        self.rerun(out, "maildir", 1)
        self.assertEqual(read(victim), data[:len(data) // 2])

    def test_a_contacts_missing_vcard_is_written(self):
        for with_manifest in (True, False):
            out = self.copy("eml", "manifest" if with_manifest else "older")
            if not with_manifest:
                os.remove(os.path.join(out, "manifest.json"))
            cards = files_of(out, ".vcf")
            for c in cards[:3]:
                os.remove(c)
            self.rerun(out, "eml", 0)
            ok, diff = same_tree(out, self.clean["eml"])
            self.assertTrue(ok, diff)

    def test_verify_then_rerun_restores_a_deleted_file(self):
        out = self.copy("eml")
        victim = files_of(out, ".eml")[7]
        os.remove(victim)
        self.assertIn("missing: " + os.path.relpath(victim, out), verify(out).stdout)
        self.rerun(out, "eml", 1)
        ok, diff = same_tree(out, self.clean["eml"])
        self.assertTrue(ok, diff)


    def test_a_partial_rerun_finds_folders_whose_names_differ_in_case(self):
        # "Inbox" and "INBOX" side by side take turns for one name: a rerun of one of them must
        # find the directory the full export gave it (on Linux it would make a new one, on
        # Windows it would enter the other folder's).
        store = os.path.join(self.tmp, "hostile.edb")
        subprocess.run([MAKE_DEMO, store, "--hostile-names"], check=True, capture_output=True)
        clean = self.out("clean")
        self.assertEqual(export(store, clean).returncode, 0)
        out = self.out("rerun")
        shutil.copytree(clean, out, symlinks=True)
        files = [e["file"] for e in manifest(out)["messages"]
                 if e["source"]["folder"] == "Ann Smith\\INBOX\\"]
        self.assertEqual({os.path.dirname(f) for f in files}, {"Ann Smith/INBOX (2)"})
        for f in files[:2]:
            os.remove(os.path.join(out, f))
        r = export(store, out, "eml", "-f", "Ann Smith\\INBOX")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(count(r.stdout, "Messages saved"), 2, r.stdout)
        ok, diff = same_tree(out, clean)
        self.assertTrue(ok, diff)


class LogAndKills(Fixture):
    """The export log keeps every run's block; a killed export followed by a rerun leaves the tree
    a clean export makes, vCards included."""

    def test_a_second_run_keeps_the_first_runs_log_block(self):
        out = self.out("log")
        self.assertEqual(export(self.demo, out, "eml", "-f", "Ann Smith\\Inbox").returncode, 0)
        with open(os.path.join(out, "export-log.txt"), encoding="utf-8") as f:
            first = f.read()
        self.assertTrue(first.startswith("=== Run started "), first)
        self.assertIn("folder=Ann Smith\\Inbox", first)
        self.assertTrue(first.endswith("Run complete.\n"), first)
        self.assertEqual(export(self.demo, out, "eml", "-f", "Help Desk\\Inbox").returncode, 0)
        with open(os.path.join(out, "export-log.txt"), encoding="utf-8") as f:
            both = f.read()
        self.assertTrue(both.startswith(first), both)
        self.assertIn("folder=Help Desk\\Inbox", both[len(first):])
        self.assertEqual(both.count("=== Run started "), 2)
        self.assertEqual(len(manifest(out)["runs"]), 2)
        self.assertEqual(verify(out).returncode, 0)

    def start_and_wait_for_files(self, out, fmt, files):
        """An export of the demo store, once it has written `files` files."""
        proc = subprocess.Popen([EDB2EML, "export", self.demo, "--out", out, "--format", fmt],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 300
        while time.time() < deadline and proc.poll() is None:
            if os.path.isdir(out) and sum(len(n) for _, _, n in os.walk(out)) >= files:
                break
            time.sleep(0.005)
        return proc

    def test_a_killed_export_then_a_rerun_equal_a_clean_export(self):
        rng = random.Random(int(os.environ.get("EDB_KILL_SEED", "29")))
        for fmt in FORMATS:
            out = self.out(fmt)
            # Among the contacts' .eml and .vcf files in the eml case (the demo's contacts come
            # after its mail), elsewhere anywhere.
            proc = self.start_and_wait_for_files(out, fmt, rng.randrange(20, 400))
            proc.kill()
            proc.communicate()
            r = export(self.demo, out, fmt)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            ok, diff = same_tree(out, self.clean[fmt])
            self.assertTrue(ok, (fmt, diff))
            self.assertEqual(verify(out).returncode, 0, fmt)

    def test_an_interrupted_runs_block_says_so(self):
        out = self.out("sigint")
        proc = self.start_and_wait_for_files(out, "eml", 20)
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=300)
        self.assertEqual(proc.returncode, 130)
        with open(os.path.join(out, "export-log.txt"), encoding="utf-8") as f:
            self.assertRegex(f.read(), r"Run interrupted in .+\.\n$")
        self.assertTrue(manifest(out)["runs"][0]["interrupted"])
        self.assertEqual(verify(out).returncode, 0)


if __name__ == "__main__":
    EDB2EML, MAKE_DEMO = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
