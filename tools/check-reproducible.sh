#!/usr/bin/env bash
# Proves the build reproducible: builds the web setup and quillo-release a second time, from a copy of
# the sources in another folder into another build folder, and compares them, and the release records,
# byte for byte with the first build's. Then checks that neither executable names a folder of either
# build, and that a copy of the web setup signed by the test PKI, with its signature removed again, is the
# unsigned file: the check docs/releasing.md tells a third party to make.
# Usage: check-reproducible.sh BUILD_DIR   (the first build, already built; the second goes under it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
first=$(cd "$1" && pwd)
work=$first/reproducible
# Other folder names than the first build's, at both levels, so that a path that leaks shows up.
source_copy=$work/source-copy
second=$work/second-build
rm -rf "$work"
mkdir -p "$source_copy"
# Build folders stay behind, the first one too wherever it is inside the sources (the copy goes there).
excludes=(--exclude=./.git --exclude=./build --exclude='./build-*')
case $first in "$root"/*) excludes+=("--exclude=./${first#"$root"/}") ;; esac
tar -C "$root" "${excludes[@]}" -cf - . | tar -C "$source_copy" -xf -

# The same configuration as the first build, so that only the folders and the time differ.
cache() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }
cmake -S "$source_copy" -B "$second" -DCMAKE_TOOLCHAIN_FILE="$source_copy/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DRELEASE_HOST="$(cache RELEASE_HOST)" \
  -DEXPECTED_PUBLISHER="$(cache EXPECTED_PUBLISHER)" -DALLOW_UNPUBLISHABLE_HOST="$(cache ALLOW_UNPUBLISHABLE_HOST)" \
  -DWEBSETUP_SOURCE_STATE="$(cat "$first/source_state/source-state.txt" | sed 's/ clean$//; s/ dirty$/+dirty/')" \
  -DWEBSETUP_TESTS=OFF >/dev/null
cmake --build "$second" -j"$(nproc)" --target BrimlowAIQuillo-WebSetup quillo-release release_record >/dev/null

status=0
for exe in src/BrimlowAIQuillo-WebSetup.exe release_tool/quillo-release.exe; do
  a=$first/$exe b=$second/$exe
  echo "$(sha256sum "$a" | cut -d' ' -f1)  $a"
  echo "$(sha256sum "$b" | cut -d' ' -f1)  $b"
  if cmp -s "$a" "$b"; then
    echo "identical: $(basename "$exe")"
  else
    echo "DIFFERENT: $(basename "$exe") (first differing bytes below)"; cmp -l "$a" "$b" | head -5 || true; status=1
  fi
  # Both text encodings, since the resources and wide literals are UTF-16.
  for folder in "$root" "$first" "$source_copy" "$second"; do
    if { strings -a "$a"; strings -a -el "$a"; strings -a "$b"; strings -a -el "$b"; } | grep -qF "$folder"; then
      echo "BUILD PATH in $(basename "$exe"): $folder"; status=1
    fi
  done
done

# The release records name no folder and no time, so the two builds write the same one.
record=src/BrimlowAIQuillo-WebSetup.intoto.json
if [ -f "$first/$record" ]; then
  if cmp -s "$first/$record" "$second/$record"; then
    echo "identical: $(basename "$record")"
  else
    echo "DIFFERENT: $(basename "$record")"; diff "$first/$record" "$second/$record" | head -10 || true; status=1
  fi
fi

# A signature removed again gives back the unsigned file, header checksum included.
pki=$work/pki
"$root/tests/harness/make-test-pki.sh" init "$pki" >/dev/null
websetup=$first/src/BrimlowAIQuillo-WebSetup.exe
"$root/tests/harness/sign.sh" "$pki/publisher.pfx" "$websetup" "$work/signed.exe"
osslsigncode remove-signature -in "$work/signed.exe" -out "$work/unsigned-again.exe" >/dev/null
if cmp -s "$work/signed.exe" "$websetup"; then
  echo "SIGNING CHANGED NOTHING"; status=1
elif cmp -s "$work/unsigned-again.exe" "$second/src/BrimlowAIQuillo-WebSetup.exe"; then
  echo "identical: the signed web setup with its signature removed, and the second build"
else
  echo "DIFFERENT: the signed web setup with its signature removed, and the second build"
  cmp -l "$work/unsigned-again.exe" "$second/src/BrimlowAIQuillo-WebSetup.exe" | head -5 || true; status=1
fi
exit $status
