#!/usr/bin/env bash
# Builds a complete local release (two signed setup programs, the manifest, nginx serving them over
# HTTPS on loopback) and runs the real installer against it under Wine.
# Usage: e2e-run.sh BUILD_DIR SCENARIO [--interactive]
#        e2e-run.sh BUILD_DIR SCENARIO --release-only DIR PACKAGE RELEASE_TOOL
#   SCENARIO: one of those listed, with the exit code it must end with, in e2e-scenarios.sh
#   --interactive: the user answers the prompt on their own display; otherwise it is accepted here.
#   WEBSETUP_SCREENSHOTS=DIR (not interactive): the packages are served slowly, and the prompt and the
#   progress window in mid-download are saved as DIR/prompt.png and DIR/progress.png.
#   --release-only: makes only the scenario's release, in DIR/site, for a prefix that downloads PACKAGE
#   (x64 or x86), its manifest written by RELEASE_TOOL; a run whose e2e.env names PREPARED_RELEASES
#   serves the one made there for it instead (guest.sh makes them here and runs them in its guest).
# Prints what happened and exits 0 when the outcome is the one the scenario expects.
source "$(dirname "$0")/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
scenario=$2
interactive=${3:-}
source "$here/harness-env.sh" "$build"
source "$here/loopback-nginx.sh"
source "$HARNESS_DIR/e2e.env"
source "$here/e2e-scenarios.sh"
expected_name=$(awk -v s="$scenario" '$1 == s {print $2}' <<< "$e2e_scenarios")
expected=
for code in "${!exit_code_names[@]}"; do
  [ "${exit_code_names[$code]}" != "$expected_name" ] || expected=$code
done
[ -n "$expected" ] || { echo "unknown scenario: $scenario" >&2; exit 2; }
release_only=
if [ "$interactive" = --release-only ]; then
  release_only=$4 package=$5 RELEASE_TOOL=$6
  interactive=
else
  # The package the installer must pick here: x86 in a 32-bit prefix, x64 in a 64-bit one.
  package=x64
  grep -qx '#arch=win32' "$WINEPREFIX/system.reg" 2>/dev/null && package=x86
fi

