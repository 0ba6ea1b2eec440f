#!/usr/bin/env bash
# An install whose process dies during the file copy (killed, as a power cut
# or a task manager would end it) leaves no half product: once the machine
# restarts, a clean machine is as it was, and a machine with an older version
# holds either that version whole or no product, never a mix. A later
# install then succeeds.
# Windows Installer rolls such an install back at its next start; Wine's
# does not, and the package's own guard (a RunOnce clean-up armed before the
# copy, released when the install ends) removes what was copied.
set -uo pipefail
export ORVO_ROOT="${ORVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export BUILD="${BUILD:-$ORVO_ROOT/build}"
source "$ORVO_ROOT/tests/product/product_rig.sh"

work="$(mktemp -d)"
trap 'rig_end; rm -rf "$work"' EXIT
rig_two_versions "$ORVO_ROOT/dist" "$work" || exit 1
version="$VERSION" newer="$NEWER"
# The slow copies: the last file the installer copies (x86\vcapture.exe)
# carries 120 MB of random bytes after its image, so the copy lasts seconds
# and the kill lands inside it.
last="x86/vcapture.exe"
cp -r "$ORVO_ROOT/dist" "$work/stage"
head -c 120000000 /dev/urandom >>"$work/stage/$last"
image="$(stat -c %s "$ORVO_ROOT/dist/$last")"
full="$(stat -c %s "$work/stage/$last")"
rig_two_versions "$work/stage" "$work/slow" || exit 1

# killed_install MSI: starts the install, waits until the last file is
# longer than its image alone (its slow copy under way: an installed older
# copy has just the image), ends every installer process and checks that the
# copy was cut short.
killed_install() {
  local folder="$WINEPREFIX/drive_c/Program Files/Quenlow/OrvoVistrel" until=$(( $(date +%s) + 120 )) files size later
  rig_install "$1" >/dev/null 2>&1 &
  local install=$!
  until [ "$(stat -c %s "$folder/$last" 2>/dev/null || echo 0)" -gt "$image" ] || [ "$(date +%s)" -ge "$until" ]; do
    sleep 0.01
  done
  local killed
  killed="$(rig_kill_installer)"
  wait "$install" 2>/dev/null
  files="$(find "$folder" -type f 2>/dev/null | wc -l)"
  size="$(stat -c %s "$folder/$last" 2>/dev/null || echo 0)"
  sleep 1
  later="$(stat -c %s "$folder/$last" 2>/dev/null || echo 0)"
  echo "killed $killed installer process(es) with $files files copied, $last at $size of $full bytes"
  check "the kill came during the copy ($last begun, not finished, and no longer growing)" \
    '[ "$killed" -ge 1 ] && [ "$size" -gt "$image" ] && [ "$size" -lt "$full" ] && [ "$later" -eq "$size" ]'
}

runonce='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
rig_prefix killed fresh
clean="$(rig_inventory)"
killed_install "$work/slow/n/OrvoVistrel-$version.msi"
guard="$(rig_wine reg query "$runonce" /v OrvoVistrelInterruptedInstall /reg:64 | sed -n 's/.*REG_SZ *//p')"
check "the install's guard is left for the restart" '[ -n "$guard" ]'
check "no entry in the programs' list" "! rig_wine reg query '$ORVO_UNINSTALL_KEY\\OrvoVistrel' /reg:64 >/dev/null"
check "no service" '[ -z "$(rig_service_state)" ]'
rig_restart
check "after the restart the machine is as it was" 'same_inventory "$clean"'
rig_install "$work/n/OrvoVistrel-$version.msi"; code=$?
check "a later install of $version ends with 0 (got $code)" '[ "$code" -eq 0 ]'
check "and its service runs" 'sleep 2; [ "$(rig_service_state)" = RUNNING ]'
# A guard still there while a version is registered (an installer that rolled
# the dead install back restored it) leaves that version whole.
whole="$(rig_inventory)"
rig_wine reg add "$runonce" /v OrvoVistrelInterruptedInstall /d "$guard" /f /reg:64 >/dev/null
rig_restart
check "a guard run while the product is registered leaves it whole" 'sleep 2; same_inventory "$whole"'
tag="K$(date +%H%M%S)"
camera="$(rig_plug alder 0x0317 "$tag" "Killed camera $tag")"
check "a camera is registered" "rig_wait_listed x64 'Killed camera $tag' present 60"
installed="$(rig_inventory)"

# Over the installed version: the upgrade to $newer killed during its copy.
killed_install "$work/slow/n1/OrvoVistrel-$newer.msi"
rig_restart
files="$(find "$WINEPREFIX/drive_c/Program Files/Quenlow" -type f 2>/dev/null | wc -l)"
if rig_wine reg query "$ORVO_UNINSTALL_KEY\\OrvoVistrel" /v DisplayVersion /reg:64 | grep -q " $version\$"; then
  echo "note: the older version was restored"
  check "its service runs" 'sleep 2; [ "$(rig_service_state)" = RUNNING ]'
  check "the machine is as it was (files, keys, classes, service)" 'same_inventory "$installed"'
else
  echo "note: the installer did not restore the older version: no product is left"
  check "no file of the product is left (got $files)" '[ "$files" -eq 0 ]'
  check "no service is left" '[ -z "$(rig_service_state)" ]'
  check "no entry in the programs' list" "! rig_wine reg query '$ORVO_UNINSTALL_KEY\\OrvoVistrel' /reg:64 >/dev/null"
fi
rig_install "$work/n1/OrvoVistrel-$newer.msi"; code=$?
check "a later install of $newer ends with 0 (got $code)" '[ "$code" -eq 0 ]'
check "one product in the programs' list, version $newer" \
  '[ "$(rig_programs | grep -c OrvoVistrel)" -eq 1 ] && rig_wine reg query "$ORVO_UNINSTALL_KEY\\OrvoVistrel" /v DisplayVersion /reg:64 | grep -q " $newer\$"'
check "the camera is listed in DirectShow" "rig_wait_listed x64 'Killed camera $tag' present 60"

rig_unplug "$camera"
rig_wait_listed x64 "Killed camera $tag" absent 30
rig_uninstall; code=$?
check "the uninstaller removes it (got $code)" '[ "$code" -eq 0 ]'
rig_restart
check "nothing is left" 'same_inventory "$clean"'
rig_report
