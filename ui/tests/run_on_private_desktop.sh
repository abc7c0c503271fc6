#!/usr/bin/env bash
# A private session bus and X display for a test that drives the running
# panel over AT-SPI, so that the test needs no desktop and leaves none
# behind:
#     run_on_private_desktop.sh TEST_SCRIPT ARGUMENTS...
set -euo pipefail
here=$(dirname "$0")
# The system's Python: the AT-SPI bindings come as Debian packages, which
# a python3 earlier in PATH would not see. The helpers the tests share
# (atspi_panel.py) sit beside this script.
export PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}"
exec dbus-run-session -- xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" \
  /usr/bin/python3 "$@"
