"""The running panel reached over AT-SPI, from outside its process, as a
screen reader reaches it: what the tests run by run_on_private_desktop.sh
share. Every wait ends at one deadline for the whole test."""

import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Everything, start-up included, must be over by then.
DEADLINE = time.monotonic() + 60

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def wait_for(condition, what, pump=True):
    """Polls until the condition holds, serving AT-SPI events meanwhile;
    fails the test at the deadline."""
    context = GLib.MainContext.default()
    while True:
        if pump:
            while context.iteration(False):
                pass
        result = condition()
        if result:
            return result
        if time.monotonic() > DEADLINE:
            print("FAIL: timed out waiting for", what, flush=True)
            sys.exit(1)
        time.sleep(0.02)


def bus_ready():
    return (
        subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
             "org.a11y.Bus.GetAddress"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        ).returncode == 0
    )


def start_accessibility_bus():
    """Starts the accessibility bus on the private session bus and waits for
    it; the caller terminates what is returned."""
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    wait_for(bus_ready, "the accessibility bus", pump=False)
    Atspi.init()
    return launcher


def find_panel(controls_at_least):
    """The panel's window once it shows its controls, else None."""
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "relay-panel" and app.get_child_count() > 0:
            window = app.get_child_at_index(0)
            if window is not None and window.get_child_count() >= controls_at_least:
                return window
    return None


def controls(window):
    return [window.get_child_at_index(i) for i in range(window.get_child_count())]


def enabled(accessible):
    return accessible.get_state_set().contains(Atspi.StateType.ENABLED)


def named(window, name, role):
    for c in controls(window):
        if c.get_name() == name and c.get_role_name() == role:
            return c
    return None


def press(accessible):
    """Presses a button through its action interface, as a screen reader does."""
    for i in range(accessible.get_n_actions()):
        if accessible.get_action_name(i) == "Press":
            return accessible.do_action(i)
    return check(False, f"{accessible.get_name()!r} offers no Press action")


def connect(window):
    """Presses "connect" and waits for the panel to be connected."""
    button = named(window, "connect", "push button")
    if not check(button is not None, "no connect button"):
        return False
    press(button)
    wait_for(lambda: button.get_name() == "disconnect", "the connect button to read disconnect")
    return True
