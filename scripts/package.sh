#!/usr/bin/env bash
# Builds the Debian package relay-panel_<version>_amd64.deb in build-package/:
# the programs alone (no tests), optimised, with Debian's hardening flags.
# Install it with: sudo apt install ./build-package/relay-panel_*.deb
#
# With --from DIR it packs what the build in DIR has already made instead
# (CI packs the dev build, so that it need not build everything twice).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--from" ]; then
  build=${2:?"--from needs a build directory"}
  cmake --build "$build" -j"$(nproc)"
else
  bash scripts/install-deps.sh
  build=build-package
  # The flags Debian builds its own packages with: fortified functions,
  # stack protector, read-only relocations bound at start.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
  export CXXFLAGS LDFLAGS
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DRELAY_PANEL_WERROR=ON
  cmake --build "$build" -j"$(nproc)"
fi
rm -f "$build"/relay-panel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls -1 "$build"/relay-panel_*.deb
