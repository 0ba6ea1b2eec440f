#!/usr/bin/env bash
# The whole road on one machine: install both packages, the service starts
# the agents, cameras of each family plugged are listed and streamed through
# DirectShow in both bitnesses, one pulled and plugged again, the shipped
# uninstaller removes everything: the inventory after equals the one before.
# The kernel-streaming proxy stand-in is part of the machine: the native
# agent feeds it each camera and the proxy's own application streams one.
set -uo pipefail
export ORVO_ROOT="${ORVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export BUILD="${BUILD:-$ORVO_ROOT/build}"
source "$ORVO_ROOT/tests/product/product_rig.sh"

packages="$(mktemp -d)"
trap 'rig_end; rm -rf "$packages"' EXIT
"$ORVO_ROOT/packaging/make-packages.sh" "$ORVO_ROOT/dist" "$packages" "$BUILD/x64/CMakeCache.txt" >/dev/null || exit 1
version="$(sed -n 's/^ORVO_PRODUCT_VERSION:STRING=//p' "$BUILD/x64/CMakeCache.txt")"
rig_prefix road fresh
rig_proxy_up "$packages/proxy.txt"
before="$(rig_inventory)"

rig_install "$packages/OrvoVistrelShared-$version.msi"; code=$?
check "shared components install with 0 (got $code)" '[ "$code" -eq 0 ]'
rig_install "$packages/OrvoVistrel-$version.msi"; code=$?
check "product installs with 0 (got $code)" '[ "$code" -eq 0 ]'
check "the service runs after the install" '[ "$(rig_service_state)" = RUNNING ]'
installed="$(rig_inventory)"
check "the inventory sees the installed product" 'grep -q "OrvoVistrelWatchdog.exe" <<<"$installed" && grep -q "x86/vcapture.exe" <<<"$installed"'
check "one entry in the programs list runs the uninstaller" \
  '[ "$(rig_reg_matches "$ORVO_UNINSTALL_KEY" | grep -c "UninstallString .*UninstallOrvoVistrel.exe\"$")" -eq 1 ]'

tag="R$(date +%H%M%S)"
alder="$(rig_plug alder 0x0317 "A$tag" "Road alder $tag")"
birch="$(rig_plug birch 0x0310 "B$tag" "Road birch $tag")"
sensor="$(rig_plug sensor 0x0308 "S$tag" "Road sensor $tag")"
arches=x64; [ "$ORVO_X86_RUNNABLE" = 1 ] && arches="x64 x86"
for arch in $arches; do
  for name in alder birch sensor; do
    check "$name listed by DirectShow ($arch)" "rig_wait_listed $arch 'Road $name $tag' present 60"
  done
  out="$packages/frames-$arch"; mkdir -p "$out"
  rig_vcapture "$arch" grab "Road alder $tag" 3 --out "$(rig_winpath "$out")" >"$packages/grab-$arch.txt"; code=$?
  check "grab through DirectShow ($arch) exits 0 (got $code)" '[ "$code" -eq 0 ] && [ -f "$out/frame_003.png" ]'
done
guid="$(rig_proxy_camera "Road alder $tag" 30)"
check "the native agent feeds the camera to the kernel-streaming proxy" '[ -n "$guid" ]'
mkdir -p "$packages/proxy"
rig_proxy_stream "$guid" 3 "$packages/proxy" >/dev/null
check "the proxy's application streams it" '[ -f "$packages/proxy/frame_003.png" ]'
rig_unplug "$alder"
check "a pulled camera leaves the DirectShow list" "rig_wait_listed x64 'Road alder $tag' absent 30"
alder="$(rig_plug alder 0x0317 "A$tag" "Road alder $tag")"
check "plugged again, it comes back" "rig_wait_listed x64 'Road alder $tag' present 60"
for path in "$alder" "$birch" "$sensor"; do rig_unplug "$path"; done

rig_uninstall; code=$?
check "the uninstaller ends with 0 (got $code)" '[ "$code" -eq 0 ]'
rig_expect_only_uninstaller_pending "$before"
rig_restart
rig_expect_inventory "$before" "the inventory after the uninstall equals the one before ($(wc -l <<<"$before") lines)"
rig_proxy_down
rig_report
