#!/usr/bin/env bash
# The driver's objects may need only the kernel and framework routines on an
# allow-list: usage check-driver-symbols.sh NM ALLOWLIST ARCHIVE...
set -euo pipefail
nm="$1"; allow="$2"; shift 2
defined="$("$nm" --defined-only -g "$@" 2>/dev/null | awk 'NF==3{print $3}' | sed -e 's/^_//' -e 's/@[0-9]*$//' | sort -u)"
needed="$("$nm" -u "$@" 2>/dev/null | awk 'NF>=2{print $NF}' | sed -e 's/^_//' -e 's/@[0-9]*$//' | sort -u)"
allowed="$(grep -v -e '^#' -e '^$' "$allow" | sort -u)"
bad="$(comm -23 <(comm -23 <(printf '%s\n' "$needed") <(printf '%s\n' "$defined")) <(printf '%s\n' "$allowed") | grep -v '^$' || true)"
if [ -n "$bad" ]; then
  echo "error: the driver needs routines outside $allow:" >&2
  printf '  %s\n' $bad >&2
  exit 1
fi
