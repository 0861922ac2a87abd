#!/usr/bin/env bash
# Makes the signed files that the trust and launch tests read, at test time (nothing signed is committed).
# Usage: make_trust_files.sh HARNESS_DIR MAKE_TEST_PKI LAUNCH_PROBE_EXE SIGNED_LIBRARY_DLL LOCK_PROBE_EXE
# Writes HARNESS_DIR/trust/{pki,files}. The certificates chain to the harness's trusted root unless their
# name says otherwise.
set -euo pipefail
harness=$1 pki_tool=$2 probe=$3 library=$4 lock_probe=$5
out=$harness/trust
pki=$out/pki
files=$out/files
rm -rf "$files"
mkdir -p "$pki" "$files"

# The harness's root, copied so that issuing here never touches the shared folder's serial file.
cp "$harness/pki/root.pem" "$harness/pki/root.key" "$harness/pki/root.der" "$pki/"

publisher="BRIMLOW AI LABS PRIVATE LIMITED"
"$pki_tool" codesign "$pki" signer root "$publisher"
"$pki_tool" codesign "$pki" case root "Brimlow AI Labs Private Limited"
"$pki_tool" codesign "$pki" blank root "$publisher "
"$pki_tool" codesign "$pki" other root "Other Signer Test Ltd"
"$pki_tool" ca "$pki" stranger-root "Stranger Test Root CA"
"$pki_tool" codesign "$pki" stranger stranger-root "$publisher"

cd "$pki"
# No subject at all, so the certificate has no simple display name.
if [ ! -f noname.pfx ]; then
  openssl req -new -newkey rsa:2048 -nodes -keyout noname.key -out noname.csr -subj "/" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    > noname.ext
  openssl x509 -req -in noname.csr -CA root.pem -CAkey root.key -CAcreateserial -sha256 -days 825 \
    -out noname.pem -extfile noname.ext 2>/dev/null
  openssl pkcs12 -export -passout pass: -inkey noname.key -in noname.pem -certfile root.pem -out noname.pfx
fi
# Self-signed, with the publisher's name: its own root, which nobody trusts.
if [ ! -f selfsigned.pfx ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 825 -keyout selfsigned.key -out selfsigned.pem \
    -subj "/CN=$publisher" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  openssl pkcs12 -export -passout pass: -inkey selfsigned.key -in selfsigned.pem -out selfsigned.pfx
fi

sign() {  # cert in out [extra osslsigncode options]
  local cert=$1 in=$2 target=$3
  shift 3
  rm -f "$target"
  osslsigncode sign -pkcs12 "$pki/$cert.pfx" -pass "" -h sha256 "$@" -in "$in" -out "$target" >/dev/null
}

cp "$probe" "$files/unsigned.exe"
sign signer "$probe" "$files/valid.exe"
sign selfsigned "$probe" "$files/self-signed.exe"
sign stranger "$probe" "$files/untrusted-ca.exe"
sign case "$probe" "$files/name-case.exe"
sign blank "$probe" "$files/name-trailing-blank.exe"
sign noname "$probe" "$files/name-empty.exe"
sign other "$probe" "$files/other-signer.exe"
sign signer "$probe" "$files/nested-tmp.exe"
sign other "$files/nested-tmp.exe" "$files/nested-publisher-first.exe" -nest
sign other "$probe" "$files/nested-tmp.exe"
sign signer "$files/nested-tmp.exe" "$files/nested-other-first.exe" -nest
rm -f "$files/nested-tmp.exe"
sign signer "$library" "$files/signed-library.exe"

# One byte of code changed after signing; the signature itself is left as it was.
cp "$files/valid.exe" "$files/tampered.exe"
python3 - "$files/tampered.exe" <<'PY'
import sys
path = sys.argv[1]
with open(path, "r+b") as f:
    f.seek(0x400)
    byte = f.read(1)
    f.seek(0x400)
    f.write(bytes([byte[0] ^ 0xFF]))
PY

cp "$probe" "$files/launch_probe.exe"
cp "$lock_probe" "$files/lock_probe.exe"
