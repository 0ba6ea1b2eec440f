#!/usr/bin/env bash
# Builds the native fuzz target of the status packet and item code with
# clang's libFuzzer (plus address and undefined-behaviour checks) and runs it.
#   native/fuzz/run-fuzz.sh [seconds]      fuzz for a while (default 120)
#   native/fuzz/run-fuzz.sh merge          fold new finds into the kept corpus
# The kept corpus (corpus/command_status) is replayed by the Wine test suite.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="$root/build/native-fuzz"
mkdir -p "$out/work"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$root" "$root/native/fuzz/command_status_fuzz.cpp" \
  "$root/camera_api/cameras/command_status_protocol.cpp" -o "$out/command_status_fuzz"
corpus="$root/native/fuzz/corpus/command_status"
if [ "${1:-}" = merge ]; then
  rm -rf "$out/merged" && mkdir -p "$out/merged"
  "$out/command_status_fuzz" -set_cover_merge=1 "$out/merged" "$corpus" "$out/work"
  rm -f "$corpus"/*
  cp "$out/merged"/* "$corpus"/
  exit 0
fi
"$out/command_status_fuzz" -max_total_time="${1:-120}" -max_len=600 "$out/work" "$corpus"