# Per scenario: the setup program's exit code, the expected box text, whether the setup program runs,
# the prompt's answer (1001 install, 2 cancel) and what is done to the release (a signer, digest or size
# is the one of the package this prefix downloads).
setup_exit=0 box="" ran=1 answer=1001 published=true sha="" size_delta=0 signer=publisher
manifest_edit="" serve=1 prompt=1 cert=${RELEASE_CERT:-tls-localhost} nginx_extra="" mid_download="" version=2.3.1
user_wintrust_state=
# The packages served at 16 KiB/s, so that a download is still under way seconds after it starts.
slowly="location /download/releases/$version/ { limit_rate 16k; }"
case $scenario in
  success) ;;
  installer-fails) setup_exit=1 ;;
  declined) answer=2 ran=0 ;;
  unpublished) published=false ran=0 box="The signed online release is not available yet. Please try again later." ;;
  wrong-digest) sha=0000000000000000000000000000000000000000000000000000000000000000 ran=0
    box="Security check failed: the installer SHA-256 does not match." ;;
  short-body) size_delta=1 ran=0
    box="The downloaded installer size does not match the signed release metadata." ;;
  unsigned) signer=none ran=0
    box="Security check failed: the downloaded installer does not have a valid trusted Authenticode signature." ;;
  other-signer) signer=other ran=0
    box="Security check failed: the installer publisher does not match Brimlow AI Labs." ;;
  # The setup program leaves a child running from its own image, so the file cannot be deleted yet:
  # it must be scheduled for deletion at the next restart instead of staying for good.
  lingering-child) export WEBSETUP_LINGER=8000 ;;
  invalid-manifest) manifest_edit=schema ran=0 prompt=0 box="Release metadata failed strict security validation." ;;
  manifest-missing) manifest_edit=remove ran=0 prompt=0
    box="The download server returned an unexpected response." ;;
  server-down) serve=0 ran=0 prompt=0
    box="The secure download request failed. Check the internet connection and try again." ;;
  oversized-manifest) manifest_edit=pad ran=0 prompt=0 box="The release information is unexpectedly large." ;;
  long-body) size_delta=-1 ran=0
    box="The server sent more data than the release metadata allows." ;;
  # A build whose publisher is still the placeholder: the warning, and not one request to the server.
  unconfigured) INSTALLER=$UNCONFIGURED_INSTALLER ran=0 prompt=0
    box="This preview online installer is not publishable yet because the Certum publisher certificate has not been configured." ;;
  not-a-program) signer=dll ran=0 box="The verified installer could not be started." ;;
  # Redirects are never followed: the manifest moved elsewhere is an unexpected response.
  moved-manifest) ran=0 prompt=0 box="The download server returned an unexpected response."
    nginx_extra="location = /download/releases/online-latest.json { return 301 /download/releases/$version/online-latest.json; }" ;;
  # A certificate for localhost from a CA the machine does not trust.
  untrusted-server) cert=e2e-untrusted ran=0 prompt=0
    box="The secure download request failed. Check the internet connection and try again." ;;
  # A certificate for localhost under a root that only the user's own Root store holds (harness.sh put
  # it there, as any process of the user can): WinHTTP takes it, the machine's chain does not.
  user-root-server) cert=tls-user-root ran=0 prompt=0
    box="The secure download request failed. Check the internet connection and try again." ;;
  # The package signed in the publisher's name under that root, or under a root nobody trusts.
  user-root-signer) signer=user-root ran=0
    box="Security check failed: the downloaded installer does not have a valid trusted Authenticode signature." ;;
  stranger-signer) signer=stranger ran=0
    box="Security check failed: the downloaded installer does not have a valid trusted Authenticode signature." ;;
  # The package signed by the publisher's certificate that the root's CRL (on loopback) revokes.
  revoked-signer) signer=revoked ran=0
    box="Security check failed: the downloaded installer does not have a valid trusted Authenticode signature." ;;
  # The package signed, with no timestamp, by the publisher's certificate that expired yesterday, while
  # the user's WinTrust policy flags say to overlook expiry and revocation, as any process of the user
  # can set them: they change nothing.
  expired-signer) signer=expired ran=0 user_wintrust_state=0x23f00
    box="Security check failed: the downloaded installer does not have a valid trusted Authenticode signature." ;;
  # A certificate for localhost under the trusted root that the root's CRL revokes.
  revoked-server) cert=tls-revoked ran=0 prompt=0
    box="The secure download request failed. Check the internet connection and try again." ;;
  # The server's worker dies while the package is on its way. Its socket is closed, not reset, so the
  # body just ends early and the download comes out short (a reset is the transfer tests' case).
  cut-download) nginx_extra=$slowly mid_download=cut ran=0
    box="The downloaded installer size does not match the signed release metadata." ;;
  cancel-download) nginx_extra=$slowly mid_download=cancel ran=0 box="Download cancelled." ;;
  # At 8 KiB/s, where one 64 KiB block takes 8 s: another process asks the window for a reply every
  # 100 ms and, after 12 s, clicks Cancel. Every reply must come within a second, and the box within two
  # seconds of the click.
  slow-link-cancel) nginx_extra="location /download/releases/$version/ { limit_rate 8k; }" mid_download=watch ran=0
    box="Download cancelled." ;;
  *) echo "unknown scenario: $scenario" >&2; exit 2 ;;
esac
shots=
if [ -n "${WEBSETUP_SCREENSHOTS:-}" ] && [ "$interactive" != --interactive ]; then
  shots=$WEBSETUP_SCREENSHOTS
  mkdir -p "$shots"
  # About eight seconds for the 230 KiB package: long enough to catch the window, short for a demo.
  [ -n "$nginx_extra" ] || nginx_extra="location /download/releases/$version/ { limit_rate 32k; }"
