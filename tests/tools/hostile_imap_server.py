#!/usr/bin/env python3
"""A scripted IMAP server that misbehaves on purpose, for tests of the upload client. It listens
on 127.0.0.1 on a port of its own choosing, prints that port on its first output line, and
serves each connection: a greeting, CAPABILITY (never STARTTLS), LOGIN or AUTHENTICATE, LIST,
CREATE, EXAMINE (three messages) and APPEND as a server would, and FETCH, or the greeting, as the
scenario says. Every command's name it receives is appended to LOG. Everything it sends is
bounded in size and time; the test that started it ends it by its pid.

usage: hostile_imap_server.py SCENARIO LOG"""
import socket
import sys
import threading
import time

SCENARIO, LOG = sys.argv[1], sys.argv[2]
# Bounds on what one misbehaving answer sends: far more than a sound client keeps.
MAX_BYTES = 256 << 20
MAX_SECONDS = 60
log_lock = threading.Lock()


def log(word):
    with log_lock, open(LOG, "a") as f:
        f.write(word + "\n")


def stream(conn, first, chunk):
    """Sends `first`, then `chunk` again and again, until the bounds or the client stops it."""
    sent, start = 0, time.time()
    try:
        conn.sendall(first)
        while sent < MAX_BYTES and time.time() - start < MAX_SECONDS:
            conn.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass


def trickle(conn, data):
    """One byte a second."""
    start = time.time()
    try:
        for b in data:
            if time.time() - start > MAX_SECONDS:
                break
            conn.sendall(bytes([b]))
            time.sleep(1)
    except OSError:
        pass


def misbehave_at_fetch(conn, tag):
    header = b"* 1 FETCH (BODY[HEADER.FIELDS (MESSAGE-ID)] "
    if SCENARIO == "huge_literal":
        conn.sendall(header + b"{4000000000}\r\nMessage-ID: <a@b>\r\n")
        time.sleep(MAX_SECONDS)
    elif SCENARIO == "bogus_literal":
        conn.sendall(header + b"{-12}\r\nMessage-ID: <a@b>\r\n)\r\n")
        time.sleep(MAX_SECONDS)
    elif SCENARIO == "endless_line":
        stream(conn, header + b'"', b"A" * 65536)
    elif SCENARIO == "endless_fetch":
        stream(conn, b"", b"* 1 FETCH (FLAGS (\\Seen))\r\n" * 2048)
    elif SCENARIO == "bye":
        conn.sendall(b"* BYE shutting down for maintenance\r\n")
        conn.close()
    elif SCENARIO == "one_byte_a_second":
        trickle(conn, header + b"{20}\r\nMessage-ID: <a@b>\r\n)\r\n" + tag + b" OK done\r\n")
    else:
        return False
    return True


def serve(conn):
    conn.settimeout(MAX_SECONDS)
    f = conn.makefile("rb")
    if SCENARIO == "no_greeting":
        time.sleep(MAX_SECONDS)
        return
    if SCENARIO == "slow_greeting":
        trickle(conn, b"* OK ready\r\n")
        return
    conn.sendall(b"* OK ready\r\n")
    while True:
        line = f.readline(1 << 20)
        if not line:
            return
        parts = line.rstrip(b"\r\n").split(b" ", 2)
        tag = parts[0]
        word = parts[1].upper().decode(errors="replace") if len(parts) > 1 else ""
        log(word)
        if word == "CAPABILITY":
            conn.sendall(b"* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n" + tag + b" OK done\r\n")
        elif word == "AUTHENTICATE":
            if len(parts) < 3 or b" " not in parts[2]:
                conn.sendall(b"+ \r\n")
                f.readline(1 << 20)
            conn.sendall(tag + b" OK logged in\r\n")
        elif word == "LIST" and parts[2].endswith(b'""'):
            conn.sendall(b'* LIST (\\Noselect) "/" ""\r\n' + tag + b" OK done\r\n")
        elif word == "EXAMINE":
            conn.sendall(b"* 3 EXISTS\r\n* 0 RECENT\r\n" + tag + b" OK [READ-ONLY] done\r\n")
        elif word == "FETCH" and misbehave_at_fetch(conn, tag):
            return
        elif word == "APPEND":
            size = int(line.rstrip(b"\r\n").rsplit(b"{", 1)[1].rstrip(b"}+"))
            conn.sendall(b"+ go\r\n")
            f.read(size + 2)
            conn.sendall(tag + b" OK appended\r\n")
        elif word == "LOGOUT":
            conn.sendall(b"* BYE bye\r\n" + tag + b" OK done\r\n")
            return
        else:
            conn.sendall(tag + b" OK done\r\n")


def main():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    start = time.time()
    listener.settimeout(1)
    while time.time() - start < 10 * MAX_SECONDS:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve_and_close, args=(conn,), daemon=True).start()


def serve_and_close(conn):
    try:
        serve(conn)
    except (OSError, ValueError, IndexError):
        pass  # the client gave up, as it should
    finally:
        conn.close()


if __name__ == "__main__":
    main()
