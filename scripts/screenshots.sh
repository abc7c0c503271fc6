#!/usr/bin/env bash
# Pictures of the real window under a virtual X screen at 96 dpi, talking to
# the simulated board: disconnected, connected with relays on and off, and
# with the board silent; then the same on a dark desktop (dark-*.png) and on
# a screen scaled by 2 (scale2-*.png). Writes screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only the pictures need a window manager (openbox draws the title bar), xprop
# and a platform theme that gives Qt a desktop's colour scheme (qt6ct).
if ! command -v openbox >/dev/null || ! command -v xprop >/dev/null || ! command -v qt6ct >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends openbox x11-utils qt6ct
fi
build=${BUILD_DIR:-build-ui}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target relay-panel-screenshots
mkdir -p screenshots

# One run of the screenshot tool on its own virtual screen:
#     shots SCREEN_SIZE PREFIX [VARIABLE=VALUE ...]
# A window manager, when one is installed, draws the title bar with the
# caption and shows the frame has no maximize or minimize button.
shots() {
  local screen=$1 prefix=$2
  shift 2
  env "$@" xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" bash -c '
    if command -v openbox >/dev/null; then
      openbox --sm-disable >/dev/null 2>&1 &
      # A window shown before the manager runs goes unframed, or is painted
      # over when the manager takes the screen: wait until it has.
      for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
      done
    fi
    QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "$0" screenshots "$1"
  ' "$build/app/tools/relay-panel-screenshots" "$prefix"
}

shots 500x440 "" QT_SCALE_FACTOR=1

# A dark desktop: the platform theme hands the application a dark palette,
# as a desktop's dark colour scheme does. Colours in Qt's palette role order.
theme=$(mktemp -d)
trap 'rm -rf "$theme"' EXIT
mkdir -p "$theme/qt6ct"
dark="#ffeff0f1, #ff31363b, #ff474d54, #ff3a4045, #ff1e2124, #ff2a2e32, #ffeff0f1, #ffffffff, #ffeff0f1,"
dark+=" #ff232629, #ff31363b, #ff141618, #ff3daee9, #ffeff0f1, #ff1d99f3, #ff9b59b6, #ff31363b, #ff000000,"
dark+=" #ff31363b, #ffeff0f1, #80eff0f1"
printf '[ColorScheme]\nactive_colors=%s\ninactive_colors=%s\ndisabled_colors=%s\n' \
  "$dark" "$dark" "$dark" >"$theme/dark.conf"
printf '[Appearance]\ncolor_scheme_path=%s\ncustom_palette=true\nstyle=Fusion\n' \
  "$theme/dark.conf" >"$theme/qt6ct/qt6ct.conf"
shots 500x440 dark- QT_SCALE_FACTOR=1 QT_QPA_PLATFORMTHEME=qt6ct XDG_CONFIG_HOME="$theme"

# A large high-density screen, everything drawn twice the size.
shots 1000x880 scale2- QT_SCALE_FACTOR=2

web_shots
