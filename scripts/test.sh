#!/usr/bin/env bash
# Installs the build's needs, builds everything with warnings as errors and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DRELAY_PANEL_WERROR=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --timeout 300
