# Sourced by the harness scripts: the environment of the build tree's Wine prefix and display.
# Usage: source harness-env.sh BUILD_DIR
HARNESS_BUILD=$1
HARNESS_DIR=$HARNESS_BUILD/harness
mkdir -p "$HARNESS_DIR"
export WINEPREFIX=$HARNESS_BUILD/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
# Skips the Mono and Gecko installers that a new prefix would otherwise offer.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Where the kernel runs no 32-bit code, every wine command goes to Wine's 64-bit loader.
if [ "$("$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh")" = x86_64 ]; then
  case ":$PATH:" in *":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:"*) ;;
    *) export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH" ;; esac
fi

harness_ensure_prefix() {
  [ -f "$WINEPREFIX/.websetup-ready" ] && return 0
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.websetup-ready" ]; then
      WINEDEBUG=-all wineboot -i >/dev/null 2>&1 9>&-
      wineserver -w 9>&-
      touch "$WINEPREFIX/.websetup-ready"
    fi
  ) 9>"$HARNESS_DIR/prefix.lock"
}

# Uses the caller's display when there is one (unless WEBSETUP_XVFB=1); else one Xvfb per build tree.
harness_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${WEBSETUP_XVFB:-0}" != 1 ]; then
    return 0
  fi
  (
    flock 9
    if [ -f "$HARNESS_DIR/xvfb.pid" ] && kill -0 "$(cat "$HARNESS_DIR/xvfb.pid")" 2>/dev/null; then
      exit 0
    fi
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    # fd 9 is closed for Xvfb, or it would hold the lock for as long as it runs.
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 < /dev/null 9>&- &
    echo $! > "$HARNESS_DIR/xvfb.pid"
    echo ":$n" > "$HARNESS_DIR/display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  ) 9>"$HARNESS_DIR/display.lock"
  export DISPLAY
  DISPLAY=$(cat "$HARNESS_DIR/display")
}

harness_stop() {
  wineserver -k 2>/dev/null || true
  if [ -f "$HARNESS_DIR/xvfb.pid" ]; then
    kill "$(cat "$HARNESS_DIR/xvfb.pid")" 2>/dev/null || true
    rm -f "$HARNESS_DIR/xvfb.pid"
  fi
}
