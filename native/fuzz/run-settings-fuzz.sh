#!/usr/bin/env bash
# Builds the setup engine's native fuzz target with clang's libFuzzer (plus
# address and undefined-behaviour checks) and runs it.
#   native/fuzz/run-settings-fuzz.sh [seconds]   fuzz for a while (default 120)
#   native/fuzz/run-settings-fuzz.sh merge       fold new finds into the kept corpus
# The kept corpus (corpus/settings) is replayed by setup_engine_test under
# Wine, where the in-memory reader and the Windows profile functions must
# read every file alike.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="$root/build/native-fuzz"
mkdir -p "$out/settings-work"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$root" "$root/native/fuzz/settings_fuzz.cpp" "$root"/setup_engine/*.cpp -o "$out/settings_fuzz"
corpus="$root/native/fuzz/corpus/settings"
if [ "${1:-}" = merge ]; then
  rm -rf "$out/settings-merged" && mkdir -p "$out/settings-merged"
  "$out/settings_fuzz" -set_cover_merge=1 -max_len=400 "$out/settings-merged" "$corpus" "$out/settings-work"
  rm -f "$corpus"/*
  cp "$out/settings-merged"/* "$corpus"/
  exit 0
fi
"$out/settings_fuzz" -max_total_time="${1:-120}" -max_len=400 "$out/settings-work" "$corpus"
