#!/usr/bin/env bash
# Builds everything and runs every test: the Windows program and its tests under Wine, and the
# Win32-free manifest code natively (with its fuzz run). Installs what it needs first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
jobs=$(nproc)

cmake -S "$root" -B "$root/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$jobs"
echo "Web setup SHA-256: $(sha256sum "$root/build/src/BrimlowAIQuillo-WebSetup.exe" | cut -d' ' -f1)"

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-native" -j"$jobs"

status=0
(cd "$root/build-native" && ctest --output-on-failure -j"$jobs") || status=1
(cd "$root/build" && ctest --output-on-failure -j"$jobs") || status=1
exit $status
