#!/usr/bin/env bash
# The uninstaller removing three packages against a launcher that runs the
# same msiexec removals, interleaved round by round in one prefix, with the
# engine's logging on and off. Prints each pair and the median ratio.
#   bench.sh BIN_DIR [ROUNDS]
set -euo pipefail
bin="$1" rounds="${2:-5}"
export ORVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ORVO_ROOT/tests/harness/wine-env.sh"
orvo_wine_prefix
orvo_wine_server_start
cache="$bin/../CMakeCache.txt"
product="$(sed -n 's/^ORVO_PRODUCT_CODE:STRING=//p' "$cache")"
shared="$(sed -n 's/^ORVO_SHARED_PRODUCT_CODE:STRING=//p' "$cache")"
extra="{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7A20}"
folder="$ORVO_ROOT/build/bench/Orvo Vistrel"
mkdir -p "$folder"
cp "$bin/UninstallOrvoVistrel.exe" "$folder/"
cat > "$folder/Settings.ini" <<INI
[SilentRemoveShared]
Name=OrvoVistrel
MainInstall=Product
PreInstall=Shared|Extra
RemoveShared=yes
[Product]
Name=Product
File=msiexec
Arguments=/x $product /qn
DoNotExtract=yes
ForceRun=yes
AddSourceDir=yes
FailCodes=1602|1603
[Shared]
Name=Shared
File=msiexec
Arguments=/x $shared /qn
DoNotExtract=yes
ForceRun=yes
AddSourceDir=yes
FailCodes=1602|1603
[Extra]
Name=Extra
File=msiexec
Arguments=/x $extra /qn
DoNotExtract=yes
ForceRun=yes
AddSourceDir=yes
FailCodes=1602|1603
INI
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
packages="$(winpath "$bin/uninstaller_packages")"
install_all() {
  local p
  for p in product shared extra; do "$ORVO_WINE" msiexec /i "$packages\\$p.msi" /qn; done
}
now() { date +%s%N; }
logdir="C:\\users\\$(whoami)\\Temp\\UninstallOrvoVistrel_bench"
source_dir="$(winpath "$folder")"
run_engine() {
  if [ "$1" = on ]; then
    (cd "$folder" && "$ORVO_WINE" UninstallOrvoVistrel.exe /Type SilentRemoveShared /log "$logdir\\Zel_Setup_Package.log")
  else
    (cd "$folder" && "$ORVO_WINE" UninstallOrvoVistrel.exe /Type SilentRemoveShared /nolog)
  fi
}
run_launcher() {
  (cd "$bin" && "$ORVO_WINE" orvo_uninstaller_bench_launcher.exe "$source_dir" "$([ "$1" = on ] && echo "$logdir" || echo -)" \
    "Product=$product" "Shared=$shared" "Extra=$extra")
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
for mode in on off; do
  ratios=()
  for round in $(seq "$rounds"); do
    # Alternate which goes first, so drift in the machine's load cancels.
    if [ $((round % 2)) -eq 1 ]; then
      install_all; t0=$(now); run_engine "$mode"; t1=$(now)
      install_all; t2=$(now); run_launcher "$mode"; t3=$(now)
    else
      install_all; t2=$(now); run_launcher "$mode"; t3=$(now)
      install_all; t0=$(now); run_engine "$mode"; t1=$(now)
    fi
    engine=$(( (t1 - t0) / 1000000 )) launcher=$(( (t3 - t2) / 1000000 ))
    ratio=$(awk -v a="$engine" -v b="$launcher" 'BEGIN {printf "%.3f", a / b}')
    printf 'logging %-3s round %d: uninstaller %5d ms, launcher %5d ms, ratio %s\n' "$mode" "$round" "$engine" "$launcher" "$ratio"
    ratios+=("$ratio")
  done
  printf 'logging %-3s median ratio %s (target at most 1.15)\n' "$mode" "$(printf '%s\n' "${ratios[@]}" | median)"
done
