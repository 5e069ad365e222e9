#!/usr/bin/python3
"""The maker's web server, played locally for the real binary, which has its server's address
compiled in. The scenario runs in a network and mount namespace of its own: there the server's
host name resolves to 127.0.0.1 through a private /etc/hosts, a test authority is added to the
trusted certificates, and a small server answers on the address's own port. Nothing outside the
namespace sees any of it, and it all goes when the scenario's processes end.

Run as a program it is that server: webserver.py ROOT PORT [CERT KEY]; it prints "ready" once it
listens and serves until it is stopped.
"""
import http.server
import os
import shutil
import ssl
import subprocess
import sys
import urllib.parse

import harness

MARK = "ONDRIX_E2E_PRIVATE_NETWORK"
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def in_private_network():
    return os.environ.get(MARK) == "1"


def rerun_in_private_network():
    """Runs this scenario again inside new network and mount namespaces; returns its exit code."""
    unshare = shutil.which("unshare")
    if unshare is None or os.geteuid() != 0:
        print("SKIPPED: the local web server needs root and unshare(1), to give the program "
              "its server's address inside a private network namespace")
        return harness.SKIP
    probe = subprocess.run([unshare, "--net", "--mount", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        print("SKIPPED: network namespaces are not allowed here: " + probe.stderr.strip())
        return harness.SKIP
    env = dict(os.environ)
    env[MARK] = "1"
    return subprocess.call([unshare, "--net", "--mount", "--fork", "--kill-child",
                            sys.executable, *sys.argv], env=env)


def run(*args, **kwargs):
    subprocess.run(args, check=True, capture_output=True, **kwargs)


def bind(source, target):
    run("mount", "--bind", source, target)


def make_certificates(folder, host):
    """A throw-away authority and a certificate for host signed by it."""
    ca_key, ca_cert = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.crt")
    key, csr = os.path.join(folder, "server.key"), os.path.join(folder, "server.csr")
    cert, ext = os.path.join(folder, "server.crt"), os.path.join(folder, "server.ext")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("openssl", "req", "-x509", *ec, "-keyout", ca_key, "-out", ca_cert, "-days", "2",
        "-subj", "/CN=Ondrix end-to-end test authority")
    run("openssl", "req", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=" + host)
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\n" % host)
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
        "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext)
    return ca_cert, cert, key


def serve_as(session, server_url, files):
    """Answers for server_url inside the private network with the given {path: bytes}.
    Returns the host name."""
    if not in_private_network():
        raise harness.Failure("serve_as() outside the private network namespace")
    url = urllib.parse.urlsplit(server_url)
    if url.scheme not in ("http", "https") or not url.hostname:
        raise harness.Skipped("the compiled-in server %r is not an http(s) address" % server_url)
    host = url.hostname
    port = url.port or (443 if url.scheme == "https" else 80)
    folder = os.path.join(session.folder, "web")
    root = os.path.join(folder, "root")
    os.makedirs(root)
    for path, body in files.items():
        name = os.path.join(root, path.lstrip("/"))
        os.makedirs(os.path.dirname(name), exist_ok=True)
        with open(name, "wb") as f:
            f.write(body)

    run("ip", "link", "set", "lo", "up")
    hosts = os.path.join(folder, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n127.0.0.1 %s\n" % host)
    bind(hosts, "/etc/hosts")
    args = [sys.executable, os.path.abspath(__file__), root, str(port)]
    if url.scheme == "https":
        ca_cert, cert, key = make_certificates(folder, host)
        bundle = os.path.join(folder, "ca-certificates.crt")
        with open(bundle, "wb") as out:
            for part in (SYSTEM_BUNDLE, ca_cert):
                if os.path.exists(part):
                    out.write(harness.read_bytes(part))
        bind(bundle, SYSTEM_BUNDLE)
        args += [cert, key]
    server = session.spawn("web server", args, stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline().strip()
    harness.check(line == "ready", "the local web server did not start (%r)" % line)
    return "%s://%s:%d" % (url.scheme, host, port)


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        pass


def main():
    root, port = sys.argv[1], int(sys.argv[2])
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    if len(sys.argv) > 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
