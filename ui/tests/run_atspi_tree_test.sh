#!/usr/bin/env bash
# A private session bus and X display for atspi_tree_test.py, so that the
# test needs no desktop and leaves none behind:
#     run_atspi_tree_test.sh PATH_TO_RELAY_PANEL
set -euo pipefail
here=$(dirname "$0")
# The system's Python: the AT-SPI bindings come as Debian packages, which
# a python3 earlier in PATH would not see.
exec dbus-run-session -- xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" \
  /usr/bin/python3 "$here/atspi_tree_test.py" "$1"
