#!/usr/bin/env bash
# Installs what building, testing and running the panel need on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
  libqt6svg6
  libgtest-dev libgmock-dev
  fonts-wqy-microhei
  xvfb xauth
  dbus-daemon dbus-bin at-spi2-core gir1.2-atspi-2.0 python3-gi
  desktop-file-utils dpkg-dev file lintian
  util-linux
  libmosquitto-dev mosquitto mosquitto-clients openssl
  nlohmann-json3-dev
  libsystemd-dev systemd
  nlohmann-json3-dev
  socat
  libmicrohttpd-dev libwslay-dev libgnutls28-dev
  chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
