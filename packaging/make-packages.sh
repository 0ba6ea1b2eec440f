#!/usr/bin/env bash
# Builds the product and shared-component packages from the staged files.
#   make-packages.sh STAGE OUT CACHE [VERSION PRODUCT_CODE]
# STAGE is the dist folder (x64 at its root, x86 in x86/), OUT the folder the
# packages go to, CACHE the x64 build's CMakeCache.txt: the version and the
# product, upgrade and shared codes are its build settings, and the settings
# file shipped beside the uninstaller is made here from the same values, so
# the package and the uninstaller can never name different products.
# VERSION and PRODUCT_CODE override the cache (a newer version of the product
# needs a new product code under the same upgrade code).
set -euo pipefail
stage="$(cd "$1" && pwd)" out="$2" cache="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
setting() { sed -n "s/^$1:STRING=//p" "$cache"; }
version="${4:-$(setting ORVO_PRODUCT_VERSION)}"
product="${5:-$(setting ORVO_PRODUCT_CODE)}"
upgrade="$(setting ORVO_PRODUCT_UPGRADE_CODE)"
shared="$(setting ORVO_SHARED_PRODUCT_CODE)"
shared_upgrade="$(setting ORVO_SHARED_UPGRADE_CODE)"
for v in version product upgrade shared shared_upgrade; do
  [ -n "${!v}" ] || { echo "make-packages: no $v in $cache" >&2; exit 1; }
done
for f in orvoApi.dll OrvoVistrel.dll OrvoVistrelWatchdog.exe zellog.exe orvocam.exe vcapture.exe; do
  [ -f "$stage/$f" ] && [ -f "$stage/x86/$f" ] || { echo "make-packages: $f is not staged for both bitnesses" >&2; exit 1; }
done
for f in UninstallOrvoVistrel.exe OrvoVistrelPackageActions.dll driver/orvoUsb.inf; do
  [ -f "$stage/$f" ] || { echo "make-packages: $f is not staged" >&2; exit 1; }
done
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sed -e "s/@ORVO_PRODUCT_CODE@/$product/g" -e "s/@ORVO_SHARED_PRODUCT_CODE@/$shared/g" \
  "$here/../uninstaller/Settings.ini.in" | sed 's/\r*$/\r/' >"$work/Settings.ini"
# wixl takes sources by names relative to the folder it runs in.
ln -s "$stage" "$work/stage"
cp "$here/product.wxs" "$here/shared.wxs" "$work/"
out="$(mkdir -p "$out" && cd "$out" && pwd)"
(
  cd "$work"
  wixl -a x64 -D "ProductCode=$product" -D "UpgradeCode=$upgrade" -D "Version=$version" \
    -D Stage=stage -D Settings=Settings.ini -o "$out/OrvoVistrel-$version.msi" product.wxs
  wixl -a x64 -D "ProductCode=$shared" -D "UpgradeCode=$shared_upgrade" -D "Version=$version" \
    -D Stage=stage -o "$out/OrvoVistrelShared-$version.msi" shared.wxs
)
# wixl puts the removal of an older version after the install's end: the
# older one would then remove what the newer one shares with it, service
# included. It goes first in the install's transaction, before anything is
# copied, so an install that fails restores the older version.
for msi in "$out/OrvoVistrel-$version.msi" "$out/OrvoVistrelShared-$version.msi"; do
  msibuild "$msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1501 WHERE \`Action\` = 'RemoveExistingProducts'"
done
# wixl knows no exit actions: the install guard's releases go to the error
# (-3) and cancel (-2) exits here.
msibuild "$out/OrvoVistrel-$version.msi" \
  -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = -3 WHERE \`Action\` = 'ReleaseGuardOnError'" \
  -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = -2 WHERE \`Action\` = 'ReleaseGuardOnCancel'"
echo "$out/OrvoVistrel-$version.msi"
echo "$out/OrvoVistrelShared-$version.msi"
