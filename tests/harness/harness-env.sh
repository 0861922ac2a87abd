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
    # Xvfb picks a free display number itself and writes it to fd 3 once it listens: several build
    # trees on one machine (each with its own harness) can never end up sharing one display, which the
    # first to finish would take away from the others.
    rm -f "$HARNESS_DIR/display" "$HARNESS_DIR/display.number"
    # fd 9 is closed for Xvfb, or it would hold the lock for as long as it runs.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 < /dev/null 9>&- \
      3>"$HARNESS_DIR/display.number" &
    echo $! > "$HARNESS_DIR/xvfb.pid"
    for _ in $(seq 100); do [ -s "$HARNESS_DIR/display.number" ] && break; sleep 0.1; done
    if [ ! -s "$HARNESS_DIR/display.number" ]; then
      echo "harness: Xvfb did not start a display within 10 s" >&2
      exit 1
    fi
    echo ":$(tr -d '[:space:]' < "$HARNESS_DIR/display.number")" > "$HARNESS_DIR/display"
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
