#!/usr/bin/env python3
"""The panel as a screen reader sees it, read over AT-SPI from outside the
panel's process.

Runs `relay-panel --simulate` on the X display and session bus it is given
(see run_on_private_desktop.sh), starts the accessibility bus itself, and
checks every control's name, role, description and enabled state; then
presses "connect" and "relay 2 on" through the AT-SPI action interface, as
a screen reader user would, and waits for indicator 2 to be renamed, and
for the rename to be announced, when the simulated board reports it.

    atspi_tree_test.py PATH_TO_RELAY_PANEL
"""

import os
import subprocess
import sys

from atspi_panel import (Atspi, check, connect, controls, enabled, failures, find_panel, named, press,
                         start_accessibility_bus, wait_for)

# Name, role and whether it is enabled before "connect", in the window's
# order. The indicators' names carry what they show.
DISCONNECTED = [
    ("com port", "label", True),
    ("com port", "text", True),
    ("com port up/down", "spin button", True),
    ("connect", "push button", True),
    ("address", "label", True),
    ("board address", "text", True),
    ("board address up/down", "spin button", True),
    ("relay 1", "label", True),
    ("relay 2", "label", True),
    ("relay 3", "label", True),
    ("relay 4", "label", True),
]
for relay in range(1, 5):
    DISCONNECTED += [
        (f"relay {relay} state: state", "label", False),
        (f"relay {relay} on", "push button", False),
        (f"relay {relay} off", "push button", False),
    ]
DISCONNECTED += [
    ("all relays on", "push button", False),
    ("all relays off", "push button", False),
]


def check_tree(window):
    found = [(c.get_name(), c.get_role_name(), enabled(c)) for c in controls(window)]
    for c in controls(window):
        check(c.get_name(), f"a {c.get_role_name()} has no accessible name")
        if c.get_role_name() in ("push button", "text", "spin button"):
            check(c.get_description(), f"{c.get_name()!r} has no description")
    check(sorted(found) == sorted(DISCONNECTED),
          "controls differ:\n  expected " + repr(sorted(DISCONNECTED)) + "\n  found    " + repr(sorted(found)))
    for name in ("com port up/down", "board address up/down"):
        spin = named(window, name, "spin button")
        if check(spin is not None, f"no spin button {name!r}"):
            check(spin.get_current_value() == 1.0, f"{name!r} reads {spin.get_current_value()}, not 1")
            check(spin.get_maximum_value() == 15.0, f"{name!r} goes up to {spin.get_maximum_value()}")


def main():
    panel_path = sys.argv[1]
    launcher = start_accessibility_bus()
    panel = None
    try:

        # Listening before the panel starts, so that Qt knows from the first
        # moment that someone wants its rename events.
        renames = []
        listener = Atspi.EventListener.new(lambda event: renames.append(event.source.get_name()))
        listener.register("object:property-change:accessible-name")

        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        panel = subprocess.Popen([panel_path, "--simulate"], env=env)
        window = wait_for(lambda: find_panel(len(DISCONNECTED)), "the panel's window on the accessibility bus")
        check(window.get_name().startswith("Korvel"), f"the window is named {window.get_name()!r}")
        check_tree(window)

        if not connect(window):
            return
        wait_for(lambda: all(enabled(c) for c in controls(window) if c.get_name().startswith("relay 4 o")),
                 "the relay buttons to be enabled")
        port = named(window, "com port", "text")
        check(port is not None and not enabled(port), "the com port field stays enabled while connected")

        indicator = wait_for(lambda: named(window, "relay 2 state: off", "label"),
                             "indicator 2 to read off after the first status frame")
        renames.clear()
        press(named(window, "relay 2 on", "push button"))
        wait_for(lambda: indicator.get_name() == "relay 2 state: on", "indicator 2 to read on")
        wait_for(lambda: "relay 2 state: on" in renames, "the rename of indicator 2 to be announced")
        check(all(n.startswith("relay 2") for n in renames if n.startswith("relay ")),
              f"other indicators were renamed: {renames}")
    finally:
        if panel is not None:
            panel.terminate()
            panel.wait(timeout=10)
        launcher.terminate()
        launcher.wait(timeout=10)
    if failures:
        sys.exit(1)
    print("PASS: names, roles, states and the rename of indicator 2 read over AT-SPI", flush=True)


if __name__ == "__main__":
    main()
