#!/usr/bin/env bash
# Pictures of the real window under a virtual X screen at 96 dpi, talking to
# the simulated board: disconnected, connected with relays on and off, and
# with the board silent. Writes screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only the pictures need a window manager (openbox draws the title bar) and xprop.
if ! command -v openbox >/dev/null || ! command -v xprop >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends openbox x11-utils
fi
build=${BUILD_DIR:-build-ui}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target relay-panel-screenshots
mkdir -p screenshots

# A window manager, when one is installed, draws the title bar with the
# caption and shows the frame has no maximize or minimize button.
xvfb-run -a -s "-screen 0 500x440x24 -dpi 96" bash -c '
  if command -v openbox >/dev/null; then
    openbox --sm-disable >/dev/null 2>&1 &
    # A window shown before the manager runs goes unframed, or is painted
    # over when the manager takes the screen: wait until it has.
    for _ in $(seq 100); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
      sleep 0.1
    done
  fi
  QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 QT_SCALE_FACTOR=1 "$0" screenshots
' "$build/ui/tools/relay-panel-screenshots"
