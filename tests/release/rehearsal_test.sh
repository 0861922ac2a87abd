#!/usr/bin/env bash
# The rehearsal command on a good release made for a host that does not exist (releases.rehearsal.test):
# it must serve it on loopback, verify both packages, run the web setup to exit code 0 and say so, and say
# that such a host is not for publishing; and it must refuse a release folder whose manifest was made for
# another host before anything runs, naming what to change, with its verdict line.
# Usage: rehearsal_test.sh BUILD_DIR RELEASE_TOOL_EXE (the tool built for releases.rehearsal.test)
source "$(dirname "$0")/../harness/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
tool=$2
source "$root/tests/harness/harness-env.sh" "$build"
harness_ensure_display
source "$HARNESS_DIR/e2e.env"
host=releases.rehearsal.test
publisher="BRIMLOW AI LABS PRIVATE LIMITED"
release=$HARNESS_DIR/rehearsal-release
rm -rf "$release"
mkdir -p "$release/2.3.1"
for flavour in x64 x86; do
  eval source_exe=\$FAKE_SETUP_${flavour^^}
  "$root/tests/harness/sign.sh" "$HARNESS_DIR/pki/publisher.pfx" "$source_exe" "$release/2.3.1/setup-$flavour.exe"
done
(cd "$release" && wine "$tool" make --version 2.3.1 --path 2.3.1 --x64 2.3.1/setup-x64.exe \
  --x86 2.3.1/setup-x86.exe --out online-latest.json >/dev/null)

status=0
out=$build/rehearsal-test.txt
"$root/tools/rehearse-release.sh" "$release" --host "$host" --publisher "$publisher" \
  --signing-root "$HARNESS_DIR/pki/root.pem" --tree "$build/rehearsal-tree" >"$out" 2>&1 || status=$?
cat "$out"
[ $status = 0 ] || { echo "FAILED: the rehearsal of a good release ended with $status"; exit 1; }
for line in "Architecture: " "Serving $release as https://localhost:" "x64: OK: " "x86: OK: " \
            "2 of 2 packages OK: the release is live" \
            "WARNING: this release is for RELEASE_HOST $host, which is under .test, a name reserved for examples and tests that never resolves" \
            "Exit code: 0 (Success)" "/download/releases/2.3.1/setup-x64.exe -> 200" "the package's setup program exited with 0"; do
  grep -qF -- "$line" "$out" || { echo "FAILED: the report lacks \"$line\""; status=1; }
done
[ "$(tail -1 "$out")" = "REHEARSAL PASSED, but do not publish: RELEASE_HOST $host is under .test, a name reserved for examples and tests that never resolves" ] ||
  { echo "FAILED: the verdict line is not the one for a host users cannot reach"; status=1; }

# The same folder rehearsed as the release of another host, given directly or by a build tree: refused
# before anything is built, served or run, naming the host the manifest was made for and what to change.
other=$build/rehearsal-other-build
mkdir -p "$other"
printf 'RELEASE_HOST:STRING=releases.elsewhere.test\nEXPECTED_PUBLISHER:STRING=%s\n' "$publisher" > "$other/CMakeCache.txt"
for given in host build; do
  if [ $given = host ]; then
    args=(--host releases.elsewhere.test --publisher "$publisher")
    step="Give --host the host the manifest was made for"
  else
    args=(--build "$other")
    step="Give --build the release build whose quillo-release made the manifest"
  fi
  "$root/tools/rehearse-release.sh" "$release" "${args[@]}" --tree "$build/rehearsal-tree" >"$out" 2>&1 &&
    { echo "FAILED: a release of another host passed"; status=1; }
  cat "$out"
  for line in "FAILED: the manifest names 0 package URLs under https://releases.elsewhere.test/download/releases/, not 2" \
              "Its package URLs are under https://$host/download/releases/." "$step"; do
    grep -qF -- "$line" "$out" || { echo "FAILED: the refusal with ${args[0]} lacks \"$line\""; status=1; }
  done
  [ "$(tail -1 "$out")" = "REHEARSAL FAILED" ] || { echo "FAILED: the refusal ends without its verdict line"; status=1; }
  ! grep -qF -e "== The web setup" -e "Building the web setup" "$out" ||
    { echo "FAILED: the rehearsal went on for a release of another host"; status=1; }
done
exit $status
