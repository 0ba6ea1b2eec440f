#!/usr/bin/env bash
# Version N installed with a camera registered, version N+1 installed over it:
# one product in the programs' list, the service running the new files, the
# camera still listed in DirectShow; the uninstaller then removes it all.
set -uo pipefail
export ORVO_ROOT="${ORVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export BUILD="${BUILD:-$ORVO_ROOT/build}"
source "$ORVO_ROOT/tests/product/product_rig.sh"

work="$(mktemp -d)"
trap 'rig_end; rm -rf "$work"' EXIT
cache="$BUILD/x64/CMakeCache.txt"
version="$(sed -n 's/^ORVO_PRODUCT_VERSION:STRING=//p' "$cache")"
old_code="$(sed -n 's/^ORVO_PRODUCT_CODE:STRING=//p' "$cache")"
IFS=. read -r major minor _ <<<"$version"
newer="$major.$((minor + 1)).0"
# A newer product has a product code of its own under the same upgrade code.
new_code='{6B1D2A40-3C57-4E8B-9F21-0A7C5E3D9B1F}'
"$ORVO_ROOT/packaging/make-packages.sh" "$ORVO_ROOT/dist" "$work/n" "$cache" >/dev/null || exit 1
# N+1's files differ from N's (a trailing mark after the image), so the test
# can tell which files the service runs.
cp -r "$ORVO_ROOT/dist" "$work/stage"
printf 'orvo-upgrade-mark' >>"$work/stage/OrvoVistrelWatchdog.exe"
"$ORVO_ROOT/packaging/make-packages.sh" "$work/stage" "$work/n1" "$cache" "$newer" "$new_code" >/dev/null || exit 1

rig_prefix upgrade fresh
before="$(rig_inventory)"
rig_install "$work/n/OrvoVistrelShared-$version.msi"
rig_install "$work/n/OrvoVistrel-$version.msi"; code=$?
check "version $version installs with 0 (got $code)" '[ "$code" -eq 0 ]'
tag="U$(date +%H%M%S)"
camera="$(rig_plug alder 0x0317 "$tag" "Upgrade camera $tag")"
check "the camera is registered under version $version" "rig_wait_listed x64 'Upgrade camera $tag' present 60"

rig_install "$work/n1/OrvoVistrel-$newer.msi"; code=$?
check "version $newer installs over it with 0 (got $code)" '[ "$code" -eq 0 ]'
entries="$(rig_programs | grep -c '^OrvoVistrel$')"
check "one product in the programs' list (got $entries)" '[ "$entries" -eq 1 ]'
check "the list shows version $newer" \
  "rig_wine reg query '$ORVO_UNINSTALL_KEY\\OrvoVistrel' /v DisplayVersion /reg:64 | grep -q '$newer'"
check "version $version is no longer installed" \
  "! rig_wine reg query '$ORVO_UNINSTALL_KEY\\$old_code' /reg:64 >/dev/null"
check "the installed service is the new file" \
  'cmp -s "$WINEPREFIX/drive_c/Program Files/Quenlow/OrvoVistrel/OrvoVistrelWatchdog.exe" "$work/stage/OrvoVistrelWatchdog.exe"'
check "the service runs" '[ "$(rig_service_state)" = RUNNING ]'
check "the camera is still listed in DirectShow" "rig_wait_listed x64 'Upgrade camera $tag' present 60"
rig_unplug "$camera"
check "unplugged, it leaves the list" "rig_wait_listed x64 'Upgrade camera $tag' absent 30"

rig_uninstall; code=$?
check "the uninstaller ends with 0 (got $code)" '[ "$code" -eq 0 ]'
rig_expect_only_uninstaller_pending "$before"
rig_restart
rig_expect_inventory "$before" "the inventory after the uninstall equals the one before"
rig_report
