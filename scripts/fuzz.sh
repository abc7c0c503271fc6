#!/usr/bin/env bash
# Fuzzes the receive path for the given number of seconds (default 60) and
# merges what it found into the saved corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/install-deps.sh
command -v clang++ >/dev/null || { sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo; $sudo apt-get install -y -qq clang libclang-rt-14-dev; }
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DRELAY_PANEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz --target receive_path_fuzzer
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/* "$work"/
build-fuzz/fuzz/receive_path_fuzzer -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$work"
build-fuzz/fuzz/receive_path_fuzzer -merge=1 fuzz/corpus "$work"
