#!/usr/bin/env python3
"""relay-panel as an administrator runs it, a real process beside relayctl
and relayd (run by run_on_private_desktop.sh, which gives it an X display
and a session bus):

- a mistyped option is a usage error, exit 2, and opens no window;
- `relay-panel --simulate`, connected through its "connect" button over
  AT-SPI, serves its board, and relayctl with no --port finds it;
- relayd started on the port the panel holds says who holds it, exit 1;
- SIGTERM and SIGINT close the panel as "disconnect" does: exit 0, its
  socket file gone.

    panel_process_test.py RELAY_PANEL RELAYCTL RELAYD
"""

import json
import os
import signal
import stat
import subprocess
import sys
import tempfile

from atspi_panel import check, connect, failures, find_panel, start_accessibility_bus, wait_for

# The window's controls, fewer than the panel has, but enough to press "connect".
SOME_CONTROLS = 20


def mistyped_option_is_a_usage_error(panel_path):
    run = subprocess.run([panel_path, "--simlate"], capture_output=True, text=True, timeout=30)
    check(run.returncode == 2, f"--simlate: exit {run.returncode}, not 2")
    check(run.stderr.startswith("relay-panel: unknown option '--simlate'\n"), f"--simlate said {run.stderr!r}")
    check("Usage: relay-panel" in run.stderr, "--simlate: no usage on stderr")
    check(run.stdout == "", f"--simlate wrote {run.stdout!r} to stdout")


def panel_serves_its_board_until_the_signal(paths, signal_number):
    panel_path, relayctl, relayd = paths
    name = signal.Signals(signal_number).name
    with tempfile.TemporaryDirectory() as runtime:
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        panel = subprocess.Popen([panel_path, "--simulate"], env=env)
        try:
            window = wait_for(lambda: find_panel(SOME_CONTROLS), "the panel's window on the accessibility bus")
            if not connect(window):
                return

            # No --port: the one board served here is the panel's.
            status = subprocess.run([relayctl, "--json", "status"], env=env, capture_output=True, text=True,
                                    timeout=30)
            if not check(status.returncode == 0, f"relayctl status: exit {status.returncode}: {status.stderr}"):
                return
            reply = json.loads(status.stdout)
            port = reply["port"]
            check(port.startswith("/dev/pts/"), f"relayctl reached {port}, not the simulated board")
            check(reply["relays"] == {"1": "off", "2": "off", "3": "off", "4": "off"}, f"relays {reply['relays']}")
            socket_path = os.path.join(runtime, "relay-panel", port[len("/dev/"):].replace("/", "-") + ".sock")
            check(stat.S_ISSOCK(os.stat(socket_path).st_mode), f"{socket_path} is no socket")

            # A second owner for the same port is told who holds it.
            second = subprocess.run([relayd, "--port", port], env=env, capture_output=True, text=True, timeout=30)
            check(second.returncode == 1, f"relayd on the panel's port: exit {second.returncode}")
            held = (f"the port {port} is held by relay-panel (pid {panel.pid}), which shares it at {socket_path}. "
                    "Disconnect or stop it, then start relayd again")
            check(held in second.stderr, f"relayd on the panel's port said {second.stderr!r}")

            panel.send_signal(signal_number)
            panel.wait(timeout=30)
            check(panel.returncode == 0, f"{name}: the panel ended with {panel.returncode}, not 0")
            check(not os.path.lexists(socket_path), f"{name}: {socket_path} is left behind")
        finally:
            if panel.poll() is None:
                panel.kill()
                panel.wait(timeout=10)


def main():
    paths = sys.argv[1:4]
    mistyped_option_is_a_usage_error(paths[0])
    launcher = start_accessibility_bus()
    try:
        for signal_number in (signal.SIGTERM, signal.SIGINT):
            panel_serves_its_board_until_the_signal(paths, signal_number)
    finally:
        launcher.terminate()
        launcher.wait(timeout=10)
    if failures:
        sys.exit(1)
    print("PASS: usage error, relayctl without --port, relayd told who holds the port, SIGTERM and SIGINT",
          flush=True)


if __name__ == "__main__":
    main()
