#!/usr/bin/env bash
# The test harness's set-up and tear-down for one build tree.
#   harness.sh up BUILD_DIR TRUST_ROOT_EXE [CRL_PORT]
#                                            prefix, display, test PKI, root trusted in the prefix (and
#                                            the user-store root in the user's own Root store only), and
#                                            the PKI's CRLs served on loopback at CRL_PORT (by default the
#                                            port the PKI was made for)
#   harness.sh down BUILD_DIR                stops what "up" and the tests started
source "$(dirname "$0")/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)
action=$1
build=$(cd "$2" && pwd)
source "$here/harness-env.sh" "$build"

case $action in
  up)
    harness_ensure_prefix
    harness_ensure_display
    "$here/make-test-pki.sh" init "$HARNESS_DIR/pki" "${4:-$(cat "$HARNESS_DIR/pki/crl.port")}"
    harness_ensure_crl_server
    root=$(windows_path "$HARNESS_DIR/pki/root.der")
    user_root=$(windows_path "$HARNESS_DIR/pki/user-root.der")
    wine "$3" "$root"
    wine "$3" --current-user "$user_root"
    ;;
  down)
    "$here/stop-server.sh" "$HARNESS_DIR"/*.server.pid
    harness_stop
    ;;
  *) echo "usage: harness.sh up|down BUILD_DIR [TRUST_ROOT_EXE [CRL_PORT]]" >&2; exit 2 ;;
esac
