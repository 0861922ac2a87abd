#!/usr/bin/env bash
# The benchmark command: prints a table and writes it to bench/results.md.
#  - download throughput of a 600 MiB package from a loopback nginx through the installer's own
#    download stage, against native curl | sha256sum and a bare WinHTTP + CNG loop under the same Wine
#  - peak memory (the Wine process's high-water mark) of the stage for a 1 MiB and a 600 MiB package
#  - the time from the download's last byte to the setup program's start for a 600 MiB package (the
#    rename, lock, re-hash, trust check and launch), against WinVerifyTrust alone on the same file
#  - the time from the process start to the prompt on screen
#  - the size of the release executable
# The download stage and the bare loop each run three times, in turn, and the best of three counts:
# the machine is shared, and the best run is the one least disturbed.
# Usage: bench/bench.sh [--download-ratio] [BUILD_DIR]
#   --download-ratio: only the download stage against the bare loop; prints the three runs and the ratio
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"
ratio_only=
if [ "${1:-}" = --download-ratio ]; then ratio_only=1; shift; fi
source "$(dirname "$0")/../tools/prepare-build.sh"
build=${1:-$root/build}
configure_build "$build" "$arch"
if [ -n "$ratio_only" ]; then
  cmake --build "$build" -j"$jobs" --target bench_download trust_root >/dev/null
else
  cmake --build "$build" -j"$jobs" --target BrimlowAIQuillo-WebSetup bench_download websetup-demo fake_setup_x64 \
    fake_setup_x86 trust_root answer_box quillo-release-demo bench_verify >/dev/null
fi
build=$(cd "$build" && pwd)
source "$root/tests/harness/harness-env.sh" "$build"
source "$root/tests/harness/loopback-nginx.sh"
source "$HARNESS_DIR/e2e.env"
"$root/tests/harness/harness.sh" up "$build" "$TRUST_ROOT" "$CRL_PORT" >/dev/null
harness_ensure_display
pki=$HARNESS_DIR/pki
work=$HARNESS_DIR/bench-table
port=$DEMO_PORT
stop_loopback_nginx "$work"
mkdir -p "$work/site/download/releases" "$work/logs"
site=$work/site/download/releases
[ -f "$site/big.bin" ] || head -c $((600 * 1024 * 1024)) /dev/urandom > "$site/big.bin"
[ -f "$site/small.bin" ] || head -c $((1024 * 1024)) /dev/urandom > "$site/small.bin"
start_loopback_nginx "$work" $port "$pki"
trap 'stop_loopback_nginx "$work"' EXIT
base=https://localhost:$port/download/releases
out=$(winepath -w "$work/out.bin")

# Runs the stage under /usr/bin/time and prints "milliseconds peak_kib".
stage() {  # file
  local size sha
  size=$(stat -c %s "$site/$1")
  sha=$(sha256sum "$site/$1" | cut -d' ' -f1)
  /usr/bin/time -f '%M' -o "$work/time.txt" wine "$build/bench/bench_download.exe" stage "$base/$1" "$size" "$sha" "$out" \
    > "$work/ms.txt"
  echo "$(tr -d '\r' < "$work/ms.txt") $(cat "$work/time.txt")"
}

bare() { wine "$build/bench/bench_download.exe" bare "$base/big.bin" "$out" 2>/dev/null | tr -d '\r' || true; }
best() { tr ' ' '\n' <<< "$1" | grep . | sort -n | head -1; }
stage_runs="" bare_runs="" stage_peak=0
for run in 1 2 3; do
  read -r ms peak < <(stage big.bin)
  stage_runs="$stage_runs $ms"
  [ "$peak" -le "$stage_peak" ] || stage_peak=$peak
  bare_runs="$bare_runs $(bare)"
done
stage_ms=$(best "$stage_runs")
bare_ms=$(best "$bare_runs")
download_ratio=$(python3 -c "import sys; print(f'{int(sys.argv[1])/int(sys.argv[2]):.3f}')" "$stage_ms" "$bare_ms")
echo "download stage, 600 MiB, three runs:$stage_runs ms; bare loop:$bare_runs ms;" \
  "best of three: stage / bare = $stage_ms / $bare_ms = $download_ratio"
if [ -n "$ratio_only" ]; then
  exit 0
fi
read -r _ small_peak < <(stage small.bin)
curl_start=$(date +%s%N)
curl -s --cacert "$pki/root.pem" "$base/big.bin" | sha256sum > /dev/null
curl_ms=$(( ($(date +%s%N) - curl_start) / 1000000 ))

# Last byte to the setup program's start. The package is the fake setup program with random bytes
# appended up to just under the 600 MiB limit (the loader ignores them, Authenticode covers them, as
# with an installer's attached payload), signed by the publisher; the release tool writes its manifest.
verify=$site/verify
mkdir -p "$verify"
if [ ! -f "$verify/setup-x64.exe" ]; then
  pad=$(( 600 * 1024 * 1024 - $(stat -c %s "$FAKE_SETUP_X64") - 64 * 1024 ))
  { cat "$FAKE_SETUP_X64"; head -c $pad "$site/big.bin"; } > "$work/unsigned-x64.exe"
  "$root/tests/harness/sign.sh" "$pki/publisher.pfx" "$work/unsigned-x64.exe" "$verify/setup-x64.exe"
  rm -f "$work/unsigned-x64.exe"
