#!/usr/bin/env bash
# Rehearses a release on this machine before it is published: serves the release folder over HTTPS on
# loopback, with a certificate from a throw-away root, and runs the web setup against it under Wine, in
# a Wine prefix made for this run that trusts that root (and your signing root, if you give one) and
# nothing you did not give it. The web setup and quillo-release are built from these sources for the
# loopback host, with your release build's publisher; the manifest is served with its package URLs moved
# from your release host to the loopback host, and nothing else changed.
#
# Usage: tools/rehearse-release.sh RELEASE_DIR (--build RELEASE_BUILD | --host HOST --publisher NAME)
#                                  [--signing-root CERT] [--tree DIR] [--timeout SECONDS]
#   RELEASE_DIR    the folder you will publish as https://HOST/download/releases/: online-latest.json
#                  and the packages under the manifest's --path
#   --build        your release build tree: its RELEASE_HOST and EXPECTED_PUBLISHER are used
#   --host, --publisher   the same two settings given directly
#   --signing-root the root certificate (PEM or DER) of your code-signing certificate, when Wine does not
#                  already trust it (a private or test root; public roots come from the host's store)
#   --tree         the build tree for the rehearsal (default build-rehearsal beside the sources)
#   --timeout      how long the setup program may run, in seconds (default 300)
# With DISPLAY set, the windows show on your display; otherwise on a private virtual display. The prompt
# is answered "Download and install" either way. Exits 0 when verify passed and the web setup ended
# with exit code 0, 1 when either did not, 2 on a wrong command line; the last line is the verdict,
# REHEARSAL PASSED or REHEARSAL FAILED.
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"
usage() { sed -n '9,22p' "$0" | sed 's/^# \{0,1\}//' >&2; echo "REHEARSAL FAILED: the command line is wrong"; exit 2; }
# A refusal before anything runs: what is wrong and what to do, then the verdict.
refuse() {  # exit-code message
  echo "FAILED: $2"
  echo "REHEARSAL FAILED"
  exit "$1"
}

release_dir= release_build= host= publisher= signing_root= tree= timeout=300
[ $# -ge 1 ] || usage
release_dir=$1
shift
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case $1 in
    --build) release_build=$2 ;;
    --host) host=$2 ;;
    --publisher) publisher=$2 ;;
    --signing-root) signing_root=$2 ;;
    --tree) tree=$2 ;;
    --timeout) timeout=$2 ;;
    *) usage ;;
  esac
  shift 2
done
if [ -n "$release_build" ]; then
  cache=$release_build/CMakeCache.txt
  [ -f "$cache" ] || refuse 2 "--build $release_build has no CMakeCache.txt: give the release build tree you configured with cmake (such as build-release)."
  host=$(sed -n 's/^RELEASE_HOST:[A-Z]*=//p' "$cache")
  publisher=$(sed -n 's/^EXPECTED_PUBLISHER:[A-Z]*=//p' "$cache")
  settings="--build $release_build, whose CMakeCache.txt says RELEASE_HOST=$host"
else
  settings="--host $host"
fi
[ -n "$host" ] && [ -n "$publisher" ] || usage
[ -f "$release_dir/online-latest.json" ] ||
  refuse 2 "$release_dir/online-latest.json does not exist: give the folder you will publish, with online-latest.json at its top."
release_dir=$(cd "$release_dir" && pwd)
if [ -n "$signing_root" ]; then
  [ -f "$signing_root" ] || refuse 2 "--signing-root $signing_root does not exist: give your code-signing certificate's root (PEM or DER)."
  signing_root=$(cd "$(dirname "$signing_root")" && pwd)/$(basename "$signing_root")
fi

source "$(dirname "$0")/prepare-build.sh"
harness=$root/tests/harness
tree=${tree:-$root/build-rehearsal}
mkdir -p "$tree"
tree=$(cd "$tree" && pwd)
# The tree is reconfigured for the loopback host and its prefix is made anew: never do that to a build
# tree of another kind, such as the release build itself.
if [ -f "$tree/CMakeCache.txt" ] && ! grep -q '^RELEASE_HOST:[A-Z]*=localhost:' "$tree/CMakeCache.txt"; then
  refuse 2 "$tree is a build tree for $(sed -n 's/^RELEASE_HOST:[A-Z]*=//p' "$tree/CMakeCache.txt"), not a rehearsal tree: give --tree a folder of its own."
