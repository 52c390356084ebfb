#!/usr/bin/env python3
"""PST export read back by two independent readers. The demo store and a small generated bench
store go out as .eml and as PST; readpst and pffexport must read every PST without a warning
or error line, pffinfo must call it a valid Unicode PST, the structure checker must find no
fault, and every message of the .eml export must come back from both readers in the same
folder with the same subject, sender, recipients, date, plain and HTML bodies and attachments.
The PST must come out byte for byte the same on a second run, and a rerun into the same folder
writes the mailbox's PST again and says so.
Run: pst_readers_test.py EDB2EML MAKE_DEMO_STORE BENCH_MAKE_STORE MAKE_SAMPLE_PST"""
import collections
import datetime
import email
import email.header
import email.policy
import email.utils
import hashlib
import os
import pathlib
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pst  # noqa: E402

FAULTS = []


def fault(msg):
    FAULTS.append(msg)
    print("FAIL:", msg)


def text(s):
    """A body as compared: LF line ends, no trailing white space."""
    if s is None:
        return None
    s = s.replace("\r\n", "\n").replace("\r", "\n").rstrip()
    return s or None


# The RTF body as each side shows it beside the others: the .eml as an attachment, readpst as
# one of its own; pffexport apart from the attachments. Left out of the comparison.
RTF_BODY_PARTS = {"message.rtf", "rtf-body.rtf"}


def fingerprint(subject, sender, to, date, plain, html, attachments, with_to=True):
    attachments = [a for a in attachments if a[0] not in RTF_BODY_PARTS]
    return (subject or "", (sender or "").lower(), tuple(sorted(to)) if with_to else (),
            date, text(plain), text(html), tuple(sorted(attachments)))


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def decoded(raw):
    return str(email.header.make_header(email.header.decode_header(raw or ""))) if raw else ""


def names_of(value):
    """The display names of an address list (addresses where a name is missing); readers
    also write bare names without an address."""
    out = []
    for piece in re.split(r'[;,](?=(?:[^"]*"[^"]*")*[^"]*$)', value or ""):
        piece = piece.strip()
        if "<" in piece:
            name = piece[:piece.index("<")].strip().strip('"')
            out.append(name or piece[piece.index("<") + 1:].rstrip(">"))
        elif piece:
            out.append(piece.strip('"'))
    return out


def parse_eml(path):
    # compat32 keeps header values raw: a reader's filename parameter is taken as written.
    msg = email.message_from_bytes(path.read_bytes(), policy=email.policy.compat32)
    plain = html = None
    attachments = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        disposition = " ".join(str(part.get("Content-Disposition", "")).split())
        quoted = re.search(r'filename="([^"]*)"', disposition)
        name = decoded(quoted.group(1)) if quoted else part.get_filename()
        if name is not None or disposition.startswith("attachment"):
            attachments.append((name or "", digest(payload)))
            continue
        body = payload.decode(part.get_content_charset() or "utf-8", "replace")
        if part.get_content_type() == "text/plain" and plain is None:
            plain = body
        elif part.get_content_type() == "text/html" and html is None:
            html = body
    sender = email.utils.parseaddr(decoded(msg["From"]))[1]
    to = names_of(decoded(msg["To"]))
    date = None
    if msg["Date"]:
        date = int(email.utils.parsedate_to_datetime(msg["Date"]).timestamp())
    return fingerprint(decoded(msg["Subject"]), sender, to, date, plain, html, attachments)


def eml_export(root):
    """folder path (below the mailbox, joined by /) -> Counter of fingerprints, per mailbox;
    and the vCard names per folder."""
    mails = collections.defaultdict(collections.Counter)
    cards = collections.defaultdict(collections.Counter)
    for mailbox in sorted(p for p in root.iterdir() if p.is_dir()):
        for f in mailbox.rglob("*"):
            folder = (mailbox.name, f.parent.relative_to(mailbox).as_posix())
            # A contact is written as .vcf beside its .eml; readers give it as a contact alone.
            if f.suffix == ".eml" and not f.with_suffix(".vcf").exists():
                mails[folder][parse_eml(f)] += 1
            elif f.suffix == ".vcf":
                cards[folder][vcard_name(f.read_text(encoding="utf-8", errors="replace"))] += 1
    return mails, cards