fi
"$root/tests/harness/sign.sh" "$pki/publisher.pfx" "$FAKE_SETUP_X86" "$verify/setup-x86.exe"
rm -f "$site/online-latest.json"
(cd "$site" && wine "$RELEASE_TOOL" make --version 2.3.1 --path verify --x64 'verify\setup-x64.exe' \
  --x86 'verify\setup-x86.exe' --out online-latest.json > "$work/release-tool.txt" 2>&1) ||
  echo "the release tool refused the benchmark release: $(tr -d '\r' < "$work/release-tool.txt")" >&2
started_at=$work/setup-started.txt
rm -f "$started_at"
started_at_name=$(windows_path "$started_at")
verify_x64_name=$(windows_path "$verify/setup-x64.exe")
verify_ms="" verify_parts="" trust_ms=""
if read -r total rehash trust launch < <(WEBSETUP_STARTED_AT=$started_at_name \
     wine "$build/bench/bench_verify.exe" run "$started_at_name" 2>"$work/verify.err" | tr -d '\r'); then
  verify_ms=$total
  verify_parts="rename, lock and re-hash $rehash ms; trust check $trust ms; window closed and setup started $launch ms"
else
  echo "the run through the program's stages failed: $(cat "$work/verify.err")" >&2
fi
trust_ms=$(wine "$build/bench/bench_verify.exe" trust "$verify_x64_name" 2>"$work/trust.err" |
           tr -d '\r' || true)
[ -n "$trust_ms" ] || echo "WinVerifyTrust alone failed: $(cat "$work/trust.err")" >&2

stop_loopback_nginx "$work"
trap - EXIT

# Time to the prompt: from the installer's start (stamped by e2e-run.sh) to its task dialog on screen,
# against the demo release; the scenario then declines.
e2e=$HARNESS_DIR/e2e/declined
rm -f "$e2e/started.ns"
"$root/tests/harness/e2e-run.sh" "$build" declined > "$work/declined.txt" 2>&1 &
runner=$!
prompt_ms=""
for _ in $(seq 1200); do
  if [ -f "$e2e/started.ns" ] &&
     xwininfo -root -tree 2>/dev/null | grep -q '"Brimlow AI Quillo Setup": ("websetup-demo.exe"'; then
    prompt_ms=$(( ($(date +%s%N) - $(cat "$e2e/started.ns")) / 1000000 ))
    break
  fi
  sleep 0.05
done
wait $runner || true

mib=600
ratio() { python3 -c "import sys; a, b = sys.argv[1:3]; print(f'{float(a)/float(b):.2f}' if a and b else 'n/a')" "${1:-}" "${2:-}"; }
size=$(stat -c %s "$build/src/BrimlowAIQuillo-WebSetup.exe")
table="| Measure | Value |
|---|---|
| installer's download stage, 600 MiB, best of three | $stage_ms ms ($(python3 -c "print(f'{$mib/($stage_ms/1000):.1f}')") MiB/s) |
| bare WinHTTP + CNG + WriteFile loop, same Wine, best of three | $bare_ms ms (stage / bare = $download_ratio) |
| native curl piped through sha256sum | $curl_ms ms (stage / curl = $(ratio $stage_ms $curl_ms)) |
| peak memory of the stage's process, 1 MiB package | $small_peak KiB |
| peak memory of the stage's process, 600 MiB package (highest of the three) | $stage_peak KiB |
| 600 MiB package: download's last byte to the setup program's start ($verify_parts) | ${verify_ms:-not measured} ms |
| WinVerifyTrust alone on the same 600 MiB file, same Wine | ${trust_ms:-not measured} ms (last byte to start / WinVerifyTrust = $(ratio "$verify_ms" "$trust_ms")) |
| process start to the prompt on screen (manifest fetched and validated on loopback) | ${prompt_ms:-not seen} ms |
| this build's executable ($arch) | $size bytes ($((size / 1024)) KiB) |"
verification_note="How the verification time is measured: bench/bench_verify.exe runs the installer's
driver with the program's own stages against a loopback release whose x64 package is
600 MiB, signed by the test publisher. Only the prompt is answered in code, and the download, the
re-hash under the lock and the trust check are wrapped to read QueryPerformanceCounter when they return;
the setup program reads it first thing in main (tests/e2e/fake_setup.c). The installer executable is
not changed for this. The time runs from the download stage's return (last byte received, hashed and
written) to the setup program's first instruction, so it covers the rename, the lock, the re-hash under
the lock, the trust check, closing the progress window and CreateProcess. WinVerifyTrust alone is the
installer's own call (its verify and close) on the same file, once, right after the run, so the file is
in the page cache for both."
echo "$table"
{ echo "# Benchmark results"; echo; echo "Measured $(date -u +%Y-%m-%d) on $(nproc) cores, Wine $(wine --version)," \
  "load average $(cut -d' ' -f1 /proc/loadavg) at the end: times are only comparable within one quiet run." \
  "Programs built for $arch (tests/harness/wine-arch.sh): where the kernel runs no 32-bit code, the same code" \
  "built for x86_64; the shipped 32-bit executable's size is in the test command's output."
  echo; echo "$table"; echo; echo "$verification_note"; } \
  > "$root/bench/results.md"