fi
# A host users cannot reach is rehearsed all the same (a dry run), but never published.
host_problem=$(cmake -DHOST="$host" -P "$root/cmake/ReleaseHost.cmake")
if [ -n "$host_problem" ]; then
  echo "WARNING: this release is for RELEASE_HOST $host, which $host_problem: a web setup built for it fails on" \
       "every user's machine. Rehearse it, but publish only a release made with a build configured with" \
       "-DRELEASE_HOST=<the release server's host name>."
fi
if [ "$arch" = i686 ]; then
  echo "Architecture: i686, the published web setup's own."
else
  echo "Architecture: this kernel runs no 32-bit x86 code, so the rehearsal runs an x86_64 build of the same" \
       "sources; the published i686 web setup cannot run on this machine."
fi

# A port of this tree's own, kept from run to run so that the web setup is not rebuilt each time; another
# when something else holds it, on either loopback address.
port_free() {
  python3 - "$1" <<'PY'
import socket, sys
for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    s = socket.socket(family, socket.SOCK_STREAM)
    try:
        s.bind((address, int(sys.argv[1])))
    except OSError:
        sys.exit(1)
    finally:
        s.close()
PY
}
port=$(sed -n 's/^RELEASE_HOST:[A-Z]*=localhost://p' "$tree/CMakeCache.txt" 2>/dev/null || true)
if [ -z "$port" ] || ! port_free "$port"; then
  port=$((20001 + $(echo "$tree" | cksum | cut -d' ' -f1) % 20000 * 2))
  while ! port_free $port; do port=$((port + 2)); done
fi
rehearsal_host=localhost:$port

# The manifest as it will be published, with the release base URL of your host replaced by the loopback
# host's: a manifest whose URLs name another host was made for another build, and is refused here, before
# anything is built.
production_base=https://$host/download/releases/
python3 - "$release_dir/online-latest.json" "$tree/rehearsal-manifest.json" "$production_base" \
  "https://$rehearsal_host/download/releases/" "$settings" "$release_build" <<'PY' || { echo "REHEARSAL FAILED"; exit 1; }
import re, sys
source, target, production, rehearsal, settings, build = sys.argv[1:7]
text = open(source, "rb").read()
found = text.count(('"' + production).encode())
if found != 2:
    hosts = sorted(set(re.findall(rb'"https://([^/"]+)/download/releases/', text)))
    made_for = (" Its package URLs are under https://" + hosts[0].decode(errors="replace") + "/download/releases/."
                if len(hosts) == 1 else "")
    if build:
        step = ("Give --build the release build whose quillo-release made the manifest (quillo-release --version "
                "names its host), or make the manifest again with the quillo-release of " + build + ".")
    else:
        step = ("Give --host the host the manifest was made for, if that is your release server, or make the "
                "manifest again with a quillo-release built for the host you gave.")
    print(f"FAILED: the manifest names {found} package URLs under {production}, not 2, so it was not made for "
          f"the host of {settings}.{made_for} {step}")
    sys.exit(1)
open(target, "wb").write(text.replace(('"' + production).encode(), ('"' + rehearsal).encode()))
PY

echo "Building the web setup and quillo-release for https://$rehearsal_host/ and the publisher \"$publisher\"" \
     "in $tree ..."
configure_build "$tree" "$arch" -DRELEASE_HOST="$rehearsal_host" -DEXPECTED_PUBLISHER="$publisher" -DWEBSETUP_TESTS=ON
cmake --build "$tree" -j"$jobs" --target BrimlowAIQuillo-WebSetup quillo-release trust_root answer_box >"$tree/build.log" 2>&1 ||
  { tail -20 "$tree/build.log"; exit 1; }
installer=$tree/src/BrimlowAIQuillo-WebSetup.exe
tool=$tree/release_tool/quillo-release.exe

work=$tree/rehearsal
source "$harness/loopback-nginx.sh"
stop_loopback_nginx "$work"
rm -rf "$work" "$tree/wineprefix"
mkdir -p "$work/site/download" "$work/logs"
ln -s "$release_dir" "$work/site/download/releases"
mv "$tree/rehearsal-manifest.json" "$work/online-latest.json"

