#!/usr/bin/env python3
"""Reads every .eml under a folder with Python's email package (default policy) and compares
the messages named in an expectations file with what was put into the store.

usage: check_eml.py [--clients] [--reformime] OUTPUT_DIR EXPECTED_JSON
  --clients    also check every file for what mail clients need: no header outside the MIME
               set in a part, no '=?' in a quoted name (but Content-Type's name as RFC 2047
               words equal to the file name), UTF-8 names, an address in From, only
               real HTML in text/html, no '=' padding before the last encoded word, a valid
               Message-ID unique across the export
  --reformime  read the expected messages a second time with maildrop's reformime/reformail
Exit status 0 when every check holds; otherwise each problem is printed."""
import collections
import email
import email.header
import email.policy
import email.utils
import json
import os
import re
import subprocess
import sys

PART_HEADERS = {"content-type", "content-disposition", "content-transfer-encoding",
                "content-id", "content-description", "mime-version"}
TOP_HEADERS = PART_HEADERS | {"from", "to", "subject", "date", "message-id"}
WORD = re.compile(r"=\?[^?]+\?[bBqQ]\?([^?]*)\?=")


def check_manifest(root, path, problems):
    """Every file the manifest names hashes (hashlib) to the digest it records."""
    import hashlib
    import json
    with open(path, encoding="utf-8") as f:
        manifest = json.load(f)
    for entry in manifest["messages"]:
        for rec in [entry] + entry.get("vcards", []):
            if "file" not in rec:
                continue
            with open(os.path.join(root, rec["file"]), "rb") as f:
                f.seek(rec.get("offset", 0))
                data = f.read(rec["size"])
            if hashlib.sha256(data).hexdigest() != rec["sha256"]:
                problems.append(f"{rec['file']}: not what the manifest records")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    clients = "--clients" in sys.argv
    reformime = "--reformime" in sys.argv
    root, expected_path = args[0], args[1]
    with open(expected_path, encoding="utf-8") as f:
        expected = {e["subject"]: e for e in json.load(f)}
    problems = []
    seen = {}
    ids = collections.Counter()
    real_root = os.path.realpath(root) + os.sep

    for dirpath, _dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(dirpath, name)
            if not os.path.realpath(path).startswith(real_root):
                problems.append(f"{path}: outside the output folder")
            if name == "export-log.txt":
                continue
            if name == "manifest.json" and dirpath == root:
                check_manifest(root, path, problems)
                continue
            if name.endswith(".vcf"):
                data = open(path, "rb").read()
                if not data.startswith(b"BEGIN:VCARD\r\n") or not data.endswith(b"END:VCARD\r\n"):
                    problems.append(f"{path}: not a vCard")
                continue
            if not name.endswith(".eml"):
                problems.append(f"{path}: unexpected file")
                continue
            raw = open(path, "rb").read()
            check_raw(path, raw, problems)
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            for part in msg.walk():
                if part.defects:
                    problems.append(f"{path}: defects {part.defects}")
                for key, value in part.items():
                    defects = [d for d in getattr(value, "defects", ())
                               if not expected_name_defect(part, key, d)]
                    if defects:
                        problems.append(f"{path}: header {key} defects {defects}")
            for header in ("From", "MIME-Version"):
                if msg[header] is None:
                    problems.append(f"{path}: no {header}")
            if clients:
                check_client_view(path, raw, ids, problems)
            subject = str(msg["Subject"] or "")
            if subject in expected:
                if subject in seen:
                    continue  # a second run over the same folder
                seen[subject] = True
                if "shown" in expected[subject]:
                    compare_shown(path, msg, expected[subject], problems)
                    if reformime:
                        compare_reformime(path, expected[subject], problems)
                else:
                    compare(path, msg, expected[subject], problems)
    for mid, count in ids.items():
        if count > 1:
            problems.append(f"Message-ID {mid} used {count} times")

    for subject in expected:
        if subject not in seen:
            problems.append(f"no message with subject {subject!r}")
    for p in problems:
        print(p)
    return 1 if problems else 0


def check_raw(path, raw, problems):
    if b"\n" in raw.replace(b"\r\n", b"") or b"\r" in raw.replace(b"\r\n", b""):
        problems.append(f"{path}: line ends other than CRLF")
    for line in raw.split(b"\r\n"):
        if len(line) > 998:
            problems.append(f"{path}: line longer than 998 characters")
            break
    header = raw.split(b"\r\n\r\n", 1)[0]
    if any(b >= 0x80 for b in header):
        problems.append(f"{path}: 8-bit bytes in the header")


