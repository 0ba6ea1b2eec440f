#!/bin/sh
# Fails when a binary imports a MinGW runtime DLL: shipped modules link the
# C++ runtime, libgcc and winpthread statically and import only system DLLs.
objdump="$1"; file="$2"
bad=$("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p' | grep -i -E '^(libstdc\+\+|libgcc|libwinpthread|libssp)' || true)
if [ -n "$bad" ]; then
  echo "error: $(basename "$file") imports MinGW runtime DLLs: $bad" >&2
  exit 1
fi
exit 0
