"""relayd's web page, measured: a click in the real page (headless chromium)
to the command frame on the wire; the board's answer to the page's
indicator; relayd's CPU per tick and memory with ten pages open against
none. Run by relayd-bench as its last section:

    python3 web_page_bench.py RELAYD RELAY_BOARD_SIM [--quick]

The board is relay-board-sim on a pseudo-terminal, which prints each frame
it receives; a frame's time is when that line is read here. The board
answers a command at once, so the frame's arrival also stands for the
answer's. Browser times are the page's own clock (performance.timeOrigin +
performance.now()), the same wall clock as time.time() here.
"""

import glob
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web", "tests"))
import browser_test  # noqa: E402
import web_rig  # noqa: E402

TICK_MS = 100.0


def cpu_seconds(pid):
    """Time on a CPU of every thread, in ns from schedstat (not clock ticks)."""
    total = 0
    for path in glob.glob("/proc/%d/task/*/schedstat" % pid):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def summary(values):
    if not values:
        return "no samples"
    ordered = sorted(values)
    p99 = ordered[min(len(ordered) - 1, int(round(0.99 * (len(ordered) - 1))))]
    return "median %.1f ms, p99 %.1f ms, max %.1f ms (%d samples)" % (
        statistics.median(ordered), p99, ordered[-1], len(ordered))