fi

# The guest's e2e.env names no CRL port: its PKI, made here, names the one its certificates use.
"$here/harness.sh" up "$build" "$TRUST_ROOT" ${CRL_PORT:-} >/dev/null
harness_ensure_display
pki=$HARNESS_DIR/pki
work=${release_only:-$HARNESS_DIR/e2e/$scenario}
# A server left by an interrupted earlier run would hold the port.
stop_loopback_nginx "$work"
rm -rf "$work"
release=$work/site/download/releases
mkdir -p "$release/$version" "$work/logs"

if [ -n "${PREPARED_RELEASES:-}" ]; then
  cp -r "$PREPARED_RELEASES/$scenario/site" "$work/"
else
  # The release: both setup programs signed by the publisher's code-signing certificate.
  "$here/make-test-pki.sh" codesign "$pki" other-signer root "OTHER SOFTWARE PUBLISHER LIMITED"
  "$here/make-test-pki.sh" ca "$pki" e2e-other-ca "E2E Untrusted Test CA"
  "$here/make-test-pki.sh" codesign "$pki" stranger-signer e2e-other-ca "BRIMLOW AI LABS PRIVATE LIMITED"
  for flavour in x64 x86; do
    eval source_exe=\$FAKE_SETUP_${flavour^^}
    flavour_signer=publisher
    [ $flavour = "$package" ] && flavour_signer=$signer
    case $flavour_signer in
      none) cp "$source_exe" "$release/$version/setup-$flavour.exe" ;;
      dll) source_exe=$SIGNED_DLL_SOURCE pfx=$pki/publisher.pfx ;;
      other) pfx=$pki/other-signer.pfx ;;
      user-root) pfx=$pki/publisher-user-root.pfx ;;
      stranger) pfx=$pki/stranger-signer.pfx ;;
      revoked) pfx=$pki/publisher-revoked.pfx ;;
      expired) pfx=$pki/publisher-expired.pfx ;;
      *) pfx=$pki/publisher.pfx ;;
    esac
    [ $flavour_signer = none ] || "$here/sign.sh" "$pfx" "$source_exe" "$release/$version/setup-$flavour.exe"
  done
  # The manifest, written by the release tool (which also refuses packages the installer would refuse:
  # scenarios that serve such packages on purpose tell it to skip that check), then altered where a
  # scenario needs a manifest the tool would never write.
  tool_flags=()
  [ "$published" = true ] || tool_flags+=(--unpublished)
  [ "$signer" = publisher ] || tool_flags+=(--skip-signature-check)
  (cd "$release" && wine "$RELEASE_TOOL" make --version "$version" --path "$version" \
    --x64 "$version\\setup-x64.exe" --x86 "$version\\setup-x86.exe" --out online-latest.json "${tool_flags[@]}" \
    > "$work/release-tool.txt" 2>&1) || { echo "the release tool refused the release:"; cat "$work/release-tool.txt"; exit 1; }
  python3 - "$release/online-latest.json" "$package" "$sha" "$size_delta" "$manifest_edit" <<'PY'
import json, os, sys
path, package, sha, delta, edit = sys.argv[1:6]
manifest = json.load(open(path, encoding="utf-8"))
if sha:
    manifest[package]["sha256"] = sha
manifest[package]["size"] += int(delta)
if edit == "schema":
    manifest["schemaVersion"] = 2
text = json.dumps(manifest, indent=2)
if edit == "pad":
    text += " " * (65537 - len(text))
if edit == "remove":
    os.remove(path)
elif sha or delta != "0" or edit:
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
PY
fi
[ -z "$release_only" ] || exit 0

# Wine writes a revoked certificate's status to its cache as "not revoked" (harness-env.sh).
harness_forget_revocation_status
# nginx on loopback only, with the test PKI's certificate for the release host (localhost here).
if [ $cert = e2e-untrusted ]; then
  "$here/make-test-pki.sh" tls "$pki" e2e-untrusted e2e-other-ca localhost
