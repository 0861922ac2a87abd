#!/usr/bin/env bash
# Runs a test program at a given system DPI, set the way a user's display setting sets it (the
# LogPixels value in the registry), in a Wine prefix of its own: the shared prefix keeps 96 DPI.
# Usage: run_at_dpi.sh BUILD_DIR DPI PROGRAM [ARGS...]
source "$(dirname "$0")/../harness/fail-loudly.sh"
build=$(cd "$1" && pwd)
dpi=$2
shift 2
source "$(dirname "$0")/../harness/harness-env.sh" "$build"
harness_ensure_display
export WINEPREFIX=$HARNESS_DIR/dpi$dpi-prefix
(
  flock 9
  if [ ! -f "$WINEPREFIX/.websetup-ready" ]; then
    wineboot -i >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$WINEPREFIX/.websetup-ready"
  fi
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 9>&-
  harness_window_mode 9>&-
) 9>"$HARNESS_DIR/dpi$dpi.lock"
status=0
WEBSETUP_EXPECTED_DPI=$dpi wine "$@" || status=$?
# This prefix's server is ours alone; the harness stops only the shared one.
wineserver -k 2>/dev/null || true
exit $status