echo "Serving $release_dir as https://$rehearsal_host/download/releases/ (the manifest's URLs moved from" \
     "$production_base to there; nothing else in it changed)."

source "$harness/harness-env.sh" "$tree"
finish() {
  [ -z "${installer_pid:-}" ] || kill "$installer_pid" 2>/dev/null || true
  stop_loopback_nginx "$work"
  harness_stop
}
trap finish EXIT
trap 'exit 130' INT TERM

# A new prefix for every run, so that it trusts exactly the roots given this time.
echo "Wine prefix for this run: $WINEPREFIX"
harness_ensure_prefix
harness_ensure_display
"$harness/make-test-pki.sh" ca "$work/pki" rehearsal-root "Quillo Rehearsal Root (throw-away)"
"$harness/make-test-pki.sh" tls "$work/pki" tls-localhost rehearsal-root localhost
rehearsal_root=$(windows_path "$work/pki/rehearsal-root.der")
wine "$tree/tests/harness/trust_root.exe" "$rehearsal_root"
echo "Trusted in it: the throw-away root of the loopback server's certificate ($work/pki/rehearsal-root.pem)."
if [ -n "$signing_root" ]; then
  openssl x509 -in "$signing_root" -outform DER -out "$work/signing-root.der" 2>/dev/null ||
    openssl x509 -inform DER -in "$signing_root" -outform DER -out "$work/signing-root.der"
  signing_root_der=$(windows_path "$work/signing-root.der")
  wine "$tree/tests/harness/trust_root.exe" "$signing_root_der"
  echo "Trusted in it: your signing root $signing_root ($(openssl x509 -inform DER -in "$work/signing-root.der" \
    -noout -subject))."
fi
start_loopback_nginx "$work" "$port" "$work/pki" tls-localhost \
  "location = /download/releases/online-latest.json { alias $work/online-latest.json; }"

status=0
echo
echo "== quillo-release verify (both packages, as the installer checks them)"
wine "$tool" verify || status=1

echo
echo "== The web setup, prompt answered \"Download and install\""
verify_requests=$(wc -l < "$work/logs/access.log")
program=$(basename "$installer")
wine "$installer" &
installer_pid=$!
wine "$tree/tests/harness/answer_box.exe" "Brimlow AI Quillo Setup" 60000 1001 task "$program" >"$work/prompt.txt" ||
  echo "The prompt did not appear within a minute."
# A failure ends with a message box: its text is kept and the box closed.
wine "$tree/tests/harness/answer_box.exe" "Brimlow AI Quillo" "$((timeout * 1000))" 1 box "$program" \
  >"$work/box.txt" 2>/dev/null </dev/null &
answerer=$!
code=
for _ in $(seq $((timeout * 10))); do
  kill -0 "$installer_pid" 2>/dev/null || { code=0; wait "$installer_pid" || code=$?; break; }
  sleep 0.1
done
kill "$answerer" 2>/dev/null || true
source "$harness/e2e-scenarios.sh"
if [ -z "$code" ]; then
  echo "The web setup was still running after $timeout s: its setup program may be waiting for input" \
       "(set DISPLAY to answer it yourself, or give a longer --timeout)."
  status=1
else
  installer_pid=
  echo "Exit code: $code (${exit_code_names[$code]:-unknown})"
  [ "$code" = 0 ] || status=1
fi
if [ -s "$work/box.txt" ]; then echo "Message box: $(head -1 "$work/box.txt" | tr -d '\r' | sed 's/^text=//')"; fi
echo "Requests it made (status, bytes sent):"
tail -n +"$((verify_requests + 1))" "$work/logs/access.log" | awk '{print "  " $7 " -> " $9 ", " $10 " bytes"}'
if [ "$code" = 0 ]; then
  echo "It downloaded, verified and ran the package; the package's setup program exited with 0."
elif [ "$code" = 10 ]; then
  echo "It verified and ran the package; the package's setup program reported failure (a nonzero exit code)."
fi
if [ $status != 0 ]; then
  echo "REHEARSAL FAILED"
elif [ -n "$host_problem" ]; then
  echo "REHEARSAL PASSED, but do not publish: RELEASE_HOST $host $host_problem"
else
  echo "REHEARSAL PASSED"
fi
exit $status
