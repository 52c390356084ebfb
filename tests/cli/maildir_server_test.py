#!/usr/bin/env python3
"""End to end: Maildir exports served by a throwaway Dovecot on 127.0.0.1 with its default
Maildir++ layout (no layout, separator or UTF-8 option set) and read back over IMAP. Every
folder of the .eml export must be a folder the server opens, holding the same messages.

usage: maildir_server_test.py EDB2EML MAKE_DEMO_STORE"""
import email
import glob
import imaplib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from dovecot_instance import Dovecot  # noqa: E402

EDB2EML = MAKE_STORE = None
RUSSIAN_BOX = "Иван Петров"


def store_id(raw):
    """What tells the export's messages apart: the Message-ID, made from the store's own ids
    (two rows of one store message id in a folder get two)."""
    return email.message_from_bytes(raw)["Message-ID"].strip()


def eml_folders(root):
    """{folder path relative to root: frozenset of store ids}"""
    folders = {}
    for path in glob.glob(os.path.join(glob.escape(root), "**", "*.eml"), recursive=True):
        with open(path, "rb") as f:
            key = os.path.relpath(os.path.dirname(path), root)
            folders.setdefault(key, set()).add(store_id(f.read()))
    return {k: frozenset(v) for k, v in folders.items()}


def run(args):
    r = subprocess.run([EDB2EML] + args, capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stdout + r.stderr
    return r


def quoted(name):
    return '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')


def serve(top):
    """Dovecot serves the Maildir `top` (a copy it may write its index into): {mailbox name as
    listed: frozenset of store ids} for every folder that holds mail, and the server's log."""
    with Dovecot(separator=None) as server:
        shutil.copytree(top, server.maildir)
        if os.getuid() == 0:
            for dirpath, _dirs, files in os.walk(server.home):
                for p in [dirpath] + [os.path.join(dirpath, f) for f in files]:
                    os.chown(p, server.uid, server.gid)
        imap = imaplib.IMAP4("127.0.0.1", server.port)
        imap.login(server.user, server.password)
        typ, lines = imap.list('""', "*")
        assert typ == "OK", lines
        served = {}
        for line in lines:
            if isinstance(line, tuple):  # a name sent as a literal
                flags, name = line[0].decode(), line[1].decode()
            else:
                m = re.match(r'\((.*?)\) (?:"."|NIL) (.*)$', line.decode())
                flags, name = m.group(1), m.group(2)
                if name.startswith('"'):
                    name = name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            if "\\Noselect" in flags or "\\NonExistent" in flags:
                continue
            typ, data = imap.select(quoted(name), readonly=True)
            assert typ == "OK", (name, data)
            count = int(data[0])
            if count == 0:
                continue
            typ, fetched = imap.fetch("1:*", "(BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")
            ids = {store_id(part[1]) for part in fetched if isinstance(part, tuple)}
            assert len(ids) == count, (name, count, len(ids))
            served[name] = frozenset(ids)
        imap.logout()
        return served, server.log()


