#!/usr/bin/env bash
# Builds the Debian package relay-panel_<version>_amd64.deb in build-package/.
# Install it with: sudo apt install ./build-package/relay-panel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DRELAY_PANEL_WERROR=ON
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
ls -1 build-package/relay-panel_*.deb
