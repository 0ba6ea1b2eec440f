#!/usr/bin/env bash
# Checks a DLL's export table against its module definition: every name of
# the .def at its ordinal, undecorated, and nothing else exported.
set -euo pipefail
objdump="$1"; dll="$2"; def="$3"
expected="$(sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\) *@\([0-9][0-9]*\).*/\2 \1/p' "$def" | sort -n)"
# objdump lists "[ index] name" with index = ordinal - base; the base is 1.
actual="$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^[[:space:]]*\[ *\([0-9][0-9]*\)\] \(.*\)$/\1 \2/p' | awk '{print $1 + 1, $2}' | sort -n)"
if [ "$expected" != "$actual" ]; then
  echo "export table of $(basename "$dll") differs from $(basename "$def"):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(basename "$dll"): $(echo "$actual" | wc -l) exports match $(basename "$def")"
