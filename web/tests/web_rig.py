"""relayd with its web page as a child process, and the raw HTTP and
WebSocket pieces the tests speak to it with. Everything waits on a
condition with a deadline, never for a fixed time."""

import base64
import json
import os
import re
import select
import signal
import socket
import ssl
import struct
import subprocess
import tempfile
import time


def wait_until(condition, deadline_s=5.0, what="condition"):
    end = time.monotonic() + deadline_s
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


class Relayd:
    """relayd --simulate with --http, or a config file; its log read as it
    comes so that a test waits for a line rather than a time."""

    def __init__(self, relayd_path, http="0", password=None, extra_http=None, folder=None, device=None,
                 board_keys=None):
        self.folder = folder or tempfile.mkdtemp(prefix="relayd-web-")
        self.socket_path = os.path.join(self.folder, "board.sock")
        self.log = ""
        env = dict(os.environ, XDG_RUNTIME_DIR=self.folder)
        if device:
            args = [relayd_path, "--port", device, "--socket", self.socket_path, "--http", http]
        elif password is None and not extra_http and not board_keys:
            args = [relayd_path, "--simulate", "--socket", self.socket_path, "--http", http]
        else:
            config = os.path.join(self.folder, "relayd.conf")
            lines = ["[board cabinet]", "port = 1", "socket = " + self.socket_path] + (board_keys or [])
            lines += ["[http]", "listen = " + http]
            if password is not None:
                pw_file = os.path.join(self.folder, "web.password")
                with open(pw_file, "w") as f:
                    f.write(password + "\n")
                os.chmod(pw_file, 0o600)
                lines.append("password_file = " + pw_file)
            lines += extra_http or []
            with open(config, "w") as f:
                f.write("\n".join(lines) + "\n")
            args = [relayd_path, "--simulate", "--config", config]
        self.process = subprocess.Popen(args, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, env=env)
        os.set_blocking(self.process.stderr.fileno(), False)
        match = self.wait_for_log(r"web page at (https?)://([^ /]+):(\d+)/")
        self.scheme, self.host, self.port = match.group(1), match.group(2), int(match.group(3))
        self.wait_for_log(r"answering")

    @property
    def tls(self):
        return self.scheme == "https"

    @property
    def origin(self):
        return "%s://%s:%d" % (self.scheme, self.host, self.port)

    def read_log(self):
        try:
            chunk = self.process.stderr.read()
        except (BlockingIOError, ValueError, OSError):
            chunk = None
        if chunk:
            self.log += chunk.decode(errors="replace")
        return self.log

    def wait_for_log(self, pattern, deadline_s=10.0, start=0):
        return wait_until(lambda: re.search(pattern, self.read_log()[start:]), deadline_s, "log line " + pattern)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.read_log()
        self.process.stderr.close()

    def control(self, request):
        """One request on the board's control socket, as relayctl asks it."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(self.socket_path)
            s.sendall((json.dumps(request) + "\n").encode())
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
            return json.loads(reply)


def connect(port, tls=False, timeout=5.0, receive_buffer=None):
    """A connection to relayd's web page; with tls, HTTPS that takes the
    test's own self-signed certificate. receive_buffer, set before
    connecting, keeps the window offered to relayd that small."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.connect(("127.0.0.1", port))
    if not tls:
        return s
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context.wrap_socket(s, server_hostname="127.0.0.1")


def self_signed_certificate(folder, name="web"):
    """(certificate file, key file) made with openssl for 127.0.0.1."""
    cert, key = os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    return cert, key


