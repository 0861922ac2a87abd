#!/usr/bin/env bash
# Trusts a root certificate in one Wine prefix only: adds it to that prefix's LocalMachine Root store, as
# the test harness does with its own root (tests/harness/trust_root.cpp, compiled here for this machine's
# Wine). The host's trust store and every other prefix stay as they were.
# Usage: WINEPREFIX=/path/to/prefix tools/trust-root.sh ROOT_CERT   (PEM or DER)
# WINEPREFIX must be set: a root trusted for releasing belongs in a prefix kept for releasing, never in
# ~/.wine, where every other Windows program would trust it too.
source "$(dirname "$0")/../tests/harness/fail-loudly.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# = 1 ] && [ -f "$1" ] || { sed -n '5,7p' "$0" | sed 's/^# //' >&2; exit 2; }
[ -n "${WINEPREFIX:-}" ] || { echo "Set WINEPREFIX to the prefix that is to trust the root." >&2; exit 2; }
"$root/tools/install-deps.sh"
arch=$("$root/tests/harness/wine-arch.sh")
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Where the kernel runs no 32-bit code, Wine's 64-bit loader (Debian's wine script would pick the 32-bit one).
[ "$arch" = i686 ] || export PATH=$root/tests/harness/wine64:$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl x509 -in "$1" -outform DER -out "$work/root.der" 2>/dev/null ||
  openssl x509 -inform DER -in "$1" -outform DER -out "$work/root.der"
"$arch-w64-mingw32-g++-win32" -std=c++20 -Os -static -municode -DUNICODE -D_UNICODE -I "$root/src" \
  -o "$work/trust_root.exe" "$root/tests/harness/trust_root.cpp" -lcrypt32
[ -d "$WINEPREFIX" ] || echo "Making the prefix $WINEPREFIX (about 20 s) ..."
wineboot -i >/dev/null 2>&1
root_der=$(windows_path "$work/root.der")
wine "$work/trust_root.exe" "$root_der"
wineserver -w
echo "Trusted in $WINEPREFIX: $(openssl x509 -inform DER -in "$work/root.der" -noout -subject)"
