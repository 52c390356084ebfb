#!/usr/bin/env python3
"""Reads every .eml under a folder with Python's email package and checks the body a reader is
shown against an expectations file.

usage: check_bodies.py OUTPUT_DIR EXPECTED_JSON
Every message: no text part that is shown holds a NUL, every text/html part is HTML, and a
message with any text part has a non-empty text/plain one. Each expected message (by subject):
its text/plain part holds "plain" and not "missing_plain", a text/html alternative exists
exactly when "html" says so, and its attachments have the listed names, content types and
charsets (and, for text, decode to the listed text). Exit status 0 when everything holds."""
import email
import email.policy
import json
import os
import re
import sys

HTML_TAG = re.compile(rb"<(html|body|p|div|br|table|span|font|b|i|a|head|meta|!doctype)\b")


def main():
    root, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = {e["subject"]: e for e in json.load(f)}
    problems = []
    seen = set()
    for dirpath, _dirs, files in os.walk(root):
        for name in files:
            if not name.endswith(".eml"):
                continue
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                msg = email.message_from_binary_file(f, policy=email.policy.default)
            fail = lambda what, path=path: problems.append(f"{path}: {what}")
            check_every_message(msg, fail)
            subject = str(msg["Subject"] or "")
            if subject in expected:
                seen.add(subject)
                check_expected(msg, expected[subject], fail)
    for subject in expected:
        if subject not in seen:
            problems.append(f"no message with subject {subject!r}")
    for p in problems:
        print(p)
    return 1 if problems else 0


def check_every_message(msg, fail):
    texts = [p for p in msg.walk() if not p.is_multipart() and p.get_content_maintype() == "text"
             and p.get_content_disposition() != "attachment"]
    for p in texts:
        raw = p.get_payload(decode=True) or b""
        if b"\x00" in raw:
            fail(f"{p.get_content_type()} part holds NUL bytes")
        if p.get_content_subtype() == "html" and not HTML_TAG.search(raw[:4000].lower()):
            fail(f"text/html that is not HTML: {raw[:40]!r}")
    plain = msg.get_body(preferencelist=("plain",))
    if texts and (plain is None or not plain.get_content().strip()):
        fail("no non-empty text/plain part")


def check_expected(msg, exp, fail):
    plain = msg.get_body(preferencelist=("plain",))
    text = plain.get_content().replace("\r\n", "\n") if plain is not None else ""
    if exp["plain"] not in text:
        fail(f"text/plain {text[:200]!r} lacks {exp['plain']!r}")
    if exp["missing_plain"] and exp["missing_plain"] in text:
        fail(f"text/plain holds {exp['missing_plain']!r}")
    html = msg.get_body(preferencelist=("html",))
    if (html is not None) != exp["html"]:
        fail(f"text/html present: {html is not None}, expected {exp['html']}")
    if exp["html"] and msg.get_content_type() not in ("multipart/alternative",
                                                      "multipart/mixed"):
        fail(f"plain and HTML not alternatives: {msg.get_content_type()}")
    found = []
    for part in msg.iter_attachments():
        if part.get_content_type() == "application/rtf":
            continue
        found.append([part.get_filename(), part.get_content_type(),
                      part.get_param("charset") or ""])
        want = next((a for a in exp["attachments"] if a[0] == part.get_filename()), None)
        if want and want[3] and part.get_content() != want[3]:
            fail(f"attachment {want[0]} reads {part.get_content()!r}, expected {want[3]!r}")
    if found != [a[:3] for a in exp["attachments"]]:
        fail(f"attachments {found}, expected {[a[:3] for a in exp['attachments']]}")


if __name__ == "__main__":
    sys.exit(main())
