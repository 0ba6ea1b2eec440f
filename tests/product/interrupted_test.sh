#!/usr/bin/env bash
# An install that fails part-way (a custom action failing right after the
# file copy) leaves no half product: on a clean machine nothing; over an
# installed version, that version with its service and camera, as Windows
# Installer rolls the older version's removal back, or, where the installer
# does not (Wine 8), a machine without the product, never a mix.
# Exit codes pass through the shell as their low 8 bits: 1603 arrives as 67.
set -uo pipefail
export ORVO_ROOT="${ORVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export BUILD="${BUILD:-$ORVO_ROOT/build}"
source "$ORVO_ROOT/tests/product/product_rig.sh"

work="$(mktemp -d)"
trap 'rig_end; rm -rf "$work"' EXIT
rig_two_versions "$ORVO_ROOT/dist" "$work" || exit 1
version="$VERSION" newer="$NEWER"
# The failing copies: an error action (type 19) right after the file copy.
failing() {
  cp "$1" "$2"
  msibuild "$2" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('OrvoTestFail', 19, '', 'Interrupted on purpose')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('OrvoTestFail', 'NOT REMOVE', 4001)"
}
failing "$work/n/OrvoVistrel-$version.msi" "$work/fail-n.msi"
failing "$work/n1/OrvoVistrel-$newer.msi" "$work/fail-n1.msi"

rig_prefix interrupted fresh
clean="$(rig_inventory)"
rig_install "$work/fail-n.msi"; code=$?
check "a failing install on a clean machine ends with 1603 (got $code)" '[ "$code" -eq $((1603 & 255)) ]'
check "and leaves the machine as it was" 'same_inventory "$clean"'

rig_install "$work/n/OrvoVistrel-$version.msi"; code=$?
check "version $version installs (got $code)" '[ "$code" -eq 0 ]'
tag="I$(date +%H%M%S)"
camera="$(rig_plug alder 0x0317 "$tag" "Interrupted camera $tag")"
check "a camera is registered" "rig_wait_listed x64 'Interrupted camera $tag' present 60"
installed="$(rig_inventory)"
rig_install "$work/fail-n1.msi"; code=$?
check "a failing upgrade to $newer ends with 1603 (got $code)" '[ "$code" -eq $((1603 & 255)) ]'
files="$(find "$WINEPREFIX/drive_c/Program Files/Quenlow" -type f 2>/dev/null | wc -l)"
if rig_wine reg query "$ORVO_UNINSTALL_KEY\\OrvoVistrel" /v DisplayVersion /reg:64 | grep -q " $version\$"; then
  echo "note: the older version was restored"
  check "its service runs" 'sleep 2; [ "$(rig_service_state)" = RUNNING ]'
  check "its camera is listed in DirectShow" "rig_wait_listed x64 'Interrupted camera $tag' present 60"
  check "the machine is as it was (files, keys, classes, service)" 'same_inventory "$installed"'
else
  echo "note: the installer did not restore the older version: no product is left"
  check "no file of the product is left (got $files)" '[ "$files" -eq 0 ]'
  check "no service is left" '[ -z "$(rig_service_state)" ]'
  check "no entry in the programs' list" "! rig_wine reg query '$ORVO_UNINSTALL_KEY\\OrvoVistrel' /reg:64 >/dev/null"
  check "no camera of it in DirectShow" "rig_wait_listed x64 'Interrupted camera $tag' absent 30"
  rig_install "$work/n/OrvoVistrel-$version.msi"; code=$?
  check "version $version installs again (got $code)" '[ "$code" -eq 0 ]'
fi

rig_unplug "$camera"
rig_wait_listed x64 "Interrupted camera $tag" absent 30
rig_uninstall; code=$?
check "the uninstaller still removes it (got $code)" '[ "$code" -eq 0 ]'
rig_restart
check "nothing is left" 'same_inventory "$clean"'
rig_report
