#!/usr/bin/env bash
# Pictures of every dialog and prompt of the uninstaller, taken on a virtual
# X display: the shooter program (Wine, under an X11 desktop of Wine's
# explorer) shows each one and waits while ImageMagick takes the picture.
#   screenshots.sh BIN_DIR OUT_DIR DISPLAY_NUMBER
set -euo pipefail
bin="$1" out="$2" display=":$3"
export ORVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ORVO_ROOT/tests/harness/wine-env.sh"
orvo_wine_prefix
orvo_wine_server_start
mkdir -p "$out"
hand="$(mktemp -d)"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$hand"; }
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY="$display"
winhand="Z:${hand//\//\\}"
(cd "$bin" && "$ORVO_WINE" explorer /desktop=shot,800x600,x11 orvo_uninstaller_shooter.exe "$winhand" </dev/null >/dev/null 2>&1) &
shooter=$!
taken=0
for _ in $(seq 3000); do
  for ready in "$hand"/*.ready; do
    [ -e "$ready" ] || continue
    name="$(basename "$ready" .ready)"
    import -display "$display" -window root "$out/$name.png"
    rm -f "$ready"
    touch "$hand/$name.shot"
    taken=$((taken + 1))
  done
  [ -e "$hand/done" ] && break
  sleep 0.1
done
wait "$shooter" || true
failures="$(cat "$hand/done" 2>/dev/null || echo missing)"
echo "screenshots: $taken pictures in $out (shooter failures: $failures)"
[ "$failures" = 0 ] && [ "$taken" -ge 16 ]
