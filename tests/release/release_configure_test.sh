#!/usr/bin/env bash
# A release build for a host users cannot reach is stopped while it is configured, with a message that
# names RELEASE_HOST and the option that allows it on purpose; and the host rule itself, over the table
# the release tool's own test reads too.
# Usage: release_configure_test.sh SOURCE_DIR WORK_DIR ARCH
source "$(dirname "$0")/../harness/fail-loudly.sh"
source_dir=$1 work=$2 arch=$3
status=0

while IFS='|' read -r host expected; do
  case $host in '#'*) continue ;; esac
  found=$(cmake -DHOST="$host" -P "$source_dir/cmake/ReleaseHost.cmake")
  [ "${found:-ok}" = "$expected" ] || { echo "FAILED: host \"$host\": expected \"$expected\", found \"$found\""; status=1; }
done < "$source_dir/tests/release/release_hosts.txt"

for case in "default|" "empty|-DRELEASE_HOST="; do
  name=${case%%|*} option=${case#*|}
  tree=$work/configure-$name
  rm -rf "$tree"
  out=$(cmake -S "$source_dir" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-$arch.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DWEBSETUP_TESTS=OFF $option 2>&1) && { echo "FAILED: the $name host configured"; status=1; }
  out=$(printf '%s' "$out" | tr -s ' \n' ' ')
  echo "$out" | grep -o 'CMake Error.*' | head -c 600; echo
  if [ "$name" = default ]; then
    want="RELEASE_HOST releases.brimlow.example is under .example, a name reserved for examples and tests that never resolves, so a web setup built for it would fail on every user's machine."
  else
    want="RELEASE_HOST is empty, so a web setup built for it would fail on every user's machine."
  fi
  for part in "$want" "-DRELEASE_HOST=<the release server's host name>" "-DALLOW_UNPUBLISHABLE_HOST=ON"; do
    echo "$out" | grep -qF -- "$part" || { echo "FAILED: the $name host's message lacks \"$part\""; status=1; }
  done
  [ ! -f "$tree/Makefile" ] || { echo "FAILED: the $name host's configuring generated a build"; status=1; }
  rm -rf "$tree"
done
exit $status
