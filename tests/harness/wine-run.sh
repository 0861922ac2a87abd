#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, never ~/.wine.
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# Creates the prefix on first use and starts a virtual display when none is set.
source "$(dirname "$0")/fail-loudly.sh"
build=$(cd "$1" && pwd)
shift
source "$(dirname "$0")/harness-env.sh" "$build"
harness_ensure_prefix
harness_ensure_display
exec wine "$@"
