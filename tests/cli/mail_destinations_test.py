#!/usr/bin/env python3
"""End to end: the demo store exported as .eml, mbox and Maildir, and uploaded to a throwaway
Dovecot on 127.0.0.1. Independent readers (Python's mailbox module, imaplib, Dovecot itself)
read everything back and compare it with the .eml export.

usage: mail_destinations_test.py EDB2EML MAKE_DEMO_STORE"""
import base64
import email
import email.policy
import email.utils
import glob
import imaplib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import mailbox

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from dovecot_instance import Dovecot  # noqa: E402

EDB2EML = MAKE_STORE = None
PREFIX = "Restored"


def decode_mutf7(name):
    """Modified UTF-7 (RFC 3501 5.1.3) to text."""
    out, i = [], 0
    while i < len(name):
        if name[i] == "&":
            end = name.index("-", i)
            chunk = name[i + 1:end]
            if chunk:
                raw = chunk.replace(",", "/")
                out.append(base64.b64decode(raw + "=" * (-len(raw) % 4)).decode("utf-16-be"))
            else:
                out.append("&")
            i = end + 1
        else:
            out.append(name[i])
            i += 1
    return "".join(out)


def eml_export(root):
    """{folder path relative to root: sorted list of .eml bytes}"""
    folders = {}
    for path in glob.glob(os.path.join(root, "**", "*.eml"), recursive=True):
        rel = os.path.relpath(os.path.dirname(path), root)
        with open(path, "rb") as f:
            folders.setdefault(rel, []).append(same_boundaries(f.read()))
    return {k: sorted(v) for k, v in folders.items()}


def same_boundaries(data):
    """The writer draws MIME boundaries at random: number them in order of appearance so that two
    renderings of one message compare equal byte for byte otherwise."""
    for n, b in enumerate(dict.fromkeys(re.findall(rb'boundary="([^"]+)"', data))):
        data = data.replace(b, b"BOUNDARY-%d" % n)
    return data


def to_lf(data):
    data = data.replace(b"\r\n", b"\n")
    return data if data.endswith(b"\n") else data + b"\n"


def header(raw, name):
    return email.message_from_bytes(raw, policy=email.policy.default)[name]


def run(args, env=None, **kw):
    return subprocess.run([EDB2EML] + args, capture_output=True, text=True, env=env, timeout=600,
                          **kw)


class Fixture(unittest.TestCase):
    store_options = []

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="edb-dest-")
        os.chmod(cls.tmp, 0o755)
        cls.store = os.path.join(cls.tmp, "demo.edb")
        subprocess.run([MAKE_STORE, cls.store] + cls.store_options, check=True,
                       capture_output=True)
        out = os.path.join(cls.tmp, "eml")
        r = run(["export", cls.store, "--out", out])
        assert r.returncode == 0, r.stderr
        cls.eml = eml_export(out)
        cls.total = sum(len(v) for v in cls.eml.values())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)


class FileFormats(Fixture):
    def test_mbox_holds_the_eml_export(self):
        out = os.path.join(self.tmp, "mbox")
        r = run(["export", self.store, "--out", out, "--format", "mbox"])
        self.assertEqual(r.returncode, 0, r.stderr)
        seen = {}
        for path in glob.glob(os.path.join(out, "**", "*.mbox"), recursive=True):
            rel = os.path.relpath(path, out)[:-len(".mbox")].replace(".sbd" + os.sep, os.sep)
            box = mailbox.mbox(path, create=False)
            bodies = []
            for key in box.keys():
                from_line = box.get_message(key).get_from()
                self.assertRegex(from_line, r"^\S+ \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$")
                # mboxrd: one '>' less on every line that reads ">*From ".
                raw = re.sub(rb"(?m)^>(>*From )", rb"\1", box.get_bytes(key))
                bodies.append(same_boundaries(raw))
                date = header(raw, "Date")
                if date is not None:
                    when = email.utils.parsedate_to_datetime(str(date))
                    self.assertIn(when.strftime("%H:%M:%S %Y"), from_line)
            box.close()
            if bodies:
                seen[rel] = sorted(bodies)
        self.assertEqual(seen, {k: sorted(to_lf(b) for b in v) for k, v in self.eml.items()})
        self.assertTrue(os.path.isfile(os.path.join(out, "Ann Smith", "Inbox.sbd", "Projects.mbox")))
        self.assertEqual([p for p in os.listdir(os.path.join(out, "Ann Smith"))
                          if p.startswith(".")], [], "temporary files left behind")

    def test_maildir_holds_the_eml_export_and_dovecot_reads_it(self):
        out = os.path.join(self.tmp, "maildir")
        r = run(["export", self.store, "--out", out, "--format", "maildir"])
        self.assertEqual(r.returncode, 0, r.stderr)
        top = os.path.join(out, "Ann Smith")
        expected = {k[len("Ann Smith") + 1:]: sorted(to_lf(b) for b in v)
                    for k, v in self.eml.items() if k.startswith("Ann Smith" + os.sep)}
        seen = {}
        for name in [""] + [d for d in os.listdir(top) if d.startswith(".")]:
            box = mailbox.Maildir(os.path.join(top, name), factory=None, create=False)
            keys = box.keys()
            for key in keys:
                msg = box.get_message(key)
                self.assertEqual(msg.get_flags(), "S")
                self.assertEqual(msg.get_subdir(), "cur")
                when = email.utils.parsedate_to_datetime(str(header(box.get_bytes(key), "Date")))
                self.assertEqual(int(os.path.getmtime(os.path.join(top, name, box._toc[key]))),
                                 int(when.timestamp()))
            if keys:
                folder = "Inbox" if name == "" else name[1:].replace("INBOX", "Inbox", 1)
                seen[folder.replace(".", os.sep)] = sorted(same_boundaries(box.get_bytes(k))
                                                           for k in keys)
        self.assertEqual(seen, expected)
        self.assertTrue(os.path.isdir(os.path.join(top, ".INBOX.Projects", "cur")))

        # Dovecot serves the Maildir as it is (a copy it may write its index files into).
        with Dovecot() as server:
            shutil.copytree(top, server.maildir)
            if os.getuid() == 0:
                for dirpath, _dirs, files in os.walk(server.home):
                    for p in [dirpath] + [os.path.join(dirpath, f) for f in files]:
                        os.chown(p, server.uid, server.gid)
            imap = imaplib.IMAP4("127.0.0.1", server.port)
            imap.login(server.user, server.password)
            for folder, bodies in expected.items():
                mbox = "INBOX" if folder == "Inbox" else folder.replace("Inbox", "INBOX", 1)
                typ, data = imap.select('"%s"' % mbox, readonly=True)
                self.assertEqual(typ, "OK", (folder, data))
                self.assertEqual(int(data[0]), len(bodies), folder)
            imap.logout()