def vcard_name(card):
    m = re.search(r"^FN[^:]*:(.*)$", card, re.M)
    return m.group(1).strip().replace("\\,", ",") if m else ""


def readpst_export(pst, mailbox, out):
    out.mkdir()
    # No child processes: readpst's forked jobs share one file offset with the parent and now
    # and then read a block from the wrong place (a body cut short, an attachment missing) on
    # the very same file; -j 0 reads it the same way every time. -D keeps Deleted Items.
    r = subprocess.run(["readpst", "-j", "0", "-D", "-e", "-o", str(out), str(pst)],
                       capture_output=True, text=True)
    log = r.stdout + r.stderr
    if r.returncode != 0 or re.search(r"error|warn", log, re.I):
        fault(f"readpst {pst.name}: status {r.returncode}\n{log[-2000:]}")
    mails = collections.defaultdict(collections.Counter)
    cards = collections.defaultdict(collections.Counter)
    top = out / mailbox
    for f in top.rglob("*") if top.exists() else []:
        folder = (mailbox, f.parent.relative_to(top).as_posix())
        if f.suffix == ".eml":
            mails[folder][parse_eml(f)] += 1
        elif f.suffix == ".vcf":
            cards[folder][vcard_name(f.read_text(encoding="utf-8", errors="replace"))] += 1
    return mails, cards


def pff_fields(path):
    fields = {}
    if path.exists():
        for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
            key, sep, value = line.partition(":")
            if sep and key.strip() not in fields:
                fields[key.strip()] = value.strip()
    return fields


def pffexport_export(pst, mailbox, out):
    r = subprocess.run(["pffexport", "-f", "all", "-m", "all", "-t", str(out), str(pst)],
                       capture_output=True, text=True)
    log = r.stdout + r.stderr
    if r.returncode != 0 or re.search(r"error|warn|unable", log, re.I):
        fault(f"pffexport {pst.name}: status {r.returncode}\n{log[-2000:]}")
    for extra in (".orphans", ".recovered"):
        p = pathlib.Path(str(out) + extra)
        if p.exists() and any(p.iterdir()):
            fault(f"pffexport {pst.name}: found {extra[1:]} items")
    mails = collections.defaultdict(collections.Counter)
    cards = collections.defaultdict(collections.Counter)
    top = pathlib.Path(str(out) + ".export") / "Top of Personal Folders"
    for item in top.rglob("*") if top.exists() else []:
        if not item.is_dir() or not re.fullmatch(r"(Message|Contact)\d{5}", item.name):
            continue
        folder = (mailbox, item.parent.relative_to(top).as_posix())
        if item.name.startswith("Contact"):
            cards[folder][pff_fields(item / "Contact.txt").get("File under", "")] += 1
            continue
        h = pff_fields(item / "OutlookHeaders.txt")
        date = None
        if "Client submit time" in h:
            stamp = re.sub(r"\.\d+ UTC$", "", h["Client submit time"])
            date = int(datetime.datetime.strptime(stamp, "%b %d, %Y %H:%M:%S").replace(
                tzinfo=datetime.timezone.utc).timestamp())
        to = []
        recipients = item / "Recipients.txt"
        if recipients.exists():
            for block in recipients.read_text(encoding="utf-8").split("\n\n"):
                f = {k.strip(): v.strip() for k, _, v in
                     (line.partition(":") for line in block.splitlines())}
                if f.get("Recipient type") == "To":
                    to.append(f.get("Display name") or f.get("Email address", ""))
        attachments = []
        adir = item / "Attachments"
        for a in sorted(adir.iterdir()) if adir.exists() else []:
            attachments.append((re.sub(r"^\d+_", "", a.name), digest(a.read_bytes())))
        read = lambda n: (item / n).read_text(encoding="utf-8") if (item / n).exists() else None
        mails[folder][fingerprint(h.get("Subject", ""), h.get("Sender email address", ""), to,
                                  date, read("Message.txt"), read("Message.html"),
                                  attachments)] += 1
    return mails, cards


