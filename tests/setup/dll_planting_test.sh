#!/usr/bin/env bash
# Plants a DLL under the name of every system DLL the installer (or the system DLLs it uses) loads,
# and of those that installers have been attacked with, beside the installer, with Wine told to prefer
# such native copies as Windows does. None may load, and the installer must still reach its first
# outcome (here: the manifest request answered 404, code 3).
# Usage: dll_planting_test.sh BUILD INSTALLER PLANTED_DLL PLANT_PROBE ANSWER_BOX
source "$(dirname "$0")/../harness/fail-loudly.sh"
build=$1 installer=$2 planted=$3 probe=$4 answer=$5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../harness/harness-env.sh" "$build"
harness_ensure_prefix
harness_ensure_display

dir=$HARNESS_DIR/scratch/planting
rm -rf "$dir"
mkdir -p "$dir" "$HARNESS_DIR/server/routes"
cp "$installer" "$dir/BrimlowAIQuillo-WebSetup.exe"
printf '{"/download/releases/online-latest.json": {"status": 404, "body": "gone"}}' \
  > "$HARNESS_DIR/server/routes/planting.json"
trap 'rm -f "$HARNESS_DIR/server/routes/planting.json"' EXIT

run_installer() {  # log file; prints the exit code
  local log=$1 code
  WINEDEBUG=+loaddll wine "$dir/BrimlowAIQuillo-WebSetup.exe" 2>"$log" &
  local pid=$!
  if ! wine "$answer" "Brimlow AI Quillo" 60000 >"$log.box"; then
    echo "no message box appeared" >&2
    kill $pid 2>/dev/null || true
  fi
  code=0
  wait $pid || code=$?
  echo $code
}

# Windows maps these from its KnownDLLs section, never from the program's folder; ntdll and the core
# of kernel32 cannot be replaced at all.
known='^(ntdll|kernel32|kernelbase|user32|gdi32|gdi32full|win32u|ole32|combase|msvcrt|advapi32|sechost|rpcrt4|shell32|shlwapi|oleaut32|imm32|msctf|ws2_32|nsi|wldap32|setupapi|psapi|normaliz|imagehlp|comdlg32|clbcatq|difxapi|coml2|gdiplus|shcore|ucrtbase|wow64|wow64win)$'

# Wine, unlike Windows, resolves the imports and delay imports of its own builtin DLLs by the old search
# order, whatever SetDefaultDllDirectories says: its advapi32 pulls version and zlib1 in before the
# program's first instruction, its winhttp pulls secur32 when a request starts, and its comctl32 pulls
# msimg32 when the message box draws. Windows maps
# advapi32's dependencies from KnownDLLs and applies the System32-only search to dependencies too, so
# these names are Wine's own loader gap, not the program's; they are left unplanted here.
wine_only='^(version|zlib1|secur32|msimg32)$'

baseline=$(run_installer "$dir/baseline.log")
[ "$baseline" = 3 ] || { echo "baseline run ended with $baseline, expected 3"; cat "$dir/baseline.log.box"; exit 1; }
# A normal run takes Common Controls from the side-by-side store, and loads it first of all, right after
# the checks: before any other DLL beyond the KnownDLLs, and so before the network.
# The trace also holds the DLLs of Wine's own processes (wineboot, services) when the run starts them:
# only the lines of the thread that loaded the web setup count.
setup_thread=$(grep -m1 'Loaded L"[^"]*BrimlowAIQuillo-WebSetup\.exe"' "$dir/baseline.log" | cut -d: -f1)
first_loaded=$(grep "^$setup_thread:" "$dir/baseline.log" | grep -o 'Loaded L"[^"]*\.dll"' | grep -iv -E '\\(ntdll|kernel32|kernelbase|user32|gdi32|win32u|ole32|combase|msvcrt|advapi32|sechost|rpcrt4|ucrtbase|version|zlib1|imm32|sxs)\.dll"' | head -1 |
  sed 's/\\\\/\\/g')  # the trace doubles each backslash
echo "$first_loaded" | grep -qi 'winsxs\\[^\\]*common-controls[^\\]*\\comctl32\.dll' || {
  echo "Common Controls was not the first DLL loaded, from the side-by-side store: $first_loaded"; exit 1; }
