"""Hostile input against a running relayd's web page, as one table: each
row sends something a browser never would (or one without a login) and
says what must come back; after every row relayd still answers, the page
still loads, the board is still polled and no relay has switched.

    python3 hostile_test.py RELAYD
"""

import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web_rig  # noqa: E402

RELAYD = None
PASSWORD = "s3cret phrase"


def head_of(port, raw):
    status, head, body = web_rig.http(port, raw)
    return status


def row_http(path, method="GET", headers=None):
    def run(t):
        return web_rig.get(t.relayd.port, path, headers, method)[0]
    return run


def row_raw(raw):
    return lambda t: head_of(t.relayd.port, raw)


def with_session(path, method="GET"):
    return lambda t: web_rig.get(t.relayd.port, path, {"Cookie": t.cookie}, method)[0]


def ws_status(origin="page", cookie=True, key=None):
    def run(t):
        ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin if origin == "page" else origin,
                               cookie=t.cookie if cookie else None, key=key)
        ws.close()
        return ws.status
    return run


def ws_session(t):
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin, cookie=t.cookie)
    assert ws.status == 101, ws.head
    ws.messages_until(lambda m: m.get("event") == "boards")
    return ws


def ws_reply(text):
    """The page's first reply to one message: its code, or "ok"."""
    def run(t):
        ws = ws_session(t)
        ws.send_text(text)
        reply = ws.messages_until(lambda m: "ok" in m)
        ws.close()
        return "ok" if reply["ok"] else reply["code"]
    return run


def ws_close_code(data):
    def run(t):
        ws = ws_session(t)
        ws.send_raw(data)
        code = ws.close_code()
        ws.close()
        return code
    return run


def ws_flood(t):
    """Requests sent faster than the board answers: past the socket's limit
    of waiting requests they are answered busy at once, each is answered,
    and the connection still serves."""
    ws = ws_session(t)
    count = 100
    # "off" for a relay that is off: a command the board must take in turn,
    # one a tick, that changes nothing.
    ws.send_raw(b"".join(web_rig.frame('{"board":"cabinet","cmd":"off","relay":1,"id":%d}' % i)
                         for i in range(count)))
    codes = {}
    answered = 0
    deadline = time.monotonic() + 30
    while answered < count and time.monotonic() < deadline:
        m = ws.messages_until(lambda m: "ok" in m, deadline_s=deadline - time.monotonic())
        answered += 1
        key = "ok" if m["ok"] else m["code"]
        codes[key] = codes.get(key, 0) + 1
    ws.send_text('{"board":"cabinet","cmd":"status","id":"after"}')
    after = ws.messages_until(lambda m: m.get("id") == "after")
    ws.close()
    if answered == count and codes.get("busy", 0) > 0 and codes.get("ok", 0) > 0 and after["ok"]:
        return "busy past the limit, every one answered"
    return "answered %d of %d: %r" % (answered, count, codes)


def ws_unread(t):
    """A page that never reads what it is sent is closed, not buffered for."""
    ws = ws_session(t)
    ws.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    request = web_rig.frame('{"board":"cabinet","cmd":"watch"}')
    burst = b"".join(web_rig.frame('{"board":"nowhere","cmd":"status"}') for _ in range(200))
    ws.send_raw(request)
    closed = False
    deadline = time.monotonic() + 20
    try:
        while time.monotonic() < deadline:
            ws.sock.sendall(burst)
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        closed = True
    ws.close()
    return closed


