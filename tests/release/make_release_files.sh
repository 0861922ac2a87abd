#!/usr/bin/env bash
# Makes the packages the release tool tests sign, serve and verify, at test time (nothing signed is
# committed).
# Usage: make_release_files.sh HARNESS_DIR MAKE_TEST_PKI PACKAGE_X64_EXE PACKAGE_X86_EXE
# Writes HARNESS_DIR/release/files: setup-x64.exe and setup-x86.exe signed by the publisher,
# unsigned.exe, other-signer.exe (a trusted certificate of another name), tampered-x64.exe (the signed
# x64 package with one byte changed, same size), and a NAME.sha256 beside each package.
set -euo pipefail
harness=$1 pki_tool=$2 x64=$3 x86=$4
out=$harness/release
pki=$out/pki
files=$out/files
rm -rf "$files"
mkdir -p "$pki" "$files"

# The harness's root, copied so that issuing here never touches the shared folder's serial file.
cp "$harness/pki/root.pem" "$harness/pki/root.key" "$harness/pki/root.der" "$pki/"
"$pki_tool" codesign "$pki" other root "OTHER PUBLISHER"

sign() {  # pfx in out
  osslsigncode sign -pkcs12 "$1" -pass "" -h sha256 -in "$2" -out "$3" >/dev/null
}

sign "$harness/pki/publisher.pfx" "$x64" "$files/setup-x64.exe"
sign "$harness/pki/publisher.pfx" "$x86" "$files/setup-x86.exe"
sign "$pki/other.pfx" "$x64" "$files/other-signer.exe"
cp "$x64" "$files/unsigned.exe"

cp "$files/setup-x64.exe" "$files/tampered-x64.exe"
python3 - "$files/tampered-x64.exe" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x400)
    byte = f.read(1)
    f.seek(0x400)
    f.write(bytes([byte[0] ^ 0xFF]))
PY

cd "$files"
for name in setup-x64.exe setup-x86.exe unsigned.exe; do
  sha256sum "$name" | cut -d' ' -f1 > "$name.sha256"
done
