#!/usr/bin/env bash
# Builds the installer and runs it under Wine. Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target BrimlowAIQuillo-WebSetup
set +e
WEBSETUP_XVFB=${WEBSETUP_XVFB:-0} "$root/tools/wine-run.sh" "$root/build" "$root/build/src/BrimlowAIQuillo-WebSetup.exe"
code=$?
set -e
echo "The installer exited with code $code."
source "$root/tools/harness-env.sh" "$root/build"
harness_stop