def compare(what, expected, got):
    for folder in sorted(set(expected) | set(got)):
        e, g = expected.get(folder, collections.Counter()), got.get(folder, collections.Counter())
        if sum(e.values()) != sum(g.values()):
            fault(f"{what} {folder}: {sum(g.values())} items, the .eml export has "
                  f"{sum(e.values())}")
        missing = e - g
        for fp in list(missing)[:3]:
            near = [x for x in g if x[0] == fp[0]]
            fault(f"{what} {folder}: not found as written:\n  {fp}\n  closest: {near[:1]}")


def run(edb2eml, store, work):
    emls, pst = work / "eml", work / "pst"
    for fmt, out in (("eml", emls), ("pst", pst)):
        r = subprocess.run([edb2eml, "export", str(store), "-o", str(out), "--format", fmt],
                           capture_output=True, text=True)
        if r.returncode != 0:
            fault(f"export --format {fmt} of {store.name}: {r.returncode}\n{r.stderr[-2000:]}")
            return
    mails, cards = eml_export(emls)
    files = sorted(pst.glob("*.pst"))
    if sorted(f.stem for f in files) != sorted(p.name for p in emls.iterdir() if p.is_dir()):
        fault(f"{store.name}: PST files {[f.name for f in files]} do not match the mailboxes")
    hashes = {f.name: digest(f.read_bytes()) for f in files}
    for f in files:
        for x in check_pst.PstCheck(str(f)).check():
            fault(f"structure of {f.name}: {x}")
        info = subprocess.run(["pffinfo", str(f)], capture_output=True, text=True)
        if info.returncode != 0 or "64-bit" not in info.stdout or re.search(
                r"error|unable", info.stdout + info.stderr, re.I):
            fault(f"pffinfo {f.name}:\n{info.stdout}{info.stderr}")
        mine = lambda d: {k: v for k, v in d.items() if k[0] == f.stem}
        rp_mails, rp_cards = readpst_export(f, f.stem, work / ("readpst-" + f.stem))
        compare("readpst", mine(mails), rp_mails)
        compare("readpst contacts", mine(cards), rp_cards)
        pf_mails, pf_cards = pffexport_export(f, f.stem, work / ("pff-" + f.stem))
        compare("pffexport", mine(mails), pf_mails)
        compare("pffexport contacts", mine(cards), pf_cards)
    # Again into the same folder: every PST is written again, byte for byte the same.
    r = subprocess.run([edb2eml, "export", str(store), "-o", str(pst), "--format", "pst"],
                       capture_output=True, text=True)
    again = {f.name: digest(f.read_bytes()) for f in sorted(pst.glob("*.pst"))}
    if r.returncode != 0 or again != hashes:
        fault(f"{store.name}: a second export differs: {r.returncode} {r.stderr[-500:]}")
    if r.stdout.count("written again") != len(files):
        fault(f"{store.name}: the rerun does not say that each PST was written again:\n"
              f"{r.stdout}")
    if any(p.name.endswith(".partial") for p in pst.iterdir()):
        fault(f"{store.name}: a temporary PST was left behind")


def minimum_check_bites(pst):
    """The mandatory-node check is not vacuous: with the search management queue dropped and
    the spam search folder moved under the top of the personal folders, it says so."""
    c = check_pst.PstCheck(str(pst))
    c.check()
    nodes = [(nid, data, sub, 0x8022 if nid == 0x8063 else parent)
             for nid, data, sub, parent in c.nodes if nid != 0x1E1]
    c.faults = []
    c.check_minimum(nodes)
    if c.faults != ["mandatory node 0x1e1 missing", "folder 0x8063 under 0x8022, not 0x122"]:
        fault(f"the mandatory-node check missed a fault: {c.faults}")


