#!/usr/bin/env bash
# Makes the packages the release tool tests sign, serve and verify, at test time (nothing signed is
# committed).
# Usage: make_release_files.sh HARNESS_DIR MAKE_TEST_PKI PACKAGE_X64_EXE PACKAGE_X86_EXE PACKAGE_OLD_EXE
#                              PACKAGE_UNVERSIONED_EXE PACKAGE_DLL WEBSETUP_EXE
# Writes HARNESS_DIR/release/files: setup-x64.exe and setup-x86.exe (product version 9.8.7) signed by the
# publisher, unsigned.exe, other-signer.exe (a trusted certificate of another name), tampered-x64.exe
# (the signed x64 package with one byte changed, same size), wrong-case.exe (the x64 package signed by a
# trusted certificate whose name is the publisher's in other letter case), and, signed by the publisher:
# old-version.exe (product version 1.2.3), unversioned.exe (no version resource), library.dll (a DLL)
# and x64-machine.exe (the x86 package with its PE machine field set to x64 before signing); and
# no-signer-name.exe, the trust tests' file signed under the trusted root by a certificate with no name
# at all (the trust_files fixture makes it); resigned-x64.exe, the x64 package signed again by the
# publisher, with a timestamp; user-root.exe, signed in the publisher's name under a root that only the
# user's own store trusts, not the machine's. For the web setup check: WEBSETUP_EXE as built
# (websetup-built.exe), signed by the publisher (websetup-signed.exe), the same with a timestamp
# (websetup-timestamped.exe), signed by the name in other letter case (websetup-wrong-case.exe), and
# signed and then changed in one byte under the signature (websetup-tampered.exe) or with bytes appended
# after the signature (websetup-appended.exe). A NAME.sha256 stands beside each package that the tests
# serve.
set -euo pipefail
harness=$1 pki_tool=$2 x64=$3 x86=$4 old=$5 unversioned=$6 dll=$7 websetup=$8
out=$harness/release
pki=$out/pki
files=$out/files
rm -rf "$files"
# Certificates issued under an earlier harness root are of no use.
cmp -s "$harness/pki/root.pem" "$pki/root.pem" || rm -rf "$pki"
mkdir -p "$pki" "$files"

# The harness's root, copied so that issuing here never touches the shared folder's serial file, and
# its CRL port: the certificates issued here name the harness's CRL of the root, which lists none of them.
cp "$harness/pki/root.pem" "$harness/pki/root.key" "$harness/pki/root.der" "$harness/pki/crl.port" "$pki/"
"$pki_tool" codesign "$pki" other root "OTHER PUBLISHER"
"$pki_tool" codesign "$pki" wrong-case root "Brimlow AI Labs Private Limited"

sign() {  # pfx in out
  "$(dirname "$pki_tool")/sign.sh" "$@"
}

# A timestamp service of the test root, for osslsigncode's built-in timestamping.
if [ ! -f "$pki/tsa.pem" ]; then
  openssl req -new -newkey rsa:2048 -nodes -keyout "$pki/tsa.key" -out "$pki/tsa.csr" -subj "/CN=Brimlow Test TSA" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' > "$pki/tsa.ext"
  openssl x509 -req -in "$pki/tsa.csr" -CA "$pki/root.pem" -CAkey "$pki/root.key" -CAcreateserial -sha256 -days 825 \
    -out "$pki/tsa.pem" -extfile "$pki/tsa.ext" 2>/dev/null
  cat "$pki/tsa.pem" "$pki/root.pem" > "$pki/tsa-chain.pem"
fi
timestamp=(-TSA-certs "$pki/tsa-chain.pem" -TSA-key "$pki/tsa.key" -TSA-time "$(date +%s)")

sign "$harness/pki/publisher.pfx" "$x64" "$files/setup-x64.exe"
sign "$harness/pki/publisher.pfx" "$x86" "$files/setup-x86.exe"
sign "$pki/other.pfx" "$x86" "$files/other-signer.exe"
sign "$pki/wrong-case.pfx" "$x64" "$files/wrong-case.exe"
cp "$x86" "$files/unsigned.exe"
sign "$harness/pki/publisher.pfx" "$old" "$files/old-version.exe"
sign "$harness/pki/publisher.pfx" "$unversioned" "$files/unversioned.exe"
sign "$harness/pki/publisher.pfx" "$dll" "$files/library.dll"
cp "$harness/trust/files/name-empty.exe" "$files/no-signer-name.exe"
sign "$harness/pki/publisher.pfx" "$x64" "$files/resigned-x64.exe" "${timestamp[@]}"
sign "$harness/pki/publisher-user-root.pfx" "$x64" "$files/user-root.exe"

sign "$harness/pki/publisher.pfx" "$websetup" "$files/websetup-signed.exe"
sign "$harness/pki/publisher.pfx" "$websetup" "$files/websetup-timestamped.exe" "${timestamp[@]}"
sign "$pki/wrong-case.pfx" "$websetup" "$files/websetup-wrong-case.exe"
cp "$files/websetup-signed.exe" "$files/websetup-tampered.exe"
{ cat "$files/websetup-signed.exe"; printf 'appended'; } > "$files/websetup-appended.exe"

# IMAGE_FILE_HEADER.Machine, at the PE header (whose offset is at 0x3C) plus 4: IMAGE_FILE_MACHINE_AMD64.
cp "$x86" "$out/x64-machine.exe"
python3 - "$out/x64-machine.exe" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x3C)
    pe = struct.unpack("<I", f.read(4))[0]
    f.seek(pe)
    assert f.read(4) == b"PE\0\0"
    f.write(struct.pack("<H", 0x8664))
PY
sign "$harness/pki/publisher.pfx" "$out/x64-machine.exe" "$files/x64-machine.exe"
rm "$out/x64-machine.exe"

cp "$files/setup-x64.exe" "$files/tampered-x64.exe"
# One byte of the code, which the signature covers, changed in place.
for changed in "$files/tampered-x64.exe" "$files/websetup-tampered.exe"; do
  python3 - "$changed" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x400)
    byte = f.read(1)
    f.seek(0x400)
    f.write(bytes([byte[0] ^ 0xFF]))
PY
done

cp "$websetup" "$files/websetup-built.exe"
cd "$files"
for name in setup-x64.exe setup-x86.exe unsigned.exe old-version.exe x64-machine.exe wrong-case.exe \
            tampered-x64.exe no-signer-name.exe resigned-x64.exe websetup-built.exe websetup-signed.exe \
            websetup-timestamped.exe; do
  sha256sum "$name" | cut -d' ' -f1 > "$name.sha256"
done
