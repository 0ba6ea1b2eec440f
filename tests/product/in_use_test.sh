#!/usr/bin/env bash
# The uninstaller run while a video application streams from a camera
# through the installed capture source: the removal ends, the application
# streams on to its last frame (nothing lost), the files it holds are left
# for the next restart and go then, with nothing else left.
set -uo pipefail
export ORVO_ROOT="${ORVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export BUILD="${BUILD:-$ORVO_ROOT/build}"
source "$ORVO_ROOT/tests/product/product_rig.sh"

work="$(mktemp -d)"
trap 'rig_end; rm -rf "$work"' EXIT
cache="$BUILD/x64/CMakeCache.txt"
version="$(sed -n 's/^ORVO_PRODUCT_VERSION:STRING=//p' "$cache")"
"$ORVO_ROOT/packaging/make-packages.sh" "$ORVO_ROOT/dist" "$work/n" "$cache" >/dev/null || exit 1
rig_prefix in-use fresh
before="$(rig_inventory)"
rig_install "$work/n/OrvoVistrelShared-$version.msi"
rig_install "$work/n/OrvoVistrel-$version.msi"; code=$?
check "the product installs (got $code)" '[ "$code" -eq 0 ]'
tag="W$(date +%H%M%S)"
camera="$(rig_plug alder 0x0317 "$tag" "Streaming camera $tag")"
check "the camera is listed" "rig_wait_listed x64 'Streaming camera $tag' present 60"

# 450 frames: about 15 s at the camera's 30 per second, longer than the removal.
frames=450 out="$work/frames"
mkdir -p "$out"
rig_vcapture x64 grab "Streaming camera $tag" "$frames" --direct --out "$(rig_winpath "$out")" >"$work/grab.txt" &
grab=$!
# vcapture writes its frames only after the stream: the camera listed in use
# by the library (orvocam list) says the application has it.
in_use() { (cd "$BUILD" && rig_wine "$ORVO_PRODUCT_DIR\\orvocam.exe" list) | grep -F "serial \"$tag\"" | grep -q ", in use"; }
until=$(( $(date +%s) + 60 ))
until in_use || [ "$(date +%s)" -ge "$until" ]; do sleep 0.2; done
check "the application streams (the camera is in use)" 'in_use && kill -0 "$grab" 2>/dev/null'
rig_uninstall; code=$?
streaming=no; kill -0 "$grab" 2>/dev/null && streaming=yes
check "the uninstaller ends with 0 (got $code), the application still streaming ($streaming)" \
  '[ "$code" -eq 0 ] && [ "$streaming" = yes ]'
check "the service is gone" '[ -z "$(rig_service_state)" ]'
check "the programs' list entry is gone" "! rig_wine reg query '$ORVO_UNINSTALL_KEY\\OrvoVistrel' /reg:64 >/dev/null"
pending="$(rig_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations)"
check "the files in use wait for the restart" 'grep -qi "OrvoVistrel\\\\vcapture.exe" <<<"$pending"'
wait "$grab"; code=$?
check "the application ends normally (got $code)" '[ "$code" -eq 0 ]'
printf -v last 'frame_%03d.png' "$frames"
check "no frame lost: all $frames written" '[ -f "$out/$last" ] && [ "$(ls "$out" | wc -l)" -eq "$frames" ]'
rig_unplug "$camera"
rig_restart
rig_expect_inventory "$before" "after the restart the inventory equals the one before"
rig_report
