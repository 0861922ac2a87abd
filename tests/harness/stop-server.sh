#!/usr/bin/env bash
# Stops the harness servers whose process ids the PIDFILEs hold, if they still run, and removes the files.
# Usage: stop-server.sh PIDFILE...
for pidfile in "$@"; do
  [ -f "$pidfile" ] || continue
  kill "$(cat "$pidfile")" 2>/dev/null || true
  rm -f "$pidfile"
done
