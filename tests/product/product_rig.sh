# Sourced by the product tests and ./run demo: the product as a person meets
# it, in a Wine prefix of its own (the machine of one person), installed from
# the packages, used through the emulated bus and DirectShow, removed by the
# shipped uninstaller. Needs ORVO_ROOT and BUILD (the build folder).
: "${ORVO_ROOT:?}" "${BUILD:?}"

ORVO_CAPTURE_CATEGORY='{860BB310-5D01-11D0-BD3B-00A0C911CE86}'
ORVO_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
ORVO_PRODUCT_DIR='C:\Program Files\Quenlow\OrvoVistrel'
ORVO_VENDOR="$(sed -n 's/^ORVO_VENDOR_ID:STRING=//p' "$BUILD/x64/CMakeCache.txt" 2>/dev/null)"
: "${ORVO_VENDOR:=0x2D4E}"

rig_now() { date +%s.%N; }
rig_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", (b - a) * 1000 }'; }

# rig_prefix NAME [fresh]: a prefix of our own, with its own server; the
# emulated WinUsb.dll takes the place of the system's (System32 and SysWOW64),
# as the platform's WinUSB does on Windows: nothing of it goes in the product.
rig_prefix() {
  export ORVO_WINEPREFIX="$BUILD/product-prefixes/$1"
  [ "${2:-}" = fresh ] && { rm -rf "$ORVO_WINEPREFIX"; rm -f "$ORVO_WINEPREFIX.lock"; }
  # shellcheck source=/dev/null
  source "$ORVO_ROOT/tests/harness/wine-env.sh"
  orvo_wine_prefix >/dev/null
  orvo_wine_server_start
  cp "$BUILD/x64/bin/WinUsb.dll" "$WINEPREFIX/drive_c/windows/system32/winusb.dll"
  if [ "$ORVO_X86_RUNNABLE" = 1 ] && [ -f "$BUILD/x86/bin/WinUsb.dll" ]; then
    cp "$BUILD/x86/bin/WinUsb.dll" "$WINEPREFIX/drive_c/windows/syswow64/winusb.dll"
  fi
}

rig_wine() { "$ORVO_WINE" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
rig_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Registry lines under KEY (both views) whose key or value names the product.
rig_reg_matches() {
  local view
  for view in 64 32; do
    rig_wine reg query "$1" /s "/reg:$view" |
      awk -v v="$view" '/^HKEY_/ { k = $0; next } tolower(k $0) ~ /orvo|quenlow/ { print v ": " k " | " $0 }'
  done
}

# What the product may leave on the machine: files, its registry keys, the
# capture source's classes and category entries, the service, the programs'
# list, RunOnce values, the camera table.
rig_inventory() {
  local c="$WINEPREFIX/drive_c" view
  (cd "$c" && find "Program Files" "Program Files (x86)" -ipath '*quenlow*' 2>/dev/null | sort)
  for view in 64 32; do
    rig_wine reg query 'HKLM\Software\Quenlow' /s "/reg:$view" | sed "s/^/$view: /"
    # The category's own key stays (the system's devices are listed in it
    # too): its entries count.
    rig_wine reg query "HKLM\\Software\\Classes\\CLSID\\$ORVO_CAPTURE_CATEGORY\\Instance" /s "/reg:$view" |
      grep -E '^HKEY_.*\\Instance\\|REG_' | sed "s/^/$view: category /"
    rig_wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' "/reg:$view" | grep REG_ | sed "s/^/$view: /"
  done
  rig_reg_matches 'HKLM\Software\Classes\CLSID'
  rig_reg_matches "$ORVO_UNINSTALL_KEY"
  rig_wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce' | grep REG_ | sed 's/^/user: /'
  rig_wine reg query 'HKLM\System\CurrentControlSet\Services\OrvoVistrelWatchdog' /s | sed 's/^/service: /'
  rig_wine sc query OrvoVistrelWatchdog | grep -i state | sed 's/^/service: /'
}

# The programs' list as a person sees it: display names of the entries not
# hidden as system components.
rig_programs() {
  rig_wine reg query "$ORVO_UNINSTALL_KEY" /s /reg:64 | awk '
    function emit() { if (name != "" && !hidden) print name }
    /^HKEY_/ { emit(); name = ""; hidden = 0; next }
    $1 == "DisplayName" { name = $0; sub(/^ *DisplayName *REG_SZ */, "", name) }
    $1 == "SystemComponent" && $3 == "0x1" { hidden = 1 }
    END { emit() }'
}

rig_service_state() { rig_wine sc query OrvoVistrelWatchdog | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }

# rig_install MSI: msiexec /i ... /qn; prints the exit code.
rig_install() { rig_wine msiexec /i "$(rig_winpath "$1")" /qn; }

# The shipped uninstaller, run as the programs' list runs it.
rig_uninstall() {
  local command
  command="$(rig_wine reg query "$ORVO_UNINSTALL_KEY\\OrvoVistrel" /v QuietUninstallString /reg:64 |
    sed -n 's/.*REG_SZ *//p')"
  [ -n "$command" ] || { echo "rig: no uninstall entry" >&2; return 1; }
  (cd "$BUILD" && rig_wine "$ORVO_PRODUCT_DIR\\UninstallOrvoVistrel.exe" /Type SilentRemoveShared)
}