def cpu_seconds(process):
    """User and system time the process has used, from /proc."""
    with open("/proc/%d/stat" % process.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_bytes(process):
    with open("/proc/%d/status" % process.pid) as f:
        return int(re.search(r"VmRSS:\s*(\d+) kB", f.read()).group(1)) * 1024


def tcp_queues(local_port, remote_port):
    """(state, send queue, receive queue) of the loopback TCP socket
    local_port -> remote_port, from /proc; None once it is gone."""
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[1].endswith(":%04X" % local_port) and fields[2].endswith(":%04X" % remote_port):
                tx, rx = fields[4].split(":")
                return int(fields[3], 16), int(tx, 16), int(rx, 16)
    return None


def pings(count, fill=b"p"):
    return web_rig.frame(fill * 125, opcode=0x9) * count


def cpu_while_the_board_answers(t, commands=30):
    """relayd's CPU time while it passes commands to the board, each waiting
    for the board's tick: a few seconds in which relayd has little to do."""
    before = cpu_seconds(t.relayd.process)
    for _ in range(commands):
        reply = t.relayd.control({"cmd": "off", "relay": 1})
        assert reply["ok"], reply
    return cpu_seconds(t.relayd.process) - before


def ws_closed_while_unread(t):
    """A page that reads nothing sends pings until relayd's pongs fill the
    socket, a close frame, then more frames: relayd reads no more of them
    but its close waits to be written. It idles meanwhile rather than
    waking for the unread bytes again and again."""
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin, cookie=t.cookie, receive_buffer=4096)
    ws.messages_until(lambda m: m.get("event") == "boards")
    after = pings(800, b"q")
    ws.send_raw(pings(50000) + web_rig.frame(b"\x03\xe8", opcode=0x8) + after)
    # What is still unread, on its way or waiting at relayd, is no more
    # than what followed the close frame (or relayd ended the connection).
    local = ws.sock.getsockname()[1]
    established = 1

    def read_to_the_close():
        server, client = tcp_queues(t.relayd.port, local), tcp_queues(local, t.relayd.port)
        return server is None or client is None or server[0] != established or \
            client[1] + server[2] <= len(after)
    web_rig.wait_until(read_to_the_close, 20, "relayd to read up to the close frame")
    used = cpu_while_the_board_answers(t)
    ws.close()
    return "idle" if used < 0.5 else "%.2f s of CPU" % used


# Under the sanitizers freed blocks stay resident in their quarantine for a
# while, so what the flood made and relayd let go still counts.
FLOOD_RSS_BOUND = (64 if "ASAN_OPTIONS" in os.environ else 20) * 2 ** 20


def ping_flood_unread(t, burst, bursts):
    """A page that sends pings and reads none of the pongs is dropped,
    rather than its pongs held for it without end."""
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin, cookie=t.cookie, receive_buffer=4096)
    ws.messages_until(lambda m: m.get("event") == "boards")
    before = rss_bytes(t.relayd.process)
    closed = False
    try:
        for _ in range(bursts):
            ws.sock.sendall(burst)
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        closed = True
    grown = rss_bytes(t.relayd.process) - before
    ws.close()
    return closed and grown < FLOOD_RSS_BOUND or "closed %s, RSS grown by %d kB" % (closed, grown // 1024)


def ws_ping_flood_unread(t):
    return ping_flood_unread(t, pings(512), 512)  # 34 MB


def ws_empty_ping_flood_unread(t):
    """Empty pings, whose pongs are short but each one held."""
    return ping_flood_unread(t, web_rig.frame(b"", opcode=0x9) * 65536, 64)  # 4 million pings


def ws_after_logout(t):
    """A page whose session is logged out elsewhere is closed (1008) and
    switches nothing more."""
    cookie, status, _ = web_rig.login(t.relayd.port, PASSWORD)
    assert cookie, "logged in (status %s)" % status
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin, cookie=cookie)
    ws.messages_until(lambda m: m.get("event") == "boards")
    ws.send_text('{"board":"cabinet","cmd":"status","id":"before"}')
    assert ws.messages_until(lambda m: m.get("id") == "before")["ok"]
    assert web_rig.get(t.relayd.port, "/logout", {"Cookie": cookie}, "POST")[0] == 303
    code = ws.close_code()
    ws.close()
    return code