# What this parser says of the name form older readers need: RFC 2047 words in Content-Type's
# quoted name. Content-Disposition's filename comes in one form and must read without defects.
NAME_FORM_DEFECTS = {
    "content-type": ("encoded word inside quoted string", "missing trailing whitespace after encoded-word"),
}


def expected_name_defect(part, key, defect):
    allowed = NAME_FORM_DEFECTS.get(key.lower(), ())
    if not any(str(defect) == a for a in allowed):
        return False
    raw = re.sub(r"\r?\n[ \t]", " ", dict((k.lower(), v) for k, v in part.raw_items())[key.lower()])
    m = re.search(r'(?:^|;)\s*name\s*=\s*("(?:[^"\\]|\\.)*")', raw)
    return bool(m) and words_name_matches(part, "Content-Type", re.match(r"()(.*)", m.group(1)))


def words_name_matches(part, header, match):
    """Content-Type's name as nothing but RFC 2047 words (what older readers decode) is right
    when it decodes to the Content-Disposition file name."""
    value = match.group(2).strip('"')
    if header != "Content-Type" or match.group(1) or not re.fullmatch(r"(?:=\?UTF-8\?B\?[A-Za-z0-9+/=]*\?=\s*)+", value):
        return False
    decoded = str(email.header.make_header(email.header.decode_header(value)))
    return decoded == part.get_filename()


def check_client_view(path, raw, ids, problems):
    """What mail clients need beyond parsing (their parsers are laxer or stricter than Python's)."""
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    for i, part in enumerate(msg.walk()):
        allowed = TOP_HEADERS if i == 0 else PART_HEADERS
        for key in part.keys():
            k = key.lower()
            if k not in allowed and not (i == 0 and k.startswith("x-edb-")):
                problems.append(f"{path}: header {key!r} in part {i}")
        for h in ("Content-Type", "Content-Disposition"):
            v = str(part.get(h) or "")
            for m in re.finditer(r'(?:^|;)\s*(file)?name\s*=\s*("(?:[^"\\]|\\.)*"|[^;]*)', v):
                if "=?" in m.group(2) and not words_name_matches(part, h, m):
                    problems.append(f"{path}: encoded word in a quoted name: {m.group(0)!r}")
            for m in re.finditer(r"(?:file)?name\*0?\*?=\s*([A-Za-z0-9_-]*)'", v):
                if m.group(1).lower() not in ("utf-8", "us-ascii"):
                    problems.append(f"{path}: name in charset {m.group(1)!r}")
        if part.get_content_type() == "text/html":
            text = (part.get_payload(decode=True) or b"").strip()
            if not text or text.startswith(b"{\\rtf") or b"<" not in text:
                problems.append(f"{path}: text/html that is not HTML: {text[:30]!r}")
    if "@" not in email.utils.parseaddr(str(msg.get("From", "")))[1]:
        problems.append(f"{path}: From without an address")
    for h in ("Subject", "From", "To"):
        words = WORD.findall(str(msg.get(h) or ""))
        if any(w.endswith("=") for w in words[:-1]):
            problems.append(f"{path}: {h} has '=' padding before its last encoded word")
    mid = (msg.get("Message-ID") or "").strip()
    if not re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", mid):
        problems.append(f"{path}: Message-ID {mid!r}")
    ids[mid] += 1


def shown_part(msg):
    """The part a client shows first (HTML preferred, as most clients do)."""
    return msg.get_body(preferencelist=("html", "plain"))


def compare_shown(path, msg, exp, problems):
    def fail(what):
        problems.append(f"{path}: {what}")

    frm = msg["From"]
    addresses = [(a.display_name, a.addr_spec) for a in frm.addresses]
    if addresses != [(exp["from_name"], exp["from_address"])]:
        fail(f"From {addresses!r}, expected {(exp['from_name'], exp['from_address'])!r}")
    to = [a.addr_spec for a in msg["To"].addresses] if msg["To"] is not None else []
    if to != ([exp["to_address"]] if exp["to_address"] else []):
        fail(f"To {to!r}, expected {exp['to_address']!r}")
    if (msg["Date"] is not None) != exp["dated"]:
        fail(f"Date {msg['Date']!r}, expected one: {exp['dated']}")
    if exp["dated"] is False and "before 1970" not in " ".join(msg.get_all("X-Edb-Note", [])):
        fail("unknown date not noted")
    body = shown_part(msg)
    if body is None or body.get_content_type() != exp["shown_type"]:
        fail(f"shown part {body and body.get_content_type()}, expected {exp['shown_type']}")
    else:
        text = body.get_content().replace("\r\n", "\n")
        if exp["shown"] not in text:
            fail(f"shown text {text[:200]!r} lacks {exp['shown']!r}")
        visible = re.sub(r"<[^>]*>", "\n", text) if exp["shown_type"] == "text/html" else text
        lines = [line.strip() for line in visible.splitlines() if line.strip()]
        if exp["notes"] and lines[-len(exp["notes"]):] != exp["notes"]:
            fail(f"shown text ends {lines[-3:]!r}, expected the notes {exp['notes']!r}")
    found = {}
    rtf = False
    for part in msg.iter_attachments():
        if part.get_content_type() == "application/rtf":
            rtf = part.get_payload(decode=True).startswith(b"{\\rtf1")
            continue
        found[part.get_filename()] = (part.get_payload(decode=True) or b"").hex()
    if rtf != exp["rtf"]:
        fail(f"RTF part present: {rtf}, expected {exp['rtf']}")
    if found != exp["attachments"]:
        fail(f"attachments {found} differ from {exp['attachments']}")