# rig_plug FAMILY PID SERIAL PRODUCT: prints the device path.
rig_plug() {
  rig_wine "$BUILD/x64/bin/orvo_usbbus.exe" plug winusb "model=$1" "vid=$ORVO_VENDOR" "pid=$2" "serial=$3" \
    "product=$4" width=640 height=480
}
rig_unplug() { rig_wine "$BUILD/x64/bin/orvo_usbbus.exe" unplug "$1" >/dev/null; }

# rig_vcapture ARCH ARGS...: the installed vcapture of that bitness, run from
# a folder of its own as a video application is.
rig_vcapture() {
  local exe="$ORVO_PRODUCT_DIR\\vcapture.exe"
  [ "$1" = x86 ] && exe="$ORVO_PRODUCT_DIR\\x86\\vcapture.exe"
  shift
  (cd "$BUILD" && rig_wine "$exe" "$@")
}

# rig_wait_listed ARCH NAME present|absent [SECONDS]: polls vcapture list.
rig_wait_listed() {
  local arch="$1" name="$2" want="$3" until=$(( $(date +%s) + ${4:-60} )) found
  while :; do
    found=absent
    rig_vcapture "$arch" list | grep -qF "$name" && found=present
    [ "$found" = "$want" ] && return 0
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep 0.05
  done
}

# rig_agents: the agent processes running (native and 32-bit).
rig_agents() { rig_wine tasklist 2>/dev/null | grep -ci orvovistrelwatchdog || true; }

# A restart of the machine: what was scheduled for it (files in use at the
# removal) is done.
rig_restart() { rig_wine wineboot -r >/dev/null; }

# rig_watch_start FILE / rig_watch_stop: the prefix's processes, when each
# started and ended (process_watch.py), for rig_breakdown.
rig_watch_start() {
  rm -f "$1.stop"
  python3 "$ORVO_ROOT/tests/product/process_watch.py" "$WINEPREFIX" "$1" "$1.stop" &
  RIG_WATCH_PID=$! RIG_WATCH_FILE="$1"
}
rig_watch_stop() { : >"$RIG_WATCH_FILE.stop"; wait "$RIG_WATCH_PID"; rm -f "$RIG_WATCH_FILE.stop"; }

# rig_breakdown FILE T0 T_RETURNED T_LISTED LIST_MS: the road from msiexec /i
# (T0) to a camera in another process's DirectShow list (T_LISTED), phase by
# phase, from the watched processes: the service is the watchdog image
# without arguments, a clean-up run has a stop handle of 0, an agent a
# non-zero one. LIST_MS is the time of one vcapture list.
rig_breakdown() {
  awk -v t0="$2" -v back="$3" -v listed="$4" -v list_ms="$5" '
    function ms(a, b) { return sprintf("%6d ms", (b - a) * 1000) }
    $1 == "start" && /msiexec\.exe \/i/ && !msi { msi = $2 }
    $1 == "start" && /OrvoVistrelWatchdog\.exe$/ && !svc { svc = $2 }
    $1 == "start" && /OrvoVistrelWatchdog\.exe [0-9]+ 0$/ && (!clean0 || $2 < clean0) { clean0 = $2 }
    $1 == "start" && /OrvoVistrelWatchdog\.exe [0-9]+ [1-9][0-9]*$/ {
      if (!agent0 || $2 < agent0) agent0 = $2
      agents++
    }
    END {
      if (!msi || !svc || !clean0 || !agent0) { print "  (some phase was not seen)"; exit }
      printf "  %s  msiexec /i to the service start\n", ms(t0, svc)
      printf "  %s  service start to its clean-up runs\n", ms(svc, clean0)
      printf "  %s  clean-up runs, both bitnesses, to the start of %d agents (the service waits for the runs, at most 10 s)\n", ms(clean0, agent0), agents
      printf "  %s  agents first scan and registration, to the camera in another process list\n", ms(agent0, listed)
      printf "  %6d ms    of that, one vcapture list run (polled every 50 ms)\n", list_ms
      printf "  %s  in all\n", ms(t0, listed)
      printf "  %s  msiexec /i to its own exit: after the service start it waits for its running report (Wine looks once a second)\n", ms(t0, back)
    }' "$1"
}