fi
[ $serve = 0 ] || start_loopback_nginx "$work" $DEMO_PORT "$pki" $cert "$nginx_extra"
wintrust_key='HKCU\Software\Microsoft\Windows\CurrentVersion\WinTrust\Trust Providers\Software Publishing'
installer=
stop_all() {
  [ -z "$installer" ] || kill "$installer" 2>/dev/null || true
  stop_loopback_nginx "$work"
  # The prefix's own value (Wine's default, 0x23c00) is put back; where there was none, none is left.
  if [ -n "$user_wintrust_state" ] && [ -n "${wintrust_before:-}" ]; then
    wine reg add "$wintrust_key" /v State /t REG_DWORD /d "${wintrust_before:-}" /f >/dev/null 2>&1 || true
  elif [ -n "$user_wintrust_state" ]; then
    wine reg delete "$wintrust_key" /v State /f >/dev/null 2>&1 || true
  fi
}
trap stop_all EXIT
trap 'exit 130' INT TERM
wintrust_before=
if [ -n "$user_wintrust_state" ]; then
  wintrust_before=$(wine reg query "$wintrust_key" /v State 2>/dev/null | tr -d '\r' |
                    awk '$1 == "State" {print $3}' || true)
  wine reg add "$wintrust_key" /v State /t REG_DWORD /d "$user_wintrust_state" /f >/dev/null 2>&1
fi

# The run happens in the machine's temporary folder; the user's own is never used.
staging=$WINEPREFIX/drive_c/windows/temp
user_temp=$WINEPREFIX/drive_c/users/$(id -un)/Temp
run_folders() { ls "$staging" 2>/dev/null | grep '^BrimlowAIQuillo-' | sort || true; }
before=$(run_folders)
user_before=$(ls -A "$user_temp" 2>/dev/null | sort || true)
marker=$work/setup-ran.txt

export WEBSETUP_MARKER
WEBSETUP_MARKER=$(windows_path "$marker")
export WEBSETUP_SETUP_EXIT=$setup_exit
# Saves the installer's window with that caption, as it is on the display, to a PNG file.
screenshot() {  # caption file
  local id="" candidate geometry
  # As long as answer_box waits for the same window: a minute.
  for _ in $(seq 1200); do
    # Wine may keep an unmapped X window of a closed one with the same caption: only a viewable one counts.
    for candidate in $(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\": (\"$(basename "$INSTALLER")\"" |
                       awk '{print $1}'); do
      xwininfo -id "$candidate" 2>/dev/null | grep -q 'Map State: IsViewable' && id=$candidate && break
    done
    [ -z "$id" ] || break
    sleep 0.05
  done
  [ -n "$id" ] || { echo "no window \"$1\" to take a picture of" >&2; return 0; }
  sleep 0.7  # lets the window finish painting
  geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                                       /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w "x" h "+" x "+" y}')
  import -window root -crop "$geometry" +repage -strip "$2"
}

