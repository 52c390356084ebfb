"""Certificates for TLS tests, made with the openssl command in a folder the test owns: a CA and
a server certificate it signed for 127.0.0.1, a self-signed one, one for another host name and
an expired one. Each server certificate comes as (certificate file, key file)."""
import os
import subprocess


def _run(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


class Certs:
    def __init__(self, folder):
        self.dir = folder
        os.makedirs(folder, exist_ok=True)
        self.ca = os.path.join(folder, "ca.pem")
        _run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
             "ca.pem", "-subj", "/CN=Edb Test CA", "-days", "2", cwd=folder)
        self.good = self._signed("good", "IP:127.0.0.1,DNS:localhost", 2)
        self.other_host = self._signed("other", "DNS:mail.other.example", 2)
        self.expired = self._signed("expired", "IP:127.0.0.1", -1)
        self.self_signed = (os.path.join(folder, "self.pem"), os.path.join(folder, "self.key"))
        _run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "self.key", "-out",
             "self.pem", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
             "-days", "2", cwd=folder)

    def _signed(self, name, alt_names, days):
        with open(os.path.join(self.dir, name + ".ext"), "w") as f:
            f.write("subjectAltName=%s\n" % alt_names)
        _run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
             name + ".csr", "-subj", "/CN=" + name, cwd=self.dir)
        # days -1: valid until a day before it was made, so already expired.
        _run("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", name + ".pem", "-days", str(days), "-extfile",
             name + ".ext", cwd=self.dir)
        return os.path.join(self.dir, name + ".pem"), os.path.join(self.dir, name + ".key")