# rig_wait_agents FILE SECONDS: until the watched processes include an agent.
rig_wait_agents() {
  local until=$(( $(date +%s) + $2 ))
  until grep -qE 'OrvoVistrelWatchdog\.exe [0-9]+ [1-9][0-9]*$' "$1" 2>/dev/null; do
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep 0.02
  done
}

# The kernel-streaming proxy stand-in, a part of the machine the agents feed:
# rig_proxy_up installs it and serves its device nodes (before the product's
# install), rig_proxy_down stops and removes it. Its output goes to FILE.
# rig_proxy_up FILE
rig_proxy_up() {
  local bin="$BUILD/x64/bin"
  rig_wine "$bin/orvo_ksproxy.exe" install "$(rig_winpath "$bin/zelksproxy.sys")" >/dev/null || return 1
  ( rig_wine "$bin/orvo_ksproxy.exe" serve >"$1" 2>&1 ) &
  RIG_PROXY_SERVE=$!
}
rig_proxy_down() {
  rig_wine "$BUILD/x64/bin/orvo_ksproxy.exe" stop-serve >/dev/null
  wait "$RIG_PROXY_SERVE"
  rig_wine "$BUILD/x64/bin/orvo_ksproxy.exe" uninstall >/dev/null
}
# rig_proxy_camera NAME [SECONDS]: prints the proxy's GUID of the camera NAME
# once the agent's feed has published it.
rig_proxy_camera() {
  local until=$(( $(date +%s) + ${2:-30} )) guid
  while :; do
    guid="$(rig_wine "$BUILD/x64/bin/orvo_ksproxy.exe" list | grep -F "$1 Proxy" | grep published | cut -d' ' -f1)"
    [ -n "$guid" ] && { echo "$guid"; return 0; }
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep 0.2
  done
}
# rig_proxy_stream GUID FRAMES DIR: the proxy's own application, frames to PNG.
rig_proxy_stream() { rig_wine "$BUILD/x64/bin/orvo_ksproxy.exe" stream "$1" "$2" --out "$(rig_winpath "$3")"; }

# rig_kill_installer: ends every msiexec process of this prefix at once (as
# a power cut would), by process id; prints how many it ended.
rig_kill_installer() {
  local pid killed=0
  for pid in $(pgrep -f -i msiexec); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    kill -9 "$pid" 2>/dev/null && killed=$((killed + 1))
  done
  echo "$killed"
}

rig_end() { orvo_wine_server_stop; }

# Bookkeeping of the product suites: each check prints ok or FAILED and counts
# failures; rig_report ends a suite with the count.
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
rig_report() { echo "$failures failure(s)"; [ "$failures" -eq 0 ]; }

# After an uninstall: only the running uninstaller (in use during its own
# removal) and its folders may wait for the restart. rig_expect_only_uninstaller_pending BEFORE
rig_expect_only_uninstaller_pending() {
  local pending
  pending="$(diff <(echo "$1") <(rig_inventory) | sed -n 's/^> //p')"
  check "only the running uninstaller waits for the restart" \
    '[ -z "$pending" ] || ! grep -v -E "^Program Files/Quenlow(/OrvoVistrel(/UninstallOrvoVistrel.exe)?)?$" <<<"$pending"'
}

# Whether the inventory equals BEFORE; if not, the difference is shown.
same_inventory() {
  local now
  now="$(rig_inventory)"
  [ "$1" = "$now" ] && return 0
  diff <(echo "$1") <(echo "$now")
  return 1
}

# rig_two_versions STAGE OUT: the packages of the build's version (VERSION)
# from STAGE into OUT/n, and of the next minor version (NEWER, with a product
# code of its own under the same upgrade code) into OUT/n1.
rig_two_versions() {
  local cache="$BUILD/x64/CMakeCache.txt" major minor
  VERSION="$(sed -n 's/^ORVO_PRODUCT_VERSION:STRING=//p' "$cache")"
  IFS=. read -r major minor _ <<<"$VERSION"
  NEWER="$major.$((minor + 1)).0"
  "$ORVO_ROOT/packaging/make-packages.sh" "$1" "$2/n" "$cache" >/dev/null &&
    "$ORVO_ROOT/packaging/make-packages.sh" "$1" "$2/n1" "$cache" "$NEWER" '{6B1D2A40-3C57-4E8B-9F21-0A7C5E3D9B1E}' >/dev/null
}

# The inventory now equals BEFORE, else what is left is shown.
# rig_expect_inventory BEFORE WHAT
rig_expect_inventory() {
  local after
  after="$(rig_inventory)"
  if [ "$1" = "$after" ]; then
    echo "ok: $2"
  else
    echo "FAILED: $2; left behind:"
    diff <(echo "$1") <(echo "$after")
    failures=$((failures + 1))
  fi
}
