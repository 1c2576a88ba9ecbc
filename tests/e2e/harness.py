"""What the end-to-end tests stand on: vesk and tarnel-sim run as a user runs them (output to a
pipe or to a pseudo-terminal), and a raw loopback responder that plays an app no sane app is:
any bytes, silence, a hang-up, a reset, a drip."""
import json
import os
import pty
import resource
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest
from typing import NamedTuple

VESK = os.path.abspath(os.environ.get("VESK", "build/src/vesk"))
SIM = os.path.abspath(os.environ.get("TARNEL_SIM", "build/sim/tarnel-sim"))
SANITIZED = bool(os.environ.get("VESK_SANITIZED"))


class Run(NamedTuple):
    status: int  # the exit status, or minus the signal that ended the run
    out: bytes
    err: bytes


def b(text):
    return text if isinstance(text, bytes) else text.encode()


def run(args, terminal=False, program=VESK, limit=60, env=None, stdout=None):
    """Runs `program` with standard input from /dev/null and its outputs in files, but for the one
    on a raw pseudo-terminal (no newline translation: the bytes seen are the bytes written) when
    `terminal` is True or "out" (standard output) or "err" (standard error), and standard output
    on the descriptor `stdout` when one is given (nothing of it is captured then)."""
    on_terminal = {True: 0, "out": 0, "err": 1}.get(terminal)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        outputs, shown = [out, err], b""
        if on_terminal is not None:
            master, outputs[on_terminal] = pty.openpty()
            tty.setraw(outputs[on_terminal])
        child = subprocess.Popen([program, *args], stdin=subprocess.DEVNULL,
                                 stdout=outputs[0] if stdout is None else stdout, stderr=outputs[1], env=env)
        deadline = time.monotonic() + limit
        if on_terminal is not None:
            os.close(outputs[on_terminal])
            try:  # until EIO (Linux) or end of file (macOS): the child's side is closed
                while select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
                    chunk = os.read(master, 65536)
                    if not chunk:
                        break
                    shown += chunk
            except OSError:
                pass
            os.close(master)
        try:
            status = child.wait(max(0, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            raise
        captured = []
        for stream in (out, err):
            stream.seek(0)
            captured.append(stream.read())
        if on_terminal is not None:
            captured[on_terminal] = shown
        return Run(status, *captured)


def http(status, body=b"", headers=()):
    """An HTTP/1.1 answer with its length, closing the connection."""
    head = [f"HTTP/1.1 {status} Reason", f"Content-Length: {len(b(body))}", "Connection: close",
            *headers]
    return ("\r\n".join(head) + "\r\n\r\n").encode() + b(body)


def ok(body=b""):
    return http(200, body)


SILENT, CLOSE, RESET = "silent", "close", "reset"


class Request(NamedTuple):
    method: str
    target: str
    headers: dict  # names lower-cased
    body: bytes


class Responder:
    """Listens on 127.0.0.1 and treats every connection alike: reads one request whole, records
    it, then answers with `reply` (bytes, or SILENT, CLOSE, RESET) after `delay` seconds, byte by
    byte `drip` seconds apart if asked, and closes unless `hold`."""

    def __init__(self, test, reply, delay=0, drip=0, hold=False):
        self.reply, self.delay, self.drip, self.hold = reply, delay, drip, hold
        self.requests, self.open, self.stopping = [], [], threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0), backlog=64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()
        test.addCleanup(self.stop)

    def vesk(self, args, **options):
        return run([*args, "--port", str(self.port)], **options)

    def stop(self):
        self.stopping.set()
        try:  # wakes the accepting thread: a close alone leaves it listening in accept()
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        for connection in self.open:
            connection.close()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.open.append(connection)
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        try:
            request = read_request(connection)
            if request is None:
                return
            self.requests.append(request)
            if self.reply == SILENT or self.stopping.wait(self.delay):
                return
            if self.reply == RESET:
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif self.reply != CLOSE:
                for at in range(0, len(self.reply), 1 if self.drip else len(self.reply) or 1):
                    connection.sendall(self.reply[at:at + 1] if self.drip else self.reply)
                    self.stopping.wait(self.drip)
                if self.hold:
                    return
            connection.close()
        except OSError:
            pass


def read_request(connection):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    line, *fields = head.decode("latin-1").split("\r\n")
    headers = {name.lower(): value.strip() for name, value in (f.split(":", 1) for f in fields)}
    while len(body) < int(headers.get("content-length", 0)):
        chunk = connection.recv(1 << 20)
        if not chunk:
            return None
        body += chunk
    method, target, _ = line.split(" ", 2)
    return Request(method, target, headers, body)


def unused_port():
    with socket.create_server(("127.0.0.1", 0)) as s:
        return s.getsockname()[1]


def crowd_size(wanted):
    """How many vesk this process and a sim it starts can hold open at once, `wanted` at most:
    two pipes each here, one connection each in the sim. A Mac's terminal allows 256 open files,
    so the soft limit is raised toward the hard one first; a crowd smaller than wanted is said."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    for ceiling in (hard, 10240):  # macOS refuses more than OPEN_MAX (10240), even when unlimited
        if soft != resource.RLIM_INFINITY and (ceiling == resource.RLIM_INFINITY or ceiling > soft):
            try:
                resource.setrlimit(resource.RLIMIT_NOFILE, (ceiling, hard))
                soft = ceiling
                break
            except (ValueError, OSError):
                pass
    if soft == resource.RLIM_INFINITY:
        return wanted
    ours = (soft - len(os.listdir("/dev/fd")) - 16) // 2  # 16 spare, for Popen's own pipes
    sims = soft - 64  # the sim raises its limit as this process did and keeps 64 for itself
    size = max(1, min(wanted, ours, sims))
    if size < wanted:
        print(f"a crowd of {size}, not {wanted}: {soft} open files allowed", file=sys.stderr)
    return size


class Sim:
    """tarnel-sim on a free port for one test, its outputs in files that go with the test; at most
    `files` open files, when given."""

    def __init__(self, test, *args, wait=True, terminal=False, env=None, files=None):
        self.dir = tempfile.mkdtemp(prefix="tarnel-sim-test-")
        test.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.out, self.err = (open(self.path(name), "w+b") for name in ("out", "err"))
        stdout = self.out
        if terminal:  # standard output on a pseudo-terminal, copied to the file as it comes
            master, stdout = pty.openpty()
            tty.setraw(stdout)
            threading.Thread(target=self._copy, args=(master,), daemon=True).start()
        self.child = subprocess.Popen([SIM, "--port", "0", "--port-file", self.path("port"), *args],
                                      stdin=subprocess.PIPE, stdout=stdout, stderr=self.err, env=env,
                                      preexec_fn=files and (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))))
        if terminal:
            os.close(stdout)
        test.addCleanup(self._reap)
        self.port = 0
        for _ in range(1000 if wait else 0):
            if os.path.exists(self.path("port")):
                with open(self.path("port")) as port:
                    self.port = int(port.read())
                break
            time.sleep(0.01)
        if wait and not self.port:
            raise RuntimeError("tarnel-sim did not start: " + self.stop().err.decode())

    def path(self, name):
        return os.path.join(self.dir, name)

    def vesk(self, args, **options):
        return run([*args, "--port", str(self.port)], **options)

    def type(self, text):
        self.child.stdin.write(text.encode())
        self.child.stdin.flush()

    def output(self):
        with open(self.path("out"), "rb") as out:
            return out.read()

    def wait_for(self, text, times=1, limit=10):
        deadline = time.monotonic() + limit
        while self.output().count(b(text)) < times:
            if time.monotonic() > deadline:
                return False
            time.sleep(0.01)
        return True

    def stop(self, signal=None, limit=10):
        """Sends `signal` (none: waits for the sim to end by itself); kills it after `limit`."""
        if signal and self.child.poll() is None:
            self.child.send_signal(signal)
        try:
            status = self.child.wait(limit)
        except subprocess.TimeoutExpired:
            self.child.kill()
            status = self.child.wait()
        self.err.seek(0)
        return Run(status, self.output(), self.err.read())

    def _copy(self, master):
        try:  # until EIO (Linux) or end of file (macOS): the sim's side is closed
            while chunk := os.read(master, 65536):
                self.out.write(chunk)
                self.out.flush()
        except OSError:
            pass
        os.close(master)

    def _reap(self):
        if self.child.poll() is None:
            self.child.kill()
            self.child.wait()
        for stream in (self.child.stdin, self.out, self.err):
            stream.close()


class Case(unittest.TestCase):
    maxDiff = None

    def expect(self, result, out=b"", err=b"", status=0):
        self.assertEqual((result.out, result.err, result.status), (b(out), b(err), status))

    def sent_json(self, request):
        return json.loads(request.body)
