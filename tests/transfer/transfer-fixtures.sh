#!/usr/bin/env bash
# The transfer tests' fixtures beside their servers (extra_servers.sh), each in HARNESS_DIR:
#   link-up HARNESS_DIR         transfer-link/tmp-link, a host symbolic link to transfer-link/real-tmp: a
#                               temporary folder reached through a link, which a run must neither use
#                               nor make anything in (the staging and launch tests); and
#                               transfer-link/outside, a folder with files that no clean-up may reach
#   full-disk-up HARNESS_DIR    transfer-full-disk, a 1 MiB file system too small for a package, when the
#                               tests run as root (the download test skips the case otherwise)
#   full-disk-down HARNESS_DIR  unmounts it
#   slow-tls-up HARNESS_DIR PORT   the server that slows one phase of an exchange or says nothing
#                               (tests/harness/slow_tls_server.py), told what to do by slow-tls-mode.json
#   slow-tls-down HARNESS_DIR   stops it
set -euo pipefail
action=$1 harness=$2
here=$(cd "$(dirname "$0")" && pwd)
case $action in
  link-up)
    link=$harness/transfer-link
    rm -rf "$link"
    mkdir -p "$link/real-tmp"
    ln -s "$link/real-tmp" "$link/tmp-link"
    # A folder outside any run, which the staging tests link to from where a clean-up meets the link.
    mkdir -p "$link/outside/sub"
    echo outside > "$link/outside/kept.txt"
    echo outside > "$link/outside/sub/kept.txt"
    ;;
  full-disk-up)
    full=$harness/transfer-full-disk
    mkdir -p "$full"
    if ! mountpoint -q "$full" && [ "$(id -u)" = 0 ]; then
      mount -t tmpfs -o size=1m tmpfs "$full" && touch "$full/mounted" || true
    fi
    ;;
  full-disk-down)
    ! mountpoint -q "$harness/transfer-full-disk" || umount "$harness/transfer-full-disk"
    ;;
  slow-tls-up)
    "$here/../harness/stop-server.sh" "$harness/slow-tls.server.pid"
    rm -f "$harness/slow-tls-mode.json"
    python3 "$here/../harness/slow_tls_server.py" "$3" "$harness/pki/tls-localhost.pem" \
      "$harness/pki/tls-localhost.key" "$harness/slow-tls-mode.json" "$harness/slow-tls.server.pid"
    ;;
  slow-tls-down)
    "$here/../harness/stop-server.sh" "$harness/slow-tls.server.pid"
    ;;
  *) echo "usage: transfer-fixtures.sh link-up|full-disk-up|full-disk-down|slow-tls-up|slow-tls-down HARNESS_DIR [PORT]" >&2
     exit 2 ;;
esac
