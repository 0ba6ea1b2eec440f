#!/usr/bin/env bash
# Saves a live log with zellog while the helper traces, then decodes it on
# the Linux side: every statement's message number must name its own line.
set -euo pipefail
BIN="$1"
export ORVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ORVO_ROOT/tests/harness/wine-env.sh"
orvo_wine_prefix
orvo_wine_server_start
work="$(mktemp -d)"
viewer=""
trap '[ -z "$viewer" ] || kill "$viewer" 2>/dev/null || true; rm -rf "$work"' EXIT

(cd "$BIN" && "$ORVO_WINE" zellog.exe --count 4 --timeout 60 --save "Z:$work/saved.zellog" >"$work/viewer.txt" 2>&1) &
viewer=$!
(cd "$BIN" && "$ORVO_WINE" live_log_helper.exe trace >"$work/helper.txt" 2>&1) || { cat "$work/helper.txt"; exit 1; }
status=0; wait "$viewer" || status=$?
viewer=""
[ "$status" -eq 0 ] || { echo "zellog failed:"; cat "$work/viewer.txt"; exit 1; }

python3 "$ORVO_ROOT/tools/zellog/zeldecode.py" "$work/saved.zellog" --symbols "$BIN" >"$work/decoded.txt"
cat "$work/decoded.txt"
source_file="$ORVO_ROOT/tests/support_lib/live_log_helper.cpp"
for marker in error warning info; do
  line="$(grep -n "decode-marker-$marker" "$source_file" | cut -d: -f1)"
  grep -E "^.* $marker +live_log_helper.exe msg 0x[0-9A-F]{8} at .*live_log_helper.cpp:$line( |$)" "$work/decoded.txt" >/dev/null \
    || { echo "the $marker statement was not decoded to live_log_helper.cpp:$line"; exit 1; }
done
grep -q 'i32 -5, str "narrow", wstr "wide é"' "$work/decoded.txt" || { echo "arguments not decoded"; exit 1; }
echo "decoded all statements to their lines"

# The decoder's own PE reading agrees with objdump on the builds of both
# architectures (the 32-bit build is read here even where it cannot run).
for exe in "$BIN/zellog.exe" "$ORVO_ROOT/build/x86/bin/zellog.exe"; do
  [ -f "$exe" ] || continue
  expected="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*RSDS signature \([0-9a-f]*\) age \([0-9]*\).*/\1 \2/p')"
  actual="$(PYTHONPATH="$ORVO_ROOT/tools/zellog" python3 -c '
import sys, zeldecode
machine, base, guid, age = zeldecode.pe_debug_identity(sys.argv[1])
print(guid.hex, age)' "$exe")"
  [ -n "$expected" ] && [ "$expected" = "$actual" ] || { echo "$exe: decoder reads '$actual', objdump '$expected'"; exit 1; }
done
echo "debug records read as objdump reads them"
