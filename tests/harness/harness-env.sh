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

# Every Wine process of the prefix must see the same display. The first process to open the prefix's
# desktop decides its display driver for every window in the prefix until the desktop closes again:
# measured, a console program started with no DISPLAY while the desktop was closed left another
# program's message box, a moment later, with no driver ("Application tried to create a window, but no
# driver could be loaded"). So once the harness's own display runs, a script that sources this file uses
# it, even one that starts only console programs; with the caller's display, every script uses that.
harness_xvfb_runs() {
  [ -f "$HARNESS_DIR/xvfb.pid" ] && kill -0 "$(cat "$HARNESS_DIR/xvfb.pid")" 2>/dev/null
}
if { [ -z "${DISPLAY:-}" ] || [ "${WEBSETUP_XVFB:-0}" = 1 ]; } && [ -s "$HARNESS_DIR/display" ] && harness_xvfb_runs; then
  export DISPLAY
  DISPLAY=$(cat "$HARNESS_DIR/display")
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

# The harness's own display runs no window manager. Wine's X11 driver would still treat every window
# with a caption as managed and, at each hide or destroy, wait up to 2 s for a window manager to say it
# has withdrawn it ("wait_for_withdrawn_state ... wait timed out"): a destroyed window would hold its
# thread for 2 s, which no Windows desktop does. So on that display Wine manages the windows itself; on
# the caller's display (a person's desktop, with a window manager) it leaves them to it. The setting
# belongs to the prefix and is written only when it changes.
harness_window_mode() {
  [ -f "$WINEPREFIX/.websetup-ready" ] || return 0
  local managed=Y
  if [ -z "${HARNESS_CALLER_DISPLAY:-}" ]; then managed=N; fi
  [ "$(cat "$WINEPREFIX/.websetup-managed" 2>/dev/null)" = $managed ] && return 0
  WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d $managed /f >/dev/null 2>&1
  echo $managed > "$WINEPREFIX/.websetup-managed"
}

# Uses the caller's display when there is one (unless WEBSETUP_XVFB=1); else one Xvfb per build tree.
harness_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${WEBSETUP_XVFB:-0}" != 1 ]; then
    # A display this harness started, handed down by a script that called this before, is still ours.
    [ "$DISPLAY" = "$(cat "$HARNESS_DIR/display" 2>/dev/null)" ] || HARNESS_CALLER_DISPLAY=1
    harness_window_mode
    return 0
  fi
  (
    flock 9
    if harness_xvfb_runs; then
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
  harness_window_mode
}

# Serves the test PKI's CRLs (HARNESS_DIR/pki/crl) over plain HTTP on loopback, at the port that the
# certificates name (HARNESS_DIR/pki/crl.port), with nginx: the guest has it, as this machine does. Every
# signature check reaches it, so it runs for as long as the harness is up; harness_stop ends it.
harness_ensure_crl_server() {
  local port conf=$HARNESS_DIR/crl-server
  port=$(cat "$HARNESS_DIR/pki/crl.port")
  (
    flock 9
    if [ -f "$HARNESS_DIR/crl.server.pid" ] && kill -0 "$(cat "$HARNESS_DIR/crl.server.pid")" 2>/dev/null; then
      exit 0
    fi
    mkdir -p "$conf"
    cat > "$conf/nginx.conf" <<CONF
daemon on;
user root;
worker_processes 1;
pid $HARNESS_DIR/crl.server.pid;
error_log $conf/error.log;
events { worker_connections 64; }
http {
  access_log $conf/access.log;
  client_body_temp_path $conf;
  proxy_temp_path $conf;
  fastcgi_temp_path $conf;
  uwsgi_temp_path $conf;
  scgi_temp_path $conf;
  types { application/pkix-crl crl; }
  server {
    listen 127.0.0.1:$port;
    listen [::1]:$port;
    root $HARNESS_DIR/pki/crl;
  }
}
CONF
    # fd 9 is closed for nginx, or it would hold the lock for as long as it runs.
    nginx -c "$conf/nginx.conf" 9>&-
    for _ in $(seq 50); do [ -s "$HARNESS_DIR/crl.server.pid" ] && break; sleep 0.1; done
  ) 9>"$HARNESS_DIR/crl-server.lock"
}

# Wine 8 keeps each certificate's revocation status in a file of the prefix's CryptnetUrlCache and
# writes a revoked certificate's there as "not revoked", which later checks then read until the CRL's
# next update. A test of a revoked certificate first removes those files (and only those).
harness_forget_revocation_status() {
  local cache
  for cache in "$WINEPREFIX"/drive_c/users/*/AppData/LocalLow/Microsoft/CryptnetUrlCache/Content; do
    [ -d "$cache" ] || continue
    { grep -lr --null '^Wine cached revocation' "$cache" 2>/dev/null || true; } | xargs -0r rm -f
  done
}

harness_stop() {
  "$(dirname "${BASH_SOURCE[0]}")/stop-server.sh" "$HARNESS_DIR/crl.server.pid"
  wineserver -k 2>/dev/null || true
  if [ -f "$HARNESS_DIR/xvfb.pid" ]; then
    kill "$(cat "$HARNESS_DIR/xvfb.pid")" 2>/dev/null || true
    rm -f "$HARNESS_DIR/xvfb.pid"
  fi
}