class BoardSim:
    """relay-board-sim on its pseudo-terminal, as a process of its own, so
    that a test can silence the board by stopping it."""

    def __init__(self, sim_path):
        self.process = subprocess.Popen([sim_path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.device = self.process.stdout.readline().strip()

    def silence(self):
        self.process.send_signal(signal.SIGSTOP)

    def stop(self):
        self.process.send_signal(signal.SIGCONT)
        self.process.terminate()
        self.process.wait()


def http(port, raw, deadline_s=5.0, tls=False):
    """Sends raw bytes, returns (status or None, headers text, body bytes)
    once the server has answered one response or closed."""
    with connect(port, tls, deadline_s) as s:
        s.sendall(raw)
        data = b""
        while True:
            try:
                chunk = s.recv(65536)
            except (ConnectionResetError, socket.timeout, ssl.SSLError):
                break
            if not chunk:
                break
            data += chunk
            head, sep, body = data.partition(b"\r\n\r\n")
            if sep:
                m = re.search(rb"content-length: *(\d+)", head, re.I)
                if m and len(body) >= int(m.group(1)):
                    break
    head, _, body = data.partition(b"\r\n\r\n")
    m = re.match(rb"HTTP/1\.[01] (\d{3})", head)
    return (int(m.group(1)) if m else None), head.decode(errors="replace"), body


def get(port, path, headers=None, method="GET", tls=False):
    """One request; its Host is 127.0.0.1 with the port unless headers name
    another."""
    headers = headers or {}
    lines = ["%s %s HTTP/1.1" % (method, path), "Connection: close"]
    if "Host" not in headers:
        lines.insert(1, "Host: 127.0.0.1:%d" % port)
    lines += ["%s: %s" % kv for kv in headers.items()]
    return http(port, ("\r\n".join(lines) + "\r\n\r\n").encode(), tls=tls)


def login(port, password, tls=False):
    """The session cookie for a correct password, or None; and the status."""
    body = "password=" + password
    raw = ("POST /login HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s"
           % (port, len(body), body)).encode()
    status, head, _ = http(port, raw, deadline_s=30, tls=tls)
    m = re.search(r"Set-Cookie: *(relay_session=[0-9a-f]+)", head, re.I)
    return (m.group(1) if m else None), status, head


def frame(payload, opcode=0x1, masked=True, fin=True):
    if isinstance(payload, str):
        payload = payload.encode()
    first = (0x80 if fin else 0) | opcode
    n = len(payload)
    if n < 126:
        head = struct.pack("!BB", first, (0x80 if masked else 0) | n)
    elif n < 65536:
        head = struct.pack("!BBH", first, (0x80 if masked else 0) | 126, n)
    else:
        head = struct.pack("!BBQ", first, (0x80 if masked else 0) | 127, n)
    if not masked:
        return head + payload
    mask = os.urandom(4)
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


class WebSocket:
    """A bare client: the handshake's status, then frames in and out."""

    def __init__(self, port, origin=None, cookie=None, key=None, extra="", tls=False, host=None,
                 receive_buffer=None):
        self.sock = connect(port, tls, receive_buffer=receive_buffer)
        key = key or base64.b64encode(os.urandom(16)).decode()
        lines = ["GET /ws HTTP/1.1", "Host: " + (host or "127.0.0.1:%d" % port), "Upgrade: websocket", "Connection: Upgrade",
                 "Sec-WebSocket-Key: " + key, "Sec-WebSocket-Version: 13"]
        if origin is not None:
            lines.append("Origin: " + origin)
        if cookie:
            lines.append("Cookie: " + cookie)
        self.sock.sendall(("\r\n".join(lines) + "\r\n" + extra + "\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            self.buffer += chunk
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        m = re.match(rb"HTTP/1\.1 (\d{3})", head)
        self.status = int(m.group(1)) if m else None
        self.head = head.decode(errors="replace")

    def send_text(self, text):
        self.sock.sendall(frame(text))

    def send_raw(self, data):
        self.sock.sendall(data)

    def _fill(self, n, deadline):
        while len(self.buffer) < n:
            left = deadline - time.monotonic()
            if left <= 0:
                raise socket.timeout()
            # TLS may hold a decrypted record that select cannot see.
            pending = self.sock.pending() if isinstance(self.sock, ssl.SSLSocket) else 0
            ready = pending or select.select([self.sock], [], [], left)[0]
            if not ready:
                raise socket.timeout()
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.buffer += chunk

    def receive(self, deadline_s=5.0):
        """(opcode, payload bytes) of the next frame."""
        deadline = time.monotonic() + deadline_s
        self._fill(2, deadline)
        first, second = self.buffer[0], self.buffer[1]
        n = second & 0x7F
        at = 2
        if n == 126:
            self._fill(4, deadline)
            n = struct.unpack("!H", self.buffer[2:4])[0]
            at = 4
        elif n == 127:
            self._fill(10, deadline)
            n = struct.unpack("!Q", self.buffer[2:10])[0]
            at = 10
        self._fill(at + n, deadline)
        payload = self.buffer[at:at + n]
        self.buffer = self.buffer[at + n:]
        return first & 0x0F, payload

    def messages_until(self, condition, deadline_s=5.0):
        """Text messages read until one meets the condition; returns it."""
        deadline = time.monotonic() + deadline_s
        while True:
            opcode, payload = self.receive(max(0.01, deadline - time.monotonic()))
            if opcode == 0x8:
                raise ConnectionError("closed by the server: %r" % payload)
            if opcode == 0x1:
                message = json.loads(payload)
                if condition(message):
                    return message

    def close_code(self, deadline_s=5.0):
        """The status of the server's close frame, skipping what comes before."""
        deadline = time.monotonic() + deadline_s
        while True:
            opcode, payload = self.receive(max(0.01, deadline - time.monotonic()))
            if opcode == 0x8:
                return struct.unpack("!H", payload[:2])[0] if len(payload) >= 2 else 0

    def close(self):
        self.sock.close()
