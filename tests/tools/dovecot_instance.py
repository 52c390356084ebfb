"""A throwaway Dovecot IMAP server for tests: its own configuration, passwd-file user and
Maildir under a temporary folder, listening on 127.0.0.1 on a free port, started in the
foreground as a child of the test and stopped by its pid. Never a system service. Works when
run as root (mail then belongs to nobody) and as any other user. Tests skip the server's fsync
unless they ask for it (fsync=True, as the benchmark does). separator=None keeps the mail
layout's own (Maildir++: '.'), as Dovecot's default configuration does."""
import grp
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dovecot:
    def __init__(self, user="tester", password="secret word", maildir=None, fsync=False,
                 separator="/", cert=None):
        """cert: (certificate file, key file) to offer STARTTLS on `port` and TLS on
        `tls_port`; without it the server has no encryption at all."""
        self.user, self.password = user, password
        self.root = tempfile.mkdtemp(prefix="edb-dovecot-")
        os.chmod(self.root, 0o755)
        self.home = os.path.join(self.root, "home")
        self.maildir = maildir or os.path.join(self.home, "Maildir")
        self.port = free_port()
        self.tls_port = free_port() if cert else 0
        self.proc = None
        if os.getuid() == 0:
            # Mail processes never run as root; the unprivileged system account owns the mail.
            acct = pwd.getpwnam("nobody")
            self.uid, self.gid = acct.pw_uid, grp.getgrnam("nogroup").gr_gid
            internal, login, group = "dovecot", "dovenull", "dovecot"
        else:
            # Every service runs as the test's own user and group.
            self.uid, self.gid = os.getuid(), os.getgid()
            internal = login = pwd.getpwuid(self.uid).pw_name
            group = grp.getgrgid(self.gid).gr_name
        os.makedirs(self.home)
        if os.getuid() == 0:
            os.chown(self.home, self.uid, self.gid)
        with open(os.path.join(self.root, "passwd"), "w") as f:
            f.write(f"{user}:{{PLAIN}}{password}::::::\n")
        conf = os.path.join(self.root, "dovecot.conf")
        with open(conf, "w") as f:
            f.write(f"""
base_dir = {self.root}/run
state_dir = {self.root}/state
log_path = {self.root}/dovecot.log
protocols = imap
mail_fsync = {"optimized" if fsync else "never"}
listen = 127.0.0.1
{"ssl = yes" + chr(10) + "ssl_cert = <" + cert[0] + chr(10) + "ssl_key = <" + cert[1]
 if cert else "ssl = no"}
disable_plaintext_auth = no
auth_mechanisms = plain login
default_internal_user = {internal}
default_login_user = {login}
default_internal_group = {group}
first_valid_uid = 1
mail_location = maildir:{self.maildir}
namespace inbox {{
  inbox = yes
{"  separator = " + separator if separator else ""}
}}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {self.root}/passwd
}}
userdb {{
  driver = static
  args = uid={self.uid} gid={self.gid} home={self.home}
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {self.port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {self.tls_port}
  }}
}}
service anvil {{
  chroot =
}}
""")
        self.conf = conf

    def start(self):
        self.proc = subprocess.Popen([DOVECOT, "-F", "-c", self.conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("dovecot ended at start:\n" + self.log())
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1) as s:
                    if s.recv(100).startswith(b"* OK"):
                        return self
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError("dovecot did not answer:\n" + self.log())

    def children(self):
        """Pids of the master's child processes (imap sessions survive the master's end)."""
        pids = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        stat = f.read()
                except OSError:
                    continue
                if int(stat.rsplit(")", 1)[1].split()[1]) == self.proc.pid:
                    pids.append(int(entry))
        return pids

    def stop(self):
        """Ends the server and every session it serves, as a crash or a reboot would."""
        if self.proc is not None and self.proc.poll() is None:
            sessions = self.children()
            os.kill(self.proc.pid, signal.SIGTERM)
            for pid in sessions:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
            self.remove_stale_locks(sessions)
        self.proc = None

    def instance_processes(self):
        """Pids of every process of this instance, found by working directory: Dovecot runs
        its services in base_dir and the mail sessions in the user's home, both below root.
        A session the master forked after children() looked survives the master's end."""
        pids = []
        for entry in os.listdir("/proc"):
            if entry.isdigit() and int(entry) != os.getpid():
                try:
                    cwd = os.readlink(f"/proc/{entry}/cwd")
                except OSError:
                    continue
                if cwd == self.root or cwd.startswith(self.root + os.sep):
                    pids.append(int(entry))
        return pids

    def remove_stale_locks(self, sessions):
        """After a reboot no process of the server is left and Dovecot overrides the locks they
        held. Here one can outlive the master and keep its index locks, so that every new
        session waits on them: every process of this instance ends, and dot-locks left behind
        go as the reboot would make them stale."""
        deadline = time.time() + 5
        for pid in set(sessions) | set(self.instance_processes()):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                continue
            while time.time() < deadline:
                try:
                    with open(f"/proc/{pid}/stat") as f:
                        if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                            break
                except OSError:
                    break
                time.sleep(0.02)
        for top in (self.maildir, self.home):
            for d, _, names in os.walk(top):
                for n in names:
                    # dovecot-uidlist.lock, and dovecot.index.log.newlock: a session killed
                    # while it made a new transaction log leaves the latter, and every later
                    # session waits minutes for it to turn stale.
                    if n.endswith((".lock", ".newlock")):
                        try:
                            os.remove(os.path.join(d, n))
                        except OSError:
                            pass

    def log(self):
        try:
            with open(os.path.join(self.root, "dovecot.log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.cleanup()
