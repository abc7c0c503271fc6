#!/usr/bin/env bash
# Installs the build's needs, builds everything with warnings as errors and
# runs every test in parallel (most of them wait on a real board's timing,
# not on the processor). With --fast, only the tests that wait on no real
# time to speak of: the edit-compile-test loop.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=dev
[ "${1:-}" = "--fast" ] && preset=fast
bash scripts/install-deps.sh
cmake --preset dev ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build --preset dev -j"$(nproc)"
ctest --preset "$preset"