class MaildirServed(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="edb-maildir-")
        os.chmod(self.tmp, 0o755)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def export(self, options, out=None):
        """The store made with `options`, exported as .eml and as Maildir (into `out`)."""
        store = os.path.join(self.tmp, "store.edb")
        if not os.path.exists(store):
            subprocess.run([MAKE_STORE, store] + options, check=True, capture_output=True)
        eml = os.path.join(self.tmp, "eml")
        if not os.path.exists(eml):
            run(["export", store, "--out", eml])
        out = out or os.path.join(self.tmp, "maildir")
        run(["export", store, "--out", out, "--format", "maildir"])
        return eml_folders(eml), out

    def check_served(self, eml, out):
        """Every mailbox's Maildir, served: each .eml folder is one IMAP folder with the same
        messages (so the same count). Returns {mailbox: {IMAP name: ids}}."""
        boxes = {}
        for mailbox in sorted(os.listdir(out)):
            top = os.path.join(out, mailbox)
            if not os.path.isdir(top):
                continue
            for dirpath, dirs, files in os.walk(top):
                for n in dirs + files:
                    self.assertLessEqual(len(n.encode()), 255, n)
                    self.assertLess(len(os.path.join(dirpath, n).encode()), 4096)
            served, log = serve(top)
            expected = {k: v for k, v in eml.items() if k.split(os.sep)[0] == mailbox}
            self.assertEqual(sorted(served.values(), key=sorted),
                             sorted(expected.values(), key=sorted), mailbox)
            self.assertNotIn("Error:", log)
            boxes[mailbox] = served
        self.assertEqual(sum(len(v) for b in boxes.values() for v in b.values()),
                         sum(len(v) for v in eml.values()))
        return boxes

    def test_demo_store(self):
        eml, out = self.export([])
        boxes = self.check_served(eml, out)
        self.assertEqual(boxes["Ann Smith"]["INBOX"], eml[os.path.join("Ann Smith", "Inbox")])
        self.assertIn("INBOX.Projects.2003", boxes["Ann Smith"])
        self.assertIn("Sent Items", boxes[RUSSIAN_BOX])

    def test_names_servers_refuse_or_hide(self):
        eml, out = self.export(["--server-names"])
        served = self.check_served(eml, out)[RUSSIAN_BOX]
        # The real Inbox (the one with Projects below it) is INBOX, though "INBOX" comes first.
        real = [k for k in eml if os.path.dirname(os.path.dirname(k)) == RUSSIAN_BOX and
                os.path.basename(k) == "Projects"]
        self.assertEqual(len(real), 1, real)
        self.assertEqual(served["INBOX"], eml[os.path.dirname(real[0])])
        self.assertEqual(served["INBOX.Projects"], eml[real[0]])
        for name in ("INBOX_", "inbox_", "_", "INBOX._backup", "INBOX._backup.v1_2 &- v1_3",
                     "&BBIERQQ+BDQETwRJBDgENQ- &BDAEQARFBDgEMg-", "INBOX._hidden"):
            self.assertIn(name, served)
        long_names = [n for n in served if n.startswith("&BDAEMQQy")]
        self.assertEqual(len(long_names), 2, long_names)
        deep = [n for n in served if n.startswith("INBOX.AAA")]
        self.assertEqual(len(deep), 6, deep)

        # The same names on every run.
        _eml, again = self.export(["--server-names"], os.path.join(self.tmp, "again"))
        top, top_again = os.path.join(out, RUSSIAN_BOX), os.path.join(again, RUSSIAN_BOX)
        self.assertEqual(sorted(os.listdir(top)), sorted(os.listdir(top_again)))

    def test_one_store_id_and_date_twice_in_a_folder(self):
        # Readers tell messages apart by the name before ",S=" and ":2,": both copies must
        # differ there (else a reader takes them for one and may delete one on a sync), and the
        # server serves both.
        eml, out = self.export(["--duplicate-ids"])
        inbox = eml[os.path.join("Ann Smith", "Inbox")]
        self.assertEqual(len(inbox), 26)
        cur = os.path.join(out, "Ann Smith", "cur")
        names = os.listdir(cur)
        keys = [re.sub(r",S=\d+", "", n.split(":2,")[0]) for n in names]
        self.assertEqual(len(set(keys)), len(names), sorted(names))
        self.assertEqual(self.check_served(eml, out)["Ann Smith"]["INBOX"], inbox)

    def test_output_folder_deep_in_the_file_system(self):
        # Little of the longest path a call takes is left below the output folder: the folder
        # names shorten further and every message is still written and served.
        deep = self.tmp
        while len(deep.encode()) < 3600:
            deep = os.path.join(deep, "d" * 200)
        os.makedirs(deep)
        eml, out = self.export(["--server-names"], os.path.join(deep, "md"))
        self.check_served(eml, os.path.join(deep, "md"))


if __name__ == "__main__":
    EDB2EML, MAKE_STORE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
