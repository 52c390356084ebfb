#!/usr/bin/env python3
"""A scripted IMAP server that misbehaves on purpose, for tests of the upload client. It listens
on 127.0.0.1 on a port of its own choosing, prints that port on its first output line, and
serves each connection: a greeting, CAPABILITY, LOGIN or AUTHENTICATE, LIST, CREATE, EXAMINE
(three messages) and APPEND as a server would, and FETCH, EXAMINE, APPEND, the capabilities or
the greeting as the scenario says. With CERT and KEY it offers STARTTLS. Every command's name it
receives is appended to LOG ("APPEND+" for an APPEND with a literal that does not wait for the
go-ahead). It is strict where a lax server would hide a client's fault: a literal that does not
wait, when LITERAL+ is not announced on the connection as it stands, is refused and the lines
after it are read as commands, as such a server would. Everything it sends is bounded in size
and time; the test that started it ends it by its pid.

usage: hostile_imap_server.py SCENARIO LOG [CERT KEY]"""
import socket
import ssl
import sys
import threading
import time

SCENARIO, LOG = sys.argv[1], sys.argv[2]
CERT = sys.argv[3:5] if len(sys.argv) >= 5 else None
# What the capabilities announce before STARTTLS and after it.
CAPABILITIES = {
    "literal_plus_before_tls": (b"LITERAL+", b""),
    "literal_plus_after_tls": (b"", b"LITERAL+"),
}
# The flood: a folder that claims this many messages, each with a header this large.
FLOOD_MESSAGES = 20000
FLOOD_ID_BYTES = 16000
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


def flood_fetch(conn, tag, line):
    """Every message asked for, each with a Message-ID as large as a header may be."""
    span = line.split(b" ")[2].split(b":")
    first, last = int(span[0]), int(span[-1])
    for n in range(first, min(last, FLOOD_MESSAGES) + 1):
        header = b"Message-ID: <%d.%s@flood>\r\n\r\n" % (n, b"x" * FLOOD_ID_BYTES)
        conn.sendall(b"* %d FETCH (BODY[HEADER.FIELDS (MESSAGE-ID)] {%d}\r\n%s)\r\n"
                     % (n, len(header), header))
    conn.sendall(tag + b" OK done\r\n")


class Connection:
    def __init__(self, sock):
        self.sock = sock
        self.file = sock.makefile("rb")
        self.tls = False

    def capabilities(self):
        before, after = CAPABILITIES.get(SCENARIO, (b"", b""))
        extra = after if self.tls else before + (b" STARTTLS" if CERT else b"")
        return b"* CAPABILITY IMAP4rev1 AUTH=PLAIN " + extra.strip() + b"\r\n"

    def starttls(self, tag):
        self.sock.sendall(tag + b" OK begin TLS\r\n")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(CERT[0], CERT[1])
        self.sock = context.wrap_socket(self.sock, server_side=True)
        self.file = self.sock.makefile("rb")
        self.tls = True

    def literal_plus(self):
        return b"LITERAL+" in self.capabilities()


def serve(raw):
    raw.settimeout(MAX_SECONDS)
    c = Connection(raw)
    if SCENARIO == "no_greeting":
        time.sleep(MAX_SECONDS)
        return
    if SCENARIO == "slow_greeting":
        trickle(raw, b"* OK ready\r\n")
        return
    raw.sendall(b"* OK ready\r\n")
    while True:
        line = c.file.readline(1 << 20)
        if not line:
            return
        conn = c.sock
        parts = line.rstrip(b"\r\n").split(b" ", 2)
        tag = parts[0]
        word = parts[1].upper().decode(errors="replace") if len(parts) > 1 else ""
        if word == "APPEND" and line.rstrip(b"\r\n").endswith(b"+}"):
            word = "APPEND+"
        log(word)
        if word == "CAPABILITY":
            conn.sendall(c.capabilities() + tag + b" OK done\r\n")
        elif word == "STARTTLS" and CERT and not c.tls:
            c.starttls(tag)
        elif word == "AUTHENTICATE":
            if len(parts) < 3 or b" " not in parts[2]:
                conn.sendall(b"+ \r\n")
                c.file.readline(1 << 20)
            conn.sendall(tag + b" OK logged in\r\n")
        elif word == "LIST" and parts[2].endswith(b'""'):
            conn.sendall(b'* LIST (\\Noselect) "/" ""\r\n' + tag + b" OK done\r\n")
        elif word == "EXAMINE" and SCENARIO == "flood":
            # Many a server says EXISTS again and again; this one a few thousand times.
            conn.sendall(b"".join(b"* %d EXISTS\r\n" % n for n in range(3000))
                         + b"* %d EXISTS\r\n" % FLOOD_MESSAGES + tag + b" OK [READ-ONLY] done\r\n")
        elif word == "EXAMINE":
            conn.sendall(b"* 3 EXISTS\r\n* 0 RECENT\r\n" + tag + b" OK [READ-ONLY] done\r\n")
        elif word == "FETCH" and SCENARIO == "flood":
            flood_fetch(conn, tag, line)
        elif word == "FETCH" and misbehave_at_fetch(conn, tag):
            return
        elif word == "APPEND" and SCENARIO == "ok_before_continuation":
            # Claims the message before it was sent: what follows, if anything, is read as
            # the next commands.
            conn.sendall(tag + b" OK appended\r\n")
        elif word == "APPEND+" and not c.literal_plus():
            conn.sendall(tag + b" BAD literal without go-ahead, LITERAL+ not announced\r\n")
        elif word in ("APPEND", "APPEND+"):
            size = int(line.rstrip(b"\r\n").rsplit(b"{", 1)[1].rstrip(b"}+"))
            if word == "APPEND":
                conn.sendall(b"+ go\r\n")
            c.file.read(size + 2)
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
    except (OSError, ValueError, IndexError, ssl.SSLError):
        pass  # the client gave up, as it should
    finally:
        conn.close()


if __name__ == "__main__":
    main()