def run_sample(make_sample, work):
    """The writer's limits straight through: a contents table of 1500 rows (row matrix in a
    subnode, a heap of many pages, a row index of several levels), a body of 5 MB and an
    attachment of 40 MB under an XXBLOCK tree, in a file past the first free map page."""
    pst = work / "sample.pst"
    subprocess.run([make_sample, str(pst), "1500"], check=True)
    for x in check_pst.PstCheck(str(pst)).check():
        fault(f"structure of sample.pst: {x}")
    minimum_check_bites(pst)
    rp, _ = readpst_export(pst, "Sample", work / "readpst-sample")
    pf, _ = pffexport_export(pst, "Sample", work / "pff-sample")
    expect = (bytes((k * 7 + 8) & 0xFF for k in range(256)) * (40_008_000 // 256 + 1))
    expect = expect[:8 * 997 % 30000 + 40_000_000]
    for name, got in (("readpst", rp), ("pffexport", pf)):
        counts = {k[1]: sum(v.values()) for k, v in got.items()}
        if counts != {"Inbox": 1200, "Inbox/Sub folder": 300}:
            fault(f"{name} sample.pst: folders hold {counts}")
        bodies = [fp for c in got.values() for fp in c if fp[0] == "RE: message 1"]
        big = [fp for c in got.values() for fp in c if fp[0] == "RE: message 8"]
        if not bodies or len(bodies[0][4]) < 5_000_000 or "line 199999 of" not in bodies[0][4]:
            fault(f"{name} sample.pst: the long body did not come back whole")
        if not big or big[0][6] != (("file 8.bin", digest(expect)),):
            fault(f"{name} sample.pst: the 40 MB attachment did not come back whole")


def full_disk(edb2eml, demo, work):
    """A disk that fills up (a small tmpfs): the run says so and fails; the PSTs that are there
    are complete and hold exactly the messages counted as saved; no temporary file is left."""
    disk = work / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", str(disk)],
                      capture_output=True).returncode != 0:
        print("full disk: skipped, cannot mount a tmpfs here")
        return
    try:
        export = lambda out: subprocess.run([edb2eml, "export", str(demo), "-o", str(out),
                                             "--format", "pst"], capture_output=True, text=True)
        count = lambda r, label: int(re.search(label + r": (\d+)", r.stdout).group(1))
        total = count(export(work / "room"), "Messages saved")
        r = export(disk / "pst")
        saved, failed = count(r, "Messages saved"), count(r, "Messages failed")
        if r.returncode != 1 or "No space left" not in r.stderr or failed == 0:
            fault(f"full disk: status {r.returncode}, {failed} failed\n{r.stderr[-1000:]}")
        if saved + failed != total:
            fault(f"full disk: {saved} saved and {failed} failed of {total}")
        held = 0
        for f in sorted((disk / "pst").iterdir()):
            if f.name in ("export-log.txt", "manifest.json"):
                continue  # the run's own record
            if f.suffix != ".pst":
                fault(f"full disk: {f.name} left behind")
                continue
            for x in check_pst.PstCheck(str(f)).check():
                fault(f"full disk: structure of {f.name}: {x}")
            out = work / ("full-" + f.stem)
            mails, cards = readpst_export(f, f.stem, out)
            held += sum(sum(c.values()) for c in list(mails.values()) + list(cards.values()))
        if held != saved:
            fault(f"full disk: the PSTs hold {held} messages, {saved} were counted as saved")
    finally:
        subprocess.run(["umount", str(disk)], check=True)


def main():
    edb2eml, make_demo, make_bench, make_sample = sys.argv[1:5]
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        demo = tmp / "demo.edb"
        subprocess.run([make_demo, str(demo)], check=True, capture_output=True)
        (tmp / "demo").mkdir()
        run(edb2eml, demo, tmp / "demo")
        full_disk(edb2eml, demo, tmp)
        bench = tmp / "bench.edb"
        subprocess.run([make_bench, "--size", "12MiB", "--messages", "600", "--shape", "chains",
                        str(bench)], check=True, capture_output=True)
        (tmp / "bench").mkdir()
        run(edb2eml, bench, tmp / "bench")
        run_sample(make_sample, tmp)
    print(f"{len(FAULTS)} fault(s)")
    return 1 if FAULTS else 0


if __name__ == "__main__":
    sys.exit(main())
