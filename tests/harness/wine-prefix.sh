#!/usr/bin/env bash
# CTest fixture: makes the build's Wine prefix once and starts its server.
set -euo pipefail
export ORVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ORVO_ROOT/tests/harness/wine-env.sh"
orvo_wine_prefix
orvo_wine_server_start
echo "wine prefix ready: $WINEPREFIX (32-bit programs runnable: $ORVO_X86_RUNNABLE)"
