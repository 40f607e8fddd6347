"""Shared pieces of the load and fault tests beyond tests/testkit.py: runs
under a small file-size limit or as an unprivileged user, and small raw-socket
peers that stall or close in the middle of a reply.

Every peer listens on a loopback address of its own (testkit's
loopback_address); every test makes its own temporary directory. Only the
Python standard library is used.
"""
import os
import pwd
import resource
import signal
import socket
import struct
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from testkit import (ENV, SCHEMA, files_in, loopback_address, make_history,  # noqa: E402,F401
                     program, read, run, scratch, stamp, write)


def limited_writes(max_bytes):
    """A preexec_fn: files may grow to `max_bytes` only, as on a full disk.
    SIGXFSZ is ignored, so a write beyond the limit fails with EFBIG instead of
    ending the process."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (max_bytes, max_bytes))
    return apply


def unprivileged():
    """(preexec_fn, reason): as root, a function that makes the child nobody,
    since root ignores file permissions; None when already unprivileged.
    reason is set when a privileged run cannot drop its rights."""
    if os.geteuid() != 0:
        return None, None
    try:
        nobody = pwd.getpwnam("nobody")
    except KeyError:
        return None, "no user nobody to run as"

    def apply():
        os.setgroups([])
        os.setgid(nobody.pw_gid)
        os.setuid(nobody.pw_uid)
    return apply, None


def open_to_all(*paths):
    """Lets an unprivileged child reach the scratch paths (mkdtemp makes 0700)."""
    for path in paths:
        os.chmod(path, 0o777 if os.path.isdir(path) else 0o666)


def free_port(address):
    with socket.socket() as s:
        s.bind((address, 0))
        return s.getsockname()[1]


class RawPeer:
    """A scripted TCP peer on address:port (port 0: a free one, see .port).
    For each connection it reads the request (up to its headers and
    Content-Length body), then plays `reply`: either bytes, sent whole, or a
    script, a list of steps played in order:
        b"..."            send these bytes
        ("sleep", s)      wait s seconds
        ("drip", b, s)    send b one byte at a time, s seconds apart
        "reset"           end the connection with a TCP reset (RST)
        "close"           close normally
        "stall"           keep the connection open without another byte
    After the script (or the bytes), `then` ("close" or "stall") ends the
    connection unless a step already did. Serves at most `limit` connections."""

    def __init__(self, address, port, reply, then="close", limit=8):
        self.script = [reply] if isinstance(reply, bytes) else list(reply)
        self.then = then
        self.limit = limit
        self.requests = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, port))
        self.port = self.sock.getsockname()[1]
        self.sock.listen(8)
        self.sock.settimeout(0.2)
        self.stopping = threading.Event()
        self.held = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        served = 0
        while served < self.limit and not self.stopping.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            served += 1
            conn.settimeout(10)
            self.requests.append(self.read_request(conn))
            ending = self.play(conn)
            if ending == "stall":
                self.held.append(conn)
            else:
                conn.close()

    def play(self, conn):
        """Plays the script; returns how the connection is to end."""
        try:
            for step in self.script:
                if isinstance(step, bytes):
                    conn.sendall(step)
                elif step == "reset":
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                    struct.pack("ii", 1, 0))
                    return "close"
                elif step in ("close", "stall"):
                    return step
                elif step[0] == "sleep":
                    if self.stopping.wait(step[1]):
                        return "close"
                elif step[0] == "drip":
                    for i in range(len(step[1])):
                        conn.sendall(step[1][i:i + 1])
                        if self.stopping.wait(step[2]):
                            return "close"
                else:
                    raise ValueError("unknown step %r" % (step,))
        except OSError:
            return "close"
        return self.then

    @staticmethod
    def read_request(conn):
        data = b""
        try:
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return data
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            length = 0
            for line in head.split(b"\r\n"):
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value.strip() or b"0")
            while len(body) < length:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                body += chunk
                data += chunk
        except (OSError, ValueError):
            pass
        return data

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=5)
        for conn in self.held:
            conn.close()
        self.sock.close()
