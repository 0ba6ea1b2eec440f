#!/usr/bin/env bash
# CTest's emulator for Windows test executables: runs one under Wine in the
# build's prefix. The prefix fixture has made the prefix already.
set -euo pipefail
export ORVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ORVO_ROOT/tests/harness/wine-env.sh"
orvo_wine_prefix
orvo_wine_server_start
exec "$ORVO_WINE" "$@"