date +%s%N > "$work/started.ns"
# A PATH entry of the user's own, which the setup program must not get.
WINEPATH='C:\users\planted-by-the-user' wine "$INSTALLER" &
installer=$!
if [ "$interactive" != --interactive ]; then
  [ -z "$shots" ] || [ $prompt = 0 ] || screenshot "Brimlow AI Quillo Setup" "$shots/prompt.png"
  [ "$expected" = 5 ] || [ $prompt = 0 ] || wine "$ANSWER_BOX" "Brimlow AI Quillo Setup" 60000 "$answer" task "$(basename "$INSTALLER")" >"$work/prompt.txt" ||
    echo "the prompt did not appear" >&2
  # A failure ends with a message box: answer it so the run can end, and keep its text.
  # Started directly, with no output left on the caller's pipes, so that it can be ended once the
  # installer has exited without a box.
  wine "$ANSWER_BOX" "Brimlow AI Quillo" 120000 1 box "$(basename "$INSTALLER")" >"$work/box.txt" 2>/dev/null \
    </dev/null &
  answerer=$!
  # Once the progress bar has moved: Cancel clicked in the window, or the server's worker killed.
  if [ "$mid_download" = watch ]; then
    wine "$ANSWER_BOX" "Brimlow AI Quillo Setup" 90000 2002 watch "$(basename "$INSTALLER")" 12000 \
      >"$work/watch.txt" || echo "the progress window was not seen, or no box followed the click" >&2
  elif [ -n "$mid_download" ]; then
    button=0
    [ $mid_download = cancel ] && button=2002
    wine "$ANSWER_BOX" "Brimlow AI Quillo Setup" 60000 $button progress "$(basename "$INSTALLER")" \
      >"$work/progress.txt" || echo "the download did not get under way" >&2
    [ $mid_download = cut ] && pkill -KILL -P "$(cat "$work/nginx.pid")" nginx
  fi
  if [ -n "$shots" ] && [ $ran = 1 ]; then
    wine "$ANSWER_BOX" "Brimlow AI Quillo Setup" 60000 0 progress "$(basename "$INSTALLER")" >/dev/null ||
      echo "the download did not get under way" >&2
    screenshot "Brimlow AI Quillo Setup" "$shots/progress.png"
  fi
fi
code=0
wait $installer || code=$?
installer=
[ -n "${answerer:-}" ] && kill $answerer 2>/dev/null || true

after=$(run_folders)
left=$(comm -13 <(echo "$before") <(echo "$after") | grep -v '^$' || true)
user_after=$(ls -A "$user_temp" 2>/dev/null | sort || true)
user_new=$(comm -13 <(echo "$user_before") <(echo "$user_after") | grep -v '^$' || true)

echo "Exit code: $code (${exit_code_names[$code]:-unknown})"
for picture in "$shots"/prompt.png "$shots"/progress.png; do
  [ -z "$shots" ] || [ ! -f "$picture" ] || echo "Screenshot: $picture"
done
echo "Version offered: $version"
if [ -f "$marker" ]; then
  echo "The verified setup program ran: $(grep -E '^(flavour|image)=' "$marker" | tr '\n' ' ')"
  echo "It was verified (size, SHA-256, Authenticode signature of BRIMLOW AI LABS PRIVATE LIMITED) before it ran."
  grep -q 'replace=refused' "$marker" && echo "While it ran, nobody could overwrite or rename its file."
fi
if [ -s "$work/box.txt" ]; then echo "Message box: $(head -1 "$work/box.txt" | sed 's/^text=//')"; fi
# The deletes at the next restart, one path a line.
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
          tr -d '\r' | sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/\n/g' | grep -v '^$' || true)
if [ -n "${WEBSETUP_LINGER:-}" ] && [ -n "$left" ]; then
  for name in $left; do
    if echo "$pending" | grep -qF "$name"; then
      echo "Still in use by the setup program's child: its file in $name is scheduled for deletion at the next restart; the folder stays, protected, for the next run to remove."
      left=$(echo "$left" | grep -vxF "$name" || true)
      scheduled=1
    fi
  done
fi
# Only files inside a run folder are ever scheduled, never a run folder's own name.
bad_pending=$(echo "$pending" | grep -F 'BrimlowAIQuillo-' |
              grep -viE '^\\\?\?\\C:\\windows\\temp\\BrimlowAIQuillo-[0-9A-F]{32}\\.+' || true)
if [ -n "${scheduled:-}" ]; then
  echo "Nothing else of this run is left in the machine's temporary folder."
elif [ -z "$left" ] && ! grep -q 'setup-' "$work/logs/access.log" 2>/dev/null; then
  echo "No package was downloaded, and nothing of this run is in the machine's temporary folder."
elif [ -z "$left" ]; then
  echo "The downloaded file was removed: nothing of this run is left in the machine's temporary folder."