class Board:
    """relay-board-sim, each command frame's arrival noted."""

    def __init__(self, sim_path):
        self.process = subprocess.Popen([sim_path, "--verbose"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        self.device = self.process.stdout.readline().strip()
        self.commands = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stderr:
            now = time.time() * 1000.0
            parts = line.split()
            if len(parts) == 8 and parts[2] == "01":
                with self.lock:
                    self.commands.append(now)

    def command_count(self):
        with self.lock:
            return len(self.commands)

    def command_at(self, index):
        with self.lock:
            return self.commands[index]

    def stop(self):
        self.process.terminate()
        self.process.wait()


def start_relayd(relayd_path, board, folder):
    sock = os.path.join(folder, "bench.sock")
    process = subprocess.Popen([relayd_path, "--port", board.device, "--socket", sock, "--http", "0"],
                               stderr=subprocess.PIPE, text=True, env=dict(os.environ, XDG_RUNTIME_DIR=folder))
    port = None
    while port is None:
        line = process.stderr.readline()
        if not line:
            raise RuntimeError("relayd ended")
        if "web page at" in line:
            port = int(line.rsplit(":", 1)[1].split("/")[0])
    threading.Thread(target=lambda: [None for _ in process.stderr], daemon=True).start()
    return process, port


WATCH_INDICATORS = """
window.benchChanges = [];
new MutationObserver(records => {
  const at = performance.timeOrigin + performance.now();
  for (const r of records) {
    const text = (r.target.nodeType === 3 ? r.target.parentNode : r.target).textContent;
    if (text.startsWith('relay 1 state:')) window.benchChanges.push([at, text]);
  }
}).observe(document.getElementById('boards'), {subtree: true, childList: true, characterData: true});
"""

CLICK = """
const b = document.querySelector('button[aria-label="relay 1 ' + arguments[0] + '"]');
const at = performance.timeOrigin + performance.now();
b.click();
return at;
"""


def page_latencies(driver, board, clicks):
    click_to_frame, answer_to_indicator = [], []
    driver.execute_script(WATCH_INDICATORS)
    for i in range(clicks):
        word = "on" if i % 2 == 0 else "off"
        before = board.command_count()
        seen = len(driver.execute_script("return window.benchChanges"))
        clicked = driver.execute_script(CLICK, word)
        frame = web_rig.wait_until(lambda: board.command_count() > before and board.command_at(before), 2,
                                   "the command frame")
        click_to_frame.append(frame - clicked)
        want = "relay 1 state: " + word
        changes = web_rig.wait_until(
            lambda: [c for c in driver.execute_script("return window.benchChanges")[seen:] if c[1] == want], 2,
            "the indicator")
        answer_to_indicator.append(changes[0][0] - frame)
        # Clicks land at random points of the tick.
        time.sleep((i * 37 % 100) / 1000.0 + 0.05)
    return click_to_frame, answer_to_indicator


def cpu_per_tick(pid, seconds):
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    c1, t1 = cpu_seconds(pid), time.monotonic()
    ticks = (t1 - t0) * 1000.0 / TICK_MS
    return (c1 - c0) / ticks * 1e6


def control(sock, request):
    holder = type("holder", (), {"socket_path": sock})()
    return web_rig.Relayd.control(holder, request)


def page_open(ws):
    """Whether relayd still serves the page: a status request answered."""
    try:
        ws.send_text('{"board":"board","cmd":"status","id":"still open"}')
        return ws.messages_until(lambda m: m.get("id") == "still open", 2)["ok"]
    except (socket.timeout, ConnectionError, OSError, ValueError):
        return False


def open_pages(port, count):
    pages = []
    for _ in range(count):
        ws = web_rig.WebSocket(port, origin="http://127.0.0.1:%d" % port)
        ws.messages_until(lambda m: m.get("event") == "boards")
        ws.send_text('{"board":"board","cmd":"watch"}')
        ws.messages_until(lambda m: m.get("event") == "state")
        pages.append(ws)
    return pages


def main():
    relayd_path, sim_path = sys.argv[1], sys.argv[2]
    quick = "--quick" in sys.argv
    window = 10 if quick else 60
    clicks = 30 if quick else 200
    folder = tempfile.mkdtemp(prefix="relayd-web-bench-")
    board = Board(sim_path)
    relayd, port = start_relayd(relayd_path, board, folder)
    try:
        web_rig.wait_until(lambda: board.command_count() >= 0 and os.path.exists(os.path.join(folder, "bench.sock")))
        driver = browser_test.browser()
        try:
            driver.get("http://127.0.0.1:%d/" % port)
            browser_test.wait_for_state(driver, 1, "off")
            to_frame, to_indicator = page_latencies(driver, board, clicks)
        finally:
            driver.quit()
        print("web page: click in the page to the command frame on the wire: %s (goal <= one tick + 10 ms, %.0f ms)"
              % (summary(to_frame), TICK_MS + 10))
        print("web page: the board's answer to the page's indicator: %s (goal p99 < 50 ms)" % summary(to_indicator))

        # Two loads, each with no page and then with ten: the board's state
        # standing still (an open page then has nothing to be told), and
        # relay 1 flipped every second from the control socket (each change
        # told to every page).
        stop = threading.Event()
        flipping = threading.Event()
        sock = os.path.join(folder, "bench.sock")

        def flip():
            on = False
            while not stop.wait(1.0):
                if not flipping.is_set():
                    continue
                on = not on
                try:
                    control(sock, {"cmd": "on" if on else "off", "relay": 1})
                except OSError:
                    pass
        threading.Thread(target=flip, daemon=True).start()
        none_still = cpu_per_tick(relayd.pid, window)
        flipping.set()
        none_flipping = cpu_per_tick(relayd.pid, window)
        none_rss = rss_mb(relayd.pid)
        pages = open_pages(port, 10)
        # The pages read their events meanwhile and answer relayd's pings, as
        # a browser would: a page that never answers is closed within a
        # minute, and the figure would then be of fewer pages.

        def read_all():
            while not stop.is_set():
                for ws in pages:
                    try:
                        while True:
                            opcode, payload = ws.receive(0.001)
                            if opcode == 0x9:
                                ws.send_raw(web_rig.frame(payload, opcode=0xA))
                    except (socket.timeout, ConnectionError, OSError):
                        pass
                time.sleep(0.05)
        reader = threading.Thread(target=read_all, daemon=True)
        reader.start()
        ten_flipping = cpu_per_tick(relayd.pid, window)
        ten_rss = rss_mb(relayd.pid)
        flipping.clear()
        ten_still = cpu_per_tick(relayd.pid, window)
        stop.set()
        reader.join()
        open_now = sum(1 for ws in pages if page_open(ws))
        for ws in pages:
            ws.close()
        for load, none_cpu, ten_cpu in (("the board's state standing still", none_still, ten_still),
                                        ("relay 1 flipping every second", none_flipping, ten_flipping)):
            print("web page: relayd CPU per tick %.1f us with no page, %.1f us with 10 pages open (%s): %+.1f %% "
                  "(goal <= +10 %%)" % (none_cpu, ten_cpu, load, (ten_cpu / none_cpu - 1) * 100))
        print("web page: %d of the 10 pages still open at the end" % open_now)
        print("web page: relayd RSS %.1f MB with no page, %.1f MB with 10 pages open: %+.1f %% (goal <= +10 %%)"
              % (none_rss, ten_rss, (ten_rss / none_rss - 1) * 100))
    finally:
        relayd.terminate()
        relayd.wait()
        board.stop()


if __name__ == "__main__":
    main()