class Uploader(Fixture):
    def env(self, password):
        env = dict(os.environ)
        env["EDB2EML_IMAP_PASSWORD"] = password
        return env

    def upload(self, server, *extra, password=None):
        url = "imap://%s@127.0.0.1:%d/%s" % (server.user, server.port, PREFIX)
        # This Dovecot has no TLS (imap_upload_test.py covers it): plain text, allowed.
        return run(["upload", self.store, "--url", url, "--no-tls", *extra],
                   env=self.env(password or server.password), stdin=subprocess.DEVNULL)

    def read_server(self, server):
        """{eml-export-style folder path: sorted [(BODY[], flags, INTERNALDATE)]}"""
        imap = imaplib.IMAP4("127.0.0.1", server.port)
        imap.login(server.user, server.password)
        typ, names = imap.list(PREFIX + "/", "*")
        result = {}
        for line in names:
            if line is None:
                continue
            raw = re.match(rb'\(.*?\) "/" (.*)$', line).group(1).decode()
            raw = raw[1:-1].replace('\\"', '"').replace("\\\\", "\\") if raw.startswith('"') else raw
            typ, data = imap.select('"%s"' % raw.replace("\\", "\\\\").replace('"', '\\"'),
                                    readonly=True)
            if int(data[0]) == 0:
                continue
            typ, fetched = imap.fetch("1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
            items = []
            for part in fetched:
                if isinstance(part, tuple):
                    meta = part[0].decode()
                    flags = re.search(r"FLAGS \(([^)]*)\)", meta).group(1)
                    date = re.search(r'INTERNALDATE "([^"]+)"', meta).group(1)
                    items.append((same_boundaries(part[1]), flags, date))
            folder = decode_mutf7(raw)[len(PREFIX) + 1:].replace("/", os.sep)
            result[folder] = sorted(items)
        imap.logout()
        return result

    def all_bodies(self, folders):
        return sorted(b for items in folders.values() for b in items)

    def check_server_matches_export(self, server):
        got = self.read_server(server)
        self.assertEqual(sorted(got), sorted(self.eml))
        self.assertIn("Иван Петров" + os.sep + "Inbox", got)  # a non-ASCII folder name
        for folder, items in got.items():
            self.assertEqual(sorted(i[0] for i in items), self.eml[folder], folder)
            for body, flags, date in items:
                self.assertIn("\\Seen", flags.split())
                sent = email.utils.parsedate_to_datetime(str(header(body, "Date")))
                stored = imaplib.Internaldate2tuple(b'INTERNALDATE "%s"' % date.encode())
                self.assertEqual(time.mktime(stored), sent.timestamp(), (folder, date))


class Upload(Uploader):
    def test_upload_twice_then_nothing_is_new(self):
        with Dovecot() as server:
            dry = self.upload(server, "--dry-run")
            self.assertEqual(dry.returncode, 0, dry.stderr)
            self.assertIn("Messages to upload: %d\n" % self.total, dry.stdout)
            self.assertEqual(self.read_server(server), {})

            first = self.upload(server)
            self.assertEqual(first.returncode, 0, first.stderr)
            self.assertIn("Messages uploaded: %d\n" % self.total, first.stdout)
            self.check_server_matches_export(server)

            second = self.upload(server)
            self.assertEqual(second.returncode, 0, second.stderr)
            self.assertIn("Messages uploaded: 0\n", second.stdout)
            self.assertIn("Messages skipped as present: %d\n" % self.total, second.stdout)
            self.check_server_matches_export(server)

    def test_a_run_broken_by_the_server_is_finished_by_the_next(self):
        with Dovecot() as server:
            url = "imap://%s@127.0.0.1:%d/%s" % (server.user, server.port, PREFIX)
            proc = subprocess.Popen([EDB2EML, "upload", self.store, "--url", url, "--no-tls"],
                                    env=self.env(server.password), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            deadline = time.time() + 120
            while time.time() < deadline and proc.poll() is None:
                if sum(len(files) for path, _d, files in os.walk(server.maildir)
                       if path.endswith("cur")) >= self.total // 3:
                    break
                time.sleep(0.01)
            server.stop()
            out, err = proc.communicate(timeout=120)
            self.assertEqual(proc.returncode, 1, out + err)
            self.assertIn("upload stopped", err)
            self.assertRegex(out, r"Messages failed: [1-9]")

            server.start()
            rerun = self.upload(server)
            self.assertEqual(rerun.returncode, 0, rerun.stderr + server.log()[-3000:])
            self.assertIn("Messages failed: 0", rerun.stdout)
            self.assertRegex(rerun.stdout, r"Messages skipped as present: [1-9]")
            self.check_server_matches_export(server)  # every message once

    def test_ctrl_c_stops_after_the_current_message(self):
        with Dovecot(fsync=True) as server:
            url = "imap://%s@127.0.0.1:%d/%s" % (server.user, server.port, PREFIX)
            proc = subprocess.Popen([EDB2EML, "upload", self.store, "--url", url, "--no-tls"],
                                    env=self.env(server.password), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            deadline = time.time() + 120
            while time.time() < deadline and proc.poll() is None:
                if sum(len(files) for path, _d, files in os.walk(server.maildir)
                       if path.endswith("cur")) >= 20:
                    break
                time.sleep(0.01)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=120)
            self.assertEqual(proc.returncode, 130, out + err)  # as a shell reports Ctrl+C
            self.assertIn("Interrupted: ", out)
            self.assertIn("Messages failed: 0", out)
            uploaded = int(re.search(r"Messages uploaded: (\d+)", out).group(1))
            on_server = sum(len(v) for v in self.read_server(server).values())
            self.assertEqual(on_server, uploaded)
            self.assertLess(uploaded, self.total)

    def test_wrong_password_is_a_clear_error(self):
        with Dovecot() as server:
            start = time.time()
            r = self.upload(server, password="not the password")
            self.assertEqual(r.returncode, 1)
            self.assertIn("login failed", r.stderr)
            self.assertIn(server.user, r.stderr)
            self.assertLess(time.time() - start, 30)
            self.assertEqual(self.read_server(server), {})
            missing = run(["upload", self.store, "--url", "imap://u@127.0.0.1:%d/" % server.port],
                          env={k: v for k, v in os.environ.items()
                               if k != "EDB2EML_IMAP_PASSWORD"}, stdin=subprocess.DEVNULL)
            self.assertEqual(missing.returncode, 1)
            self.assertIn("no password", missing.stderr)


class HostileNames(Uploader):
    """Separators, "..", quotes, wildcards, a '.' the server refuses, a second INBOX, a blank
    name and CJK: every destination takes every message once, and a rerun adds nothing."""
    store_options = ["--hostile-names"]

    def test_every_destination_takes_every_message(self):
        mbox_out, maildir_out = os.path.join(self.tmp, "mbox"), os.path.join(self.tmp, "maildir")
        for fmt, out in (("mbox", mbox_out), ("maildir", maildir_out)):
            r = run(["export", self.store, "--out", out, "--format", fmt])
            self.assertEqual(r.returncode, 0, r.stderr)
        count = 0
        for path in glob.glob(os.path.join(mbox_out, "**", "*.mbox"), recursive=True):
            box = mailbox.mbox(path, create=False)
            count += len(box)
            box.close()
        self.assertEqual(count, self.total)
        count = 0
        for dirpath, dirs, _files in os.walk(maildir_out):
            if "cur" in dirs:
                count += len(mailbox.Maildir(dirpath, factory=None, create=False))
        self.assertEqual(count, self.total)

        with Dovecot() as server:
            for expected_new in (self.total, 0):
                r = self.upload(server)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("Messages uploaded: %d\n" % expected_new, r.stdout)
            got = self.read_server(server)
            self.assertEqual(self.all_bodies({k: [i[0] for i in v] for k, v in got.items()}),
                             self.all_bodies(self.eml))
            self.assertIn(os.path.join("Ann Smith", "Inbox", "日本語 Ümläut"), got)
            self.assertIn(os.path.join("Ann Smith", "INBOX"), got)


if __name__ == "__main__":
    EDB2EML, MAKE_STORE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
