#!/usr/bin/env python3
"""Reads every .eml under a folder with Python's email package (default policy) and compares
the messages named in an expectations file with what was put into the store.

usage: check_eml.py OUTPUT_DIR EXPECTED_JSON
Exit status 0 when every check holds; otherwise each problem is printed."""
import email
import email.policy
import json
import os
import sys


def main():
    root, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = {e["subject"]: e for e in json.load(f)}
    problems = []
    seen = {}
    real_root = os.path.realpath(root) + os.sep

    for dirpath, _dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(dirpath, name)
            if not os.path.realpath(path).startswith(real_root):
                problems.append(f"{path}: outside the output folder")
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
                    defects = getattr(value, "defects", ())
                    if defects:
                        problems.append(f"{path}: header {key} defects {defects}")
            for header in ("From", "MIME-Version"):
                if msg[header] is None:
                    problems.append(f"{path}: no {header}")
            subject = str(msg["Subject"] or "")
            if subject in expected:
                if subject in seen:
                    continue  # a second run over the same folder
                seen[subject] = True
                compare(path, msg, expected[subject], problems)

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


def compare(path, msg, exp, problems):
    def fail(what):
        problems.append(f"{path}: {what}")

    frm = msg["From"]
    if exp["from_address"]:
        if [a.addr_spec for a in frm.addresses] != [exp["from_address"]]:
            fail(f"From {str(frm)!r}, expected address {exp['from_address']!r}")
    else:
        names = [g.display_name for g in frm.groups]
        if names != [exp["from_name"]] or frm.addresses:
            fail(f"From {str(frm)!r}, expected the name {exp['from_name']!r} and no address")
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