else
  echo "LEFT in the machine's temporary folder: $left"
fi
[ -z "$user_new" ] || echo "MADE in the user's temporary folder: $user_new"
[ -z "$bad_pending" ] || echo "SCHEDULED at the next restart outside a run folder, or a run folder itself: $bad_pending"

status=0
[ "$code" = "$expected" ] || { echo "expected exit code $expected"; status=1; }
[ -z "$left" ] || status=1
[ -z "$user_new" ] || status=1
[ -z "$bad_pending" ] || status=1
if [ -n "${WEBSETUP_LINGER:-}" ] && [ -z "${scheduled:-}" ]; then
  echo "expected the file held by the child to be scheduled for deletion at the next restart"; status=1
fi
if [ $ran = 1 ]; then
  grep -q 'replace=refused' "$marker" 2>/dev/null ||
    { echo "the running setup program's file could be overwritten or renamed"; status=1; }
  [ -f "$marker" ] || { echo "the setup program did not run"; status=1; }
  grep -q "flavour=$package" "$marker" 2>/dev/null || { echo "expected the $package package in this prefix"; status=1; }
  # It runs from its own run folder in the machine's temporary folder, which is also its current
  # directory, never the web setup's.
  image=$(tr -d '\r' < "$marker" | sed -n 's/^image=//p')
  cwd=$(tr -d '\r' < "$marker" | sed -n 's/^cwd=//p')
  [ -n "$image" ] && [ "$cwd" = "${image%\\*}" ] ||
    { echo "the setup program ran in '$cwd', not in its own folder ('${image%\\*}')"; status=1; }
  echo "$cwd" | grep -qiE '^C:\\windows\\temp\\BrimlowAIQuillo-[0-9A-F]{32}$' ||
    { echo "the setup program's folder '$cwd' is not a run folder in C:\\windows\\temp"; status=1; }
  # Its temporary files go into a folder of the run's, and its PATH holds the system's folders only.
  for variable in temp tmp; do
    value=$(tr -d '\r' < "$marker" | sed -n "s/^$variable=//p")
    [ "$value" = "$cwd\\Temp" ] ||
      { echo "the setup program's $variable is '$value', not its run's own '$cwd\\Temp'"; status=1; }
  done
  if tr -d '\r' < "$marker" | grep '^path=' | grep -qiF 'planted-by-the-user'; then
    echo "the setup program's PATH holds the user's entry: $(grep '^path=' "$marker")"; status=1
  fi
else
  [ ! -f "$marker" ] || { echo "the setup program ran, and must not have"; status=1; }
fi
if [ "$answer" = 2 ] && grep -q 'setup-' "$work/logs/access.log" 2>/dev/null; then
  echo "a package was requested after the prompt was declined"; status=1
fi
if [ "$expected" = 2 ] && [ -s "$work/logs/access.log" ]; then
  echo "the unconfigured build reached the server: $(cat "$work/logs/access.log")"; status=1
fi
if [ "$mid_download" = watch ]; then
  longest=$(tr -d '\r' < "$work/watch.txt" | sed -n 's/^longest_reply_ms=//p')
  to_box=$(tr -d '\r' < "$work/watch.txt" | sed -n 's/^click_to_box_ms=//p')
  echo "While the download ran at 8 KiB/s, the window's longest reply took ${longest:-?} ms" \
    "($(tr -d '\r' < "$work/watch.txt" | sed -n 's/^replies=//p') replies); the box came ${to_box:-?} ms after Cancel."
  [ -n "$longest" ] && [ "$longest" -lt 1000 ] || { echo "expected every reply within a second"; status=1; }
  [ -n "$to_box" ] && [ "$to_box" -lt 2000 ] || { echo "expected the box within two seconds of Cancel"; status=1; }
fi
if [ -n "$box" ]; then
  tr -d '\r' < "$work/box.txt" 2>/dev/null | grep -qxF "text=$box" || { echo "expected the box: $box"; status=1; }
fi
exit $status
