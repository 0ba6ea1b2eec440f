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
    sleep 0.2
  done
}

# rig_agents: the agent processes running (native and 32-bit).
rig_agents() { rig_wine tasklist 2>/dev/null | grep -ci orvovistrelwatchdog || true; }

# A restart of the machine: what was scheduled for it (files in use at the
# removal) is done.
rig_restart() { rig_wine wineboot -r >/dev/null; }

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