def run(args, data):
    return subprocess.run(args, input=data, capture_output=True, check=True).stdout


def compare_reformime(path, exp, problems):
    """The same message through maildrop: reformail for the headers, reformime for MIME."""
    def fail(what):
        problems.append(f"{path}: reformime: {what}")

    raw = open(path, "rb").read()

    def header(name):
        value = run(["reformail", "-x", name + ":"], raw).decode().strip()
        return run(["reformime", "-h", value], b"").decode().strip() if value else ""

    if header("Subject") != exp["subject"]:
        fail(f"Subject {header('Subject')!r}")
    frm = header("From")
    if exp["from_address"] not in frm or exp["from_name"] not in frm:
        fail(f"From {frm!r}")
    sections = []
    for block in run(["reformime", "-i"], raw).decode().split("\n\n"):
        fields = dict(line.split(": ", 1) for line in block.splitlines() if ": " in line)
        if "section" in fields:
            sections.append(fields)
    names = {}
    shown = None
    for s in sections:
        if s.get("content-disposition") == "attachment":
            name = s.get("content-disposition-filename", "")
            if s.get("content-type") != "application/rtf":
                names[name] = run(["reformime", "-e", "-s", s["section"]], raw).hex()
        elif s.get("content-type") == exp["shown_type"] and shown is None:
            shown = run(["reformime", "-e", "-s", s["section"]], raw).decode(errors="replace")
    if names != exp["attachments"]:
        fail(f"attachments {names} differ from {exp['attachments']}")
    if shown is None or exp["shown"] not in shown.replace("\r\n", "\n"):
        fail(f"shown text {shown!r} lacks {exp['shown']!r}")


def compare(path, msg, exp, problems):
    def fail(what):
        problems.append(f"{path}: {what}")

    frm = msg["From"]
    if exp["from_address"]:
        if [a.addr_spec for a in frm.addresses] != [exp["from_address"]]:
            fail(f"From {str(frm)!r}, expected address {exp['from_address']!r}")
    else:
        # a name without an address: the name with an address in the reserved .invalid domain
        found = [(a.display_name, a.domain) for a in frm.addresses]
        if found != [(exp["from_name"], "no-address.invalid")]:
            fail(f"From {str(frm)!r}, expected the name {exp['from_name']!r} and no real address")
    if exp["date"] and str(msg["Date"]) != exp["date"]:
        fail(f"Date {msg['Date']!r}, expected {exp['date']!r}")

    plain = msg.get_body(preferencelist=("plain",))
    html = msg.get_body(preferencelist=("html",))
    if exp["plain"]:
        if plain is None or exp["plain"] not in plain.get_content().replace("\r\n", "\n"):
            fail("plain text missing or different")
    elif plain is not None and plain.get_content().strip():
        fail("a plain body that the store does not hold")
    if exp["html"]:
        if html is None or exp["html"] not in html.get_content():
            fail(f"HTML missing or different: {html.get_content() if html else None!r}")
    elif html is not None:
        fail("an HTML body that the store does not hold")
    if exp["plain"] and exp["html"]:
        if msg.get_content_type() not in ("multipart/alternative", "multipart/mixed"):
            fail("plain and HTML not in a multipart/alternative")
    if exp["noted"] and msg["X-Edb-Note"] is None:
        fail("missing body not noted")

    found = {}
    rtf = False
    for part in msg.iter_attachments():
        if part.get_content_type() == "application/rtf":
            rtf = True
            if not part.get_payload(decode=True).startswith(b"{\\rtf1"):
                fail("RTF part is not RTF")
            continue
        found[part.get_filename()] = part.get_payload(decode=True).hex()
    if rtf != exp["rtf"]:
        fail(f"RTF part present: {rtf}, expected {exp['rtf']}")
    if found != exp["attachments"]:
        fail(f"attachments {sorted(found)} differ from {sorted(exp['attachments'])}")


if __name__ == "__main__":
    sys.exit(main())
