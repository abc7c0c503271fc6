#!/usr/bin/env bash
# Builds optimised and measures the poll cycle: the real logic, link and
# widgets (offscreen) against the simulated board. About three minutes;
# pass --quick for a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target relay-bench
QT_QPA_PLATFORM=offscreen build-bench/bench/relay-bench "$@"
