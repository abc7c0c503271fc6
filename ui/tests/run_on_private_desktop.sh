#!/usr/bin/env bash
# A private session bus and X display for a test that drives the running
# panel over AT-SPI, so that the test needs no desktop and leaves none
# behind:
#     run_on_private_desktop.sh TEST_SCRIPT ARGUMENTS...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${RELAY_PRIVATE_BUS:-}" ]; then
  RELAY_PRIVATE_BUS=1 exec dbus-run-session -- bash "$here/$(basename "$0")" "$@"
fi

# The X server picks its own free display and tells it on a pipe
# (-displayfd): two tests started together would otherwise both take the
# first free number, and one of them would find no server there.
scratch=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
mkfifo "$scratch/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 -dpi 96 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb=$!
display=
read -r -t 30 display <"$scratch/display" || true
if [ -z "$display" ]; then
  echo "FAIL: the private X server did not start" >&2
  cat "$scratch/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"

# The system's Python: the AT-SPI bindings come as Debian packages, which
# a python3 earlier in PATH would not see. The helpers the tests share
# (atspi_panel.py) sit beside this script.
export PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}"
/usr/bin/python3 "$@"