HOSTILE = [
    # name, what is sent, what must come back
    ("page_without_session", row_http("/"), 401),
    ("script_without_session", row_http("/page.js"), 401),
    ("unknown_path_without_session", row_http("/etc/passwd"), 401),
    ("path_traversal_without_session", row_http("/../../etc/passwd"), 401),
    ("login_form_is_open", row_http("/login"), 200),
    ("stylesheet_is_open", row_http("/style.css"), 200),
    ("websocket_without_session", ws_status(cookie=False), 401),
    ("websocket_with_forged_session", lambda t: web_rig.WebSocket(
        t.relayd.port, origin=t.relayd.origin, cookie="relay_session=" + "0" * 64).status, 401),
    ("websocket_from_another_origin", ws_status(origin="http://evil.example"), 403),
    ("websocket_without_origin", ws_status(origin=None), 403),
    ("websocket_with_bad_key", ws_status(key="short"), 400),
    ("switching_on_a_get_does_nothing", with_session("/?cmd=on&relay=2"), 200),
    ("post_to_the_page", with_session("/", "POST"), 405),
    ("delete", with_session("/", "DELETE"), 405),
    ("unknown_method", row_raw(b"BREW / HTTP/1.1\r\nHost: x\r\n\r\n"), 405),
    # Not HTTP at all (a TLS hello on the plain port): closed unanswered.
    ("garbage_request_line", row_raw(b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n"), None),
    ("request_line_without_version", row_raw(b"GET /\r\nHost: x\r\n\r\n"), 400),
    ("no_host_header", row_raw(b"GET / HTTP/1.1\r\n\r\n"), 400),
    ("header_too_large", row_raw(b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 40000 + b"\r\n\r\n"), 431),
    ("login_body_too_large", row_raw(b"POST /login HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                     b"application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\n"), 413),
    ("login_not_a_form", row_raw(b"POST /login HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
                                 b"Content-Length: 3\r\n\r\nabc"), 415),
    ("message_not_json", ws_reply("{not json"), "usage"),
    ("message_without_board", ws_reply('{"cmd":"on","relay":2}'), "usage"),
    ("message_for_unknown_board", ws_reply('{"board":"nowhere","cmd":"on","relay":2}'), "usage"),
    ("message_with_bad_relay", ws_reply('{"board":"cabinet","cmd":"on","relay":9}'), "usage"),
    ("message_with_unknown_command", ws_reply('{"board":"cabinet","cmd":"reboot"}'), "usage"),
    ("message_not_an_object", ws_reply('["board","cabinet"]'), "usage"),
    ("message_too_large", ws_close_code(web_rig.frame('{"board":"cabinet","x":"' + "a" * 5000 + '"}')), 1009),
    ("binary_message", ws_close_code(web_rig.frame(b"\x00\x01", opcode=0x2)), 1003),
    ("unmasked_frame", ws_close_code(web_rig.frame("{}", masked=False)), 1002),
    ("reserved_opcode", ws_close_code(web_rig.frame("{}", opcode=0x3)), 1002),
    ("huge_declared_length", ws_close_code(b"\x81\xff" + (2 ** 62).to_bytes(8, "big") + b"abcd" + b"x" * 64), 1009),
    ("flood_answered_busy", ws_flood, "busy past the limit, every one answered"),
    ("peer_that_never_reads", ws_unread, True),
    ("frames_after_a_close_while_unread", ws_closed_while_unread, "idle"),
    ("pings_never_answered_read", ws_ping_flood_unread, True),
    ("websocket_of_a_session_logged_out", ws_after_logout, 1008),
    ("empty_pings_never_answered_read", ws_empty_ping_flood_unread, True),
]


class hostile_input(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.relayd = web_rig.Relayd(RELAYD, password=PASSWORD)
        cls.cookie, status, _ = web_rig.login(cls.relayd.port, PASSWORD)
        assert cls.cookie, "logged in (status %s)" % status

    @classmethod
    def tearDownClass(cls):
        cls.relayd.stop()

    def still_serving(self):
        self.assertIsNone(self.relayd.process.poll(), "relayd still runs")
        status, _, body = web_rig.get(self.relayd.port, "/", {"Cookie": self.cookie})
        self.assertEqual(status, 200)
        reply = self.relayd.control({"cmd": "status"})
        self.assertTrue(reply["ok"], reply)
        self.assertEqual(set(reply["relays"].values()), {"off"}, "no relay switched")

    def test_table(self):
        for name, send, expected in HOSTILE:
            with self.subTest(name):
                self.assertEqual(send(self), expected)
                self.still_serving()
        self.assertNotRegex(self.relayd.read_log(), r'command "switch relay \d on"', "nothing switched a relay on")

    def test_idle_connections_neither_block_the_page_nor_the_board_and_are_closed(self):
        idle = [socket.create_connection(("127.0.0.1", self.relayd.port)) for _ in range(200)]
        half = [socket.create_connection(("127.0.0.1", self.relayd.port)) for _ in range(20)]
        try:
            for s in half:
                s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ")  # a header never finished
            self.still_serving()
            # A command goes out on a tick and is confirmed by the board's
            # answer: the board is still polled.
            polled = self.relayd.control({"cmd": "off", "relay": 1})
            self.assertTrue(polled["ok"], polled)
            for s in idle + half:
                s.settimeout(30)
            # Closed by the server after its idle time, each of them.
            for s in idle + half:
                try:
                    data = s.recv(1024)
                except ConnectionResetError:
                    data = b""
                self.assertTrue(data == b"" or data.startswith(b"HTTP/1.1 4"), data[:40])
        finally:
            for s in idle + half:
                s.close()
        self.still_serving()


def under_host(host, path="/", method="GET"):
    """A request whose Host is host, "{port}" standing for relayd's port: its status."""
    def run(t):
        return web_rig.get(t.relayd.port, path, {"Host": host.format(port=t.relayd.port)}, method)[0]
    return run


def refusal_under_host(host):
    """The one line a request under another name is refused with."""
    def run(t):
        status, _, body = web_rig.get(t.relayd.port, "/", {"Host": host.format(port=t.relayd.port)})
        return status, body.decode().strip()
    return run


def ws_under_host(host):
    """A WebSocket whose Host and Origin are host, as a page on a site whose
    name was rebound to 127.0.0.1 opens it; given one, it asks for relay 3
    on. Its handshake's status, or the reply's code."""
    def run(t):
        name = host.format(port=t.relayd.port)
        ws = web_rig.WebSocket(t.relayd.port, origin="http://" + name, host=name)
        if ws.status != 101:
            ws.close()
            return ws.status
        board = ws.messages_until(lambda m: m.get("event") == "boards")["boards"][0]
        replies = []
        for cmd in ("on", "off"):
            ws.send_text(json.dumps({"board": board, "cmd": cmd, "relay": 3, "id": cmd}))
            replies.append(ws.messages_until(lambda m: m.get("id") == cmd))
        ws.close()
        return 101 if all(r["ok"] for r in replies) else replies
    return run


REFUSAL = "Without a password the page answers only to localhost, 127.0.0.1 or [::1] with its port; " \
          "another host name needs a password_file."

# Without a password relayd listens on loopback only, and then a page is
# served only under a loopback name: a site whose name is rebound to
# 127.0.0.1 sends its own name as Host (and as Origin, which then matches).
HOST_NAMES = [
    # name, what is sent, what must come back
    ("page_under_127_0_0_1", under_host("127.0.0.1:{port}"), 200),
    ("page_under_another_127_address", under_host("127.0.0.2:{port}"), 200),
    ("page_under_localhost", under_host("localhost:{port}"), 200),
    ("page_under_ipv6_loopback", under_host("[::1]:{port}"), 200),
    ("page_under_a_rebound_name", under_host("attacker.example:{port}"), 421),
    ("script_under_a_rebound_name", under_host("attacker.example:{port}", "/page.js"), 421),
    ("stylesheet_under_a_rebound_name", under_host("attacker.example:{port}", "/style.css"), 421),
    ("login_under_a_rebound_name", under_host("attacker.example:{port}", "/login", "POST"), 421),
    ("page_under_localhost_with_another_port", under_host("localhost:1"), 421),
    ("page_under_localhost_without_port", under_host("localhost"), 421),
    ("page_under_a_name_below_localhost", under_host("localhost.attacker.example:{port}"), 421),
    ("page_without_host_over_http_1_0", row_raw(b"GET / HTTP/1.0\r\n\r\n"), 421),
    ("refusal_says_why", refusal_under_host("attacker.example:{port}"), (421, REFUSAL)),
    ("websocket_under_localhost", ws_under_host("localhost:{port}"), 101),
    ("websocket_under_a_rebound_name", ws_under_host("attacker.example:{port}"), 421),
]


class without_password(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.relayd = web_rig.Relayd(RELAYD)

    @classmethod
    def tearDownClass(cls):
        cls.relayd.stop()

    def test_host_names(self):
        for name, send, expected in HOST_NAMES:
            with self.subTest(name):
                self.assertEqual(send(self), expected)
                self.assertIsNone(self.relayd.process.poll(), "relayd still runs")
                self.assertEqual(web_rig.get(self.relayd.port, "/")[0], 200)
        log = self.relayd.read_log()
        switched = re.findall(r'command "switch relay 3 on"', log)
        self.assertEqual(len(switched), 1, "relay 3 switched from localhost alone:\n" + log)


def tls_get(path, cookie=False):
    def run(t):
        headers = {"Cookie": t.cookie} if cookie else {}
        return web_rig.get(t.relayd.port, path, headers, tls=True)[0]
    return run


def tls_login_cookie_flags(t):
    """The attributes the session cookie is set with over HTTPS."""
    _, status, head = web_rig.login(t.relayd.port, PASSWORD, tls=True)
    m = re.search(r"Set-Cookie: *relay_session=[0-9a-f]+;([^\r\n]*)", head, re.I)
    if status != 303 or not m:
        return "no session cookie (status %s)" % status
    return sorted(part.strip() for part in m.group(1).split(";") if part.strip() and "=" not in part) + \
        sorted(part.strip() for part in m.group(1).split(";") if part.strip().startswith("SameSite"))


def wss_status_request(t):
    """A request over wss with a session, as the page sends it: its reply."""
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin, cookie=t.cookie, tls=True)
    if ws.status != 101:
        return ws.status
    ws.messages_until(lambda m: m.get("event") == "boards")
    ws.send_text('{"board":"cabinet","cmd":"status","id":"over tls"}')
    reply = ws.messages_until(lambda m: m.get("id") == "over tls")
    ws.close()
    return "ok" if reply["ok"] and reply["board"] == "cabinet" else reply


def wss_plain_origin(t):
    """The same page's name over http is another origin."""
    ws = web_rig.WebSocket(t.relayd.port, origin=t.relayd.origin.replace("https:", "http:"), cookie=t.cookie,
                           tls=True)
    ws.close()
    return ws.status


def plain_http_to_the_tls_port(raw):
    """Plain bytes where TLS is spoken: nothing but, at most, a TLS alert."""
    def run(t):
        with socket.create_connection(("127.0.0.1", t.relayd.port), timeout=5) as s:
            s.sendall(raw)
            data = b""
            try:
                while True:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    data += chunk
            except (ConnectionResetError, socket.timeout):
                pass
        if b"HTTP/" in data or b"relay" in data:
            return "answered in plain: %r" % data[:60]
        return "closed without a plain answer"
    return run


HTTPS = [
    # name, what is sent, what must come back
    ("login_form_over_https", tls_get("/login"), 200),
    ("page_without_session_over_https", tls_get("/"), 401),
    ("session_cookie_is_secure", tls_login_cookie_flags, ["HttpOnly", "Secure", "SameSite=Strict"]),
    ("page_with_session_over_https", tls_get("/", cookie=True), 200),
    ("script_with_session_over_https", tls_get("/page.js", cookie=True), 200),
    ("request_over_wss", wss_status_request, "ok"),
    ("wss_from_the_plain_http_origin", wss_plain_origin, 403),
    ("plain_http_get_to_the_tls_port", plain_http_to_the_tls_port(
        b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"), "closed without a plain answer"),
    ("plain_http_websocket_to_the_tls_port", plain_http_to_the_tls_port(
        b"GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"),
     "closed without a plain answer"),
    ("garbage_to_the_tls_port", plain_http_to_the_tls_port(os.urandom(600)), "closed without a plain answer"),
]


class over_https(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="relayd-web-tls-")
        cert, key = web_rig.self_signed_certificate(cls.folder)
        cls.relayd = web_rig.Relayd(RELAYD, password=PASSWORD, folder=cls.folder,
                                    extra_http=["cert_file = " + cert, "key_file = " + key])
        assert cls.relayd.scheme == "https", cls.relayd.log
        cls.cookie, status, _ = web_rig.login(cls.relayd.port, PASSWORD, tls=True)
        assert cls.cookie, "logged in over https (status %s)" % status

    @classmethod
    def tearDownClass(cls):
        cls.relayd.stop()

    def still_serving(self):
        self.assertIsNone(self.relayd.process.poll(), "relayd still runs")
        status, _, _ = web_rig.get(self.relayd.port, "/", {"Cookie": self.cookie}, tls=True)
        self.assertEqual(status, 200)
        reply = self.relayd.control({"cmd": "status"})
        self.assertTrue(reply["ok"], reply)
        self.assertEqual(set(reply["relays"].values()), {"off"}, "no relay switched")

    def test_table(self):
        for name, send, expected in HTTPS:
            with self.subTest(name):
                self.assertEqual(send(self), expected)
                self.still_serving()


def run_with_tls_files(folder, cert, key):
    """relayd started with these files: (exit status, stderr), or None for
    one still running after its deadline."""
    config = os.path.join(folder, "relayd.conf")
    with open(config, "w") as f:
        f.write("[board cabinet]\nport = 1\nsocket = %s\n[http]\nlisten = 127.0.0.1:0\n"
                "cert_file = %s\nkey_file = %s\n" % (os.path.join(folder, "b.sock"), cert, key))
    try:
        done = subprocess.run([RELAYD, "--simulate", "--config", config], capture_output=True, text=True, timeout=20,
                              env=dict(os.environ, XDG_RUNTIME_DIR=folder))
    except subprocess.TimeoutExpired:
        return None
    return done.returncode, done.stderr


class tls_files_refused(unittest.TestCase):
    def test_a_bad_certificate_or_key_is_refused_at_start(self):
        folder = tempfile.mkdtemp(prefix="relayd-web-tls-files-")
        cert, key = web_rig.self_signed_certificate(folder)
        other_cert, other_key = web_rig.self_signed_certificate(folder, "other")
        cut = os.path.join(folder, "cut.crt")
        with open(cert) as whole, open(cut, "w") as part:
            part.write(whole.read()[:200])
        empty = os.path.join(folder, "empty.key")
        open(empty, "w").close()
        cases = [
            # name, cert_file, key_file, what the one line says
            ("certificate_cut_short", cut, key, r"do not make a TLS server"),
            ("key_of_another_certificate", cert, other_key, r"do not match"),
            ("certificate_given_as_key", cert, other_cert, r"do not make a TLS server"),
            ("key_given_as_certificate", key, key, r"do not make a TLS server"),
            ("key_file_missing", cert, os.path.join(folder, "none.key"), r"cannot read the web page's key_file"),
            ("key_file_empty", cert, empty, r"cannot read the web page's key_file"),
        ]
        for name, cert_file, key_file, says in cases:
            with self.subTest(name):
                result = run_with_tls_files(folder, cert_file, key_file)
                self.assertIsNotNone(result, "relayd ended rather than serving")
                status, err = result
                self.assertEqual(status, 2, err)
                lines = err.strip().splitlines()
                self.assertEqual(len(lines), 1, err)
                self.assertRegex(lines[0], r"^relayd: .*" + says)
                self.assertNotIn("opened", err, "no board's port was opened")


if __name__ == "__main__":
    RELAYD = sys.argv.pop(1)
    unittest.main()
