#!/usr/bin/env bash
# Builds everything and runs every test: the Windows program and its tests under Wine, and the
# Win32-free manifest code natively (with its fuzz run). Installs what it needs first.
set -euo pipefail
source "$(dirname "$0")/prepare-build.sh"

# The virtual machine's image (tests/harness/guest.sh) needs nothing from the build, and making it
# mostly waits for the network and the disk: it is made while the programs compile, and the CTest
# test that makes it otherwise waits for this one and finds it made.
mkdir -p "$root/build"
setsid "$root/tests/harness/guest.sh" image "$root/build" > "$root/build/guest-image.log" 2>&1 < /dev/null &
guest_image=$!
trap 'kill -- -$guest_image 2>/dev/null || true' EXIT

# The product is 32-bit. Where this machine's kernel runs no 32-bit code, Wine starts only 64-bit
# programs: the tests then run a 64-bit build of the same code, and the 32-bit program is built beside
# it for the checks that read the file.
product_flags=()
if [ "$arch" != i686 ]; then
  echo "This kernel runs no 32-bit x86 code: the tests run a $arch build; the 32-bit program is checked as a file."
  configure_build "$root/build-i686" i686 -DWEBSETUP_TESTS=OFF
  cmake --build "$root/build-i686" -j"$jobs" --target BrimlowAIQuillo-WebSetup quillo-release release_record
  product_flags=(-DWEBSETUP_PRODUCT_BUILD="$root/build-i686")
fi
configure_build "$root/build" "$arch" "${product_flags[@]}"
cmake --build "$root/build" -j"$jobs"
product=$root/build
[ "$arch" = i686 ] || product=$root/build-i686
echo "Web setup SHA-256 (i686): $(sha256sum "$product/src/BrimlowAIQuillo-WebSetup.exe" | cut -d' ' -f1)"

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-native" -j"$jobs"

status=0
(cd "$root/build-native" && ctest --output-on-failure -j"$jobs") || status=1
(cd "$root/build" && ctest --output-on-failure -j"$jobs") || status=1
exit $status
