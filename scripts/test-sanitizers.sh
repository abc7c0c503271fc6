#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole suite under them. Leaks that only Qt's and fontconfig's own
# caches keep are suppressed in tests/sanitizers/lsan.supp, each with its
# reason.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset asan ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build --preset asan -j"$(nproc)"
ctest --preset asan
