#!/usr/bin/env bash
# Fuzzes a target for the given number of seconds (default 60) and merges
# what it found into its saved corpus. Targets: receive_path (default, corpus
# fuzz/corpus) and request_parser (fuzz/request_corpus).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
target="${2:-receive_path}"
case "$target" in
  receive_path) corpus=fuzz/corpus; max_len=512 ;;
  request_parser) corpus=fuzz/request_corpus; max_len=2048 ;;
  *) echo "unknown fuzz target '$target' (receive_path or request_parser)" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
command -v clang++ >/dev/null || { sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo; $sudo apt-get install -y -qq clang libclang-rt-14-dev; }
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DRELAY_PANEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz --target "${target}_fuzzer"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$corpus"/* "$work"/
build-fuzz/fuzz/"${target}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 "$work"
build-fuzz/fuzz/"${target}_fuzzer" -merge=1 "$corpus" "$work"
