#!/usr/bin/env bash
# Installs the build's needs, builds the panel and starts it. Arguments go
# to the panel: pass --simulate to work with the built-in simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)" --target relay-panel
exec build/app/relay-panel "$@"