loaded=$(grep -o 'Loaded L"[^"]*\.dll"' "$dir/baseline.log" | sed 's/.*\\\([^\\]*\)\.dll"/\1/' | tr 'A-Z' 'a-z' | sort -u)
attacked="winhttp wintrust crypt32 bcrypt version uxtheme dwmapi msasn1 cryptbase userenv cryptsp rsaenh secur32 schannel ncrypt dnsapi iphlpapi winmm profapi comctl32 propsys dbghelp wininet urlmon netapi32 mswsock"
names=$(printf '%s\n' $attacked $loaded | grep -v -E "$known" | grep -v -E "$wine_only" | sort -u)

overrides=""
for name in $names; do
  cp "$planted" "$dir/$name.dll"
  overrides="$overrides,$name"
done
echo "planted: $(echo $names | tr '\n' ' ')"
export WINEDLLOVERRIDES="mscoree,mshtml=;${overrides#,}=n,b"

# The control: an unprotected program does load the planted dwmapi.dll, so a load would be seen.
cp "$probe" "$dir/probe.exe"
wine "$dir/probe.exe" >/dev/null 2>&1 || true
if [ ! -e "$dir/dwmapi.dll.loaded" ]; then
  echo "control failed: the planted dwmapi.dll was not loaded by an unprotected program"; exit 1
fi
rm -f "$dir"/*.loaded "$dir/probe.exe"

code=$(run_installer "$dir/planted.log")
status=0
if ls "$dir"/*.loaded >/dev/null 2>&1; then
  echo "planted DLLs were loaded: $(ls "$dir"/*.loaded)"; status=1
fi
dir_name=$(windows_path "$dir")
if grep -i -F "${dir_name//\\/\\\\}" "$dir/planted.log" | grep -i 'Loaded L.*\.dll"'; then
  echo "the loader mapped a DLL from the installer's folder"; status=1
fi
[ "$code" = 3 ] || { echo "with planted DLLs the installer ended with $code, expected 3"; status=1; }
grep -q 'text=The download server returned an unexpected response.' "$dir/planted.log.box" || {
  echo "unexpected box: $(cat "$dir/planted.log.box")"; status=1; }
[ $status = 0 ] && echo "no planted DLL was loaded; the installer reached its first outcome"

# A .local folder (holding a Common Controls of its own, plainly and in a folder shaped like the
# side-by-side store's own, which Windows can honour for the manifest's dependency) or a .local file
# beside the installer could redirect which DLLs it loads: it must stop before any prompt or request,
# with code 1 and its box, and the planted Common Controls never loads. (This Wine never applies .local
# redirection, so what is shown here is the refusal, not the attack.)
local_name="$dir/BrimlowAIQuillo-WebSetup.exe.local"
assembly_folder=$(echo "$first_loaded" | sed 's/.*\\\([^\\]*\)\\comctl32\.dll"/\1/I')
for kind in folder file; do
  rm -rf "$local_name"
  if [ $kind = folder ]; then
    mkdir -p "$local_name/$assembly_folder"
    cp "$planted" "$local_name/comctl32.dll"
    cp "$planted" "$local_name/$assembly_folder/comctl32.dll"
  else
    echo planted > "$local_name"
  fi
  requests_before=$(wc -l < "$HARNESS_DIR/server/requests.log" 2>/dev/null || echo 0)
  code=$(run_installer "$dir/local-$kind.log")
  requests_after=$(wc -l < "$HARNESS_DIR/server/requests.log" 2>/dev/null || echo 0)
  [ "$code" = 1 ] || { echo "with a .local $kind the installer ended with $code, expected 1"; status=1; }
  grep -q 'text=Windows could not initialize the installer.' "$dir/local-$kind.log.box" || {
    echo "with a .local $kind, unexpected box: $(cat "$dir/local-$kind.log.box")"; status=1; }
  [ "$requests_before" = "$requests_after" ] || { echo "with a .local $kind the installer reached the server"; status=1; }
  if find "$dir" -name '*.loaded' | grep -q .; then echo "with a .local $kind, planted DLLs were loaded"; status=1; fi
done
rm -rf "$local_name"
[ $status = 0 ] && echo "a .local folder or file beside the installer stops it before any prompt or request"
exit $status
