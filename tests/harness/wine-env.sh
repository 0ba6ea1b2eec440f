# Sourced by ./run and tests/harness/wine-run.sh: the Wine environment of one
# build tree. Both architectures share the prefix so that x64 and x86
# processes meet in one session, as on 64-bit Windows.
: "${ORVO_ROOT:?ORVO_ROOT must name the project folder}"
export WINEPREFIX="${ORVO_WINEPREFIX:-$ORVO_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Our emulated WinUsb.dll beside the executables replaces Wine's empty stub.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winusb=n}"

# Some kernels run without 32-bit (ia32) support: Wine's 32-bit loader then
# cannot start, and only 64-bit programs run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export ORVO_X86_RUNNABLE=1
  ORVO_WINE=/usr/lib/wine/wine
else
  export ORVO_X86_RUNNABLE=0
  export WINELOADER=/usr/lib/wine/wine64
  ORVO_WINE=/usr/lib/wine/wine64
fi
ORVO_WINESERVER=/usr/lib/wine/wineserver64

# Makes the prefix once (about 10 s and 1.3 GB), with Wine's null graphics
# driver so hidden windows and DIB sections work without a display.
orvo_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.orvo-ready" ]; then
      echo "wine: creating the test prefix $WINEPREFIX"
      rm -rf "$WINEPREFIX"
      "$ORVO_WINE" wineboot -i >/dev/null 2>&1 || true
      "$ORVO_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
      "$ORVO_WINESERVER" -k >/dev/null 2>&1 || true
      "$ORVO_WINESERVER" -w >/dev/null 2>&1 || true
      [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wine: the prefix could not be created" >&2; exit 1; }
      touch "$WINEPREFIX/.orvo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# A persistent server makes each process start in ~50 ms instead of ~550 ms,
# and keeps services alive between processes.
# Wine's own background processes (services, explorer) are started here,
# detached from our output: started by a test, they would inherit its pipe and
# keep CTest waiting for the end of its output.
orvo_wine_server_start() {
  "$ORVO_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$ORVO_WINE" wineboot </dev/null >/dev/null 2>&1 || true
}

orvo_wine_server_stop() {
  "$ORVO_WINESERVER" -k >/dev/null 2>&1 || true
  "$ORVO_WINESERVER" -w >/dev/null 2>&1 || true
}
