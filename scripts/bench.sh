#!/usr/bin/env bash
# Builds optimised and measures the poll cycle: the panel (the real logic,
# link and widgets, offscreen), relayd as a child process, and the boards on
# a real MQTT broker, each against simulated boards and, for the processor
# time, against a bare poll loop in the same run. Several minutes; pass
# --quick for short runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target relay-bench relayd-bench relay-mqtt-bench
QT_QPA_PLATFORM=offscreen build-bench/bench/relay-bench "$@"
build-bench/bench/relayd-bench "$@"
build-bench/bench/relay-mqtt-bench "$@"
