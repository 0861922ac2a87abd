#!/usr/bin/env bash
# Runs the manifest fuzzer for a given number of seconds (default 600) in a native clang build tree,
# seeded with the texts of the manifest test tables. The corpus grows in BUILD/tests/manifest/fuzz/long.
# Usage: tools/fuzz-manifest.sh [SECONDS] [BUILD_DIR]   (BUILD_DIR defaults to build-native)
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-"$root/build-native"}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build"
fi
cmake --build "$build" --target manifest_fuzzer manifest_fuzz_seeds -j"$(nproc)"
work="$build/tests/manifest/fuzz/long"
mkdir -p "$work/seeds" "$work/corpus"
"$build/tests/manifest/fuzz/manifest_fuzz_seeds" "$work/seeds"
exec "$build/tests/manifest/fuzz/manifest_fuzzer" -max_total_time="$seconds" -max_len=70000 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$work/seeds"
