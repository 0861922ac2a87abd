#!/usr/bin/env bash
# Makes the signed files that the trust and launch tests read, at test time (nothing signed is committed).
# Usage: make_trust_files.sh HARNESS_DIR MAKE_TEST_PKI LAUNCH_PROBE_EXE SIGNED_LIBRARY_DLL LOCK_PROBE_EXE
# Writes HARNESS_DIR/trust/{pki,files}. The certificates chain to the harness's trusted root unless their
# name says otherwise. Those under that root name a CRL distribution point on loopback HTTP, as
# production certificates do: a CRL of the root written here, which revokes the certificate named
# "revoked", and served with the harness's own CRLs (harness-env.sh).
source "$(dirname "$0")/../harness/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)
harness=$(realpath "$1") pki_tool=$(realpath "$2") probe=$(realpath "$3") library=$(realpath "$4")
lock_probe=$(realpath "$5")
crl_port=$(cat "$harness/pki/crl.port")
out=$harness/trust
pki=$out/pki
crl=$harness/pki/crl
mkdir -p "$out"
# One maker at a time: the certificates are issued once per build tree and shared by later runs.
exec 9>"$out/.lock"
flock 9
# Other ctest runs on this build tree may be reading the files: everything is made in a folder of this
# run's own and then renamed into place file by file, so a reader sees the old file or the new one.
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
files=$work/files

# The harness's root, copied so that issuing here never touches the shared folder's serial file. A new
# harness root makes every certificate issued under the old one useless.
if ! cmp -s "$harness/pki/root.pem" "$pki/root.pem"; then
  rm -rf "$pki"
fi
mkdir -p "$pki" "$files" "$work/crl" "$crl" "$out/files"
cp "$harness/pki/root.pem" "$harness/pki/root.key" "$harness/pki/root.der" "$pki/"
# The root that the prefix trusts only in the user's own Root store (harness.sh).
cp "$harness/pki/user-root.pem" "$harness/pki/user-root.key" "$pki/"

publisher="BRIMLOW AI LABS PRIVATE LIMITED"
# Named after the root, apart from the harness's own CRL of it, whose revocations are others.
crl_name=trust-root-$(openssl x509 -in "$pki/root.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | cut -c1-16).crl
cdp="crlDistributionPoints=URI:http://127.0.0.1:$crl_port/$crl_name"
"$pki_tool" codesign "$pki" signer root "$publisher" "$cdp"
"$pki_tool" codesign "$pki" case root "Brimlow AI Labs Private Limited" "$cdp"
"$pki_tool" codesign "$pki" blank root "$publisher " "$cdp"
"$pki_tool" codesign "$pki" other root "Other Signer Test Ltd" "$cdp"
"$pki_tool" codesign "$pki" revoked root "$publisher" "$cdp"
"$pki_tool" ca "$pki" stranger-root "Stranger Test Root CA"
"$pki_tool" codesign "$pki" stranger stranger-root "$publisher"
"$pki_tool" codesign "$pki" user-rooted user-root "$publisher"

cd "$pki"
# No subject at all, so the certificate has no simple display name.
if [ ! -f noname.pfx ]; then
  quietly openssl req -new -newkey rsa:2048 -nodes -keyout noname.key -out noname.csr -subj "/"
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    "$cdp" > noname.ext
  quietly openssl x509 -req -in noname.csr -CA root.pem -CAkey root.key -CAcreateserial -sha256 -days 825 \
    -out noname.pem -extfile noname.ext
  openssl pkcs12 -export -passout pass: -inkey noname.key -in noname.pem -certfile root.pem -out noname.pfx
fi
# The publisher's name, a zero, then more: "#" marks where the zero goes.
if [ ! -f embedded-nul.pfx ]; then
  "$pki_tool" codesign "$pki" embedded-nul-source root "$publisher#more" "$cdp"
  python3 "$here/embed_zero_in_name.py" embedded-nul-source.der embedded-nul.der root.key "$publisher#more" "#"
  openssl x509 -inform DER -in embedded-nul.der -out embedded-nul.pem
  openssl verify -CAfile root.pem embedded-nul.pem >/dev/null
  openssl pkcs12 -export -passout pass: -inkey embedded-nul-source.key -in embedded-nul.pem -certfile root.pem \
    -out embedded-nul.pfx
fi
# Self-signed, with the publisher's name: its own root, which nobody trusts.
if [ ! -f selfsigned.pfx ]; then
  quietly openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 825 -keyout selfsigned.key -out selfsigned.pem \
    -subj "/CN=$publisher" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning"
  openssl pkcs12 -export -passout pass: -inkey selfsigned.key -in selfsigned.pem -out selfsigned.pfx
fi

# The root's CRL, listing only "revoked". A fresh database each run, so the CRL never lists stale serials.
rm -rf crl-db
mkdir crl-db
touch crl-db/index.txt
echo 01 > crl-db/crlnumber
cat > crl-db/ca.conf <<CONF
[ca]
default_ca = local
[local]
database = crl-db/index.txt
crlnumber = crl-db/crlnumber
certificate = root.pem
private_key = root.key
default_md = sha256
default_crl_days = 30
CONF
quietly openssl ca -config crl-db/ca.conf -revoke revoked.pem -crl_reason keyCompromise
quietly openssl ca -config crl-db/ca.conf -gencrl | openssl crl -outform DER -out "$work/crl.der"
mv -f "$work/crl.der" "$crl/$crl_name"
curl -fsS -o /dev/null "http://127.0.0.1:$crl_port/$crl_name"

sign() {  # cert in out [extra osslsigncode options]
  local cert=$1 in=$2 target=$3
  shift 3
  "$(dirname "$pki_tool")/sign.sh" "$pki/$cert.pfx" "$in" "$target" "$@"
}

cp "$probe" "$files/unsigned.exe"
sign signer "$probe" "$files/valid.exe"
sign selfsigned "$probe" "$files/self-signed.exe"
sign stranger "$probe" "$files/untrusted-ca.exe"
sign user-rooted "$probe" "$files/user-root-only.exe"
sign revoked "$probe" "$files/revoked.exe"
sign case "$probe" "$files/name-case.exe"
sign blank "$probe" "$files/name-trailing-blank.exe"
sign noname "$probe" "$files/name-empty.exe"
sign embedded-nul "$probe" "$files/name-embedded-nul.exe"
sign other "$probe" "$files/other-signer.exe"
sign signer "$probe" "$files/nested-tmp.exe"
sign other "$files/nested-tmp.exe" "$files/nested-publisher-first.exe" -nest
sign other "$probe" "$files/nested-tmp.exe"
sign signer "$files/nested-tmp.exe" "$files/nested-other-first.exe" -nest
rm -f "$files/nested-tmp.exe"
sign signer "$library" "$files/signed-library.exe"

# Under the harness's own PKI, whose CRL of the root revokes publisher-revoked: a revoked publisher, one
# whose certificate names a CRL that cannot be fetched, one whose certificate expired yesterday, and one whose certificate lapsed yesterday but whose signature a
# timestamp authority on loopback dated 30 days ago, while it was valid.
harness_sign() {  # cert in out [extra osslsigncode options]
  local cert=$1 in=$2 target=$3
  shift 3
  "$(dirname "$pki_tool")/sign.sh" "$harness/pki/$cert.pfx" "$in" "$target" "$@"
}
harness_sign publisher-revoked "$probe" "$files/revoked-publisher.exe"
harness_sign publisher-expired "$probe" "$files/expired.exe"
harness_sign publisher-offline-crl "$probe" "$files/offline-crl.exe"
harness_sign publisher-lapsed "$probe" "$files/lapsed.exe"
tsa_port=$work/tsa.port
python3 "$(dirname "$pki_tool")/loopback_tsa.py" --cert "$harness/pki/tsa.pem" --key "$harness/pki/tsa.key" \
  --time "$(date -u -d '30 days ago' +%Y%m%d%H%M%SZ)" --port-file "$tsa_port" 9>&- &
tsa=$!
trap 'kill $tsa 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -f "$tsa_port" ] && break; sleep 0.1; done
harness_sign publisher-lapsed "$probe" "$files/lapsed-timestamped.exe" -t "http://127.0.0.1:$(cat "$tsa_port")/"
# The timestamp's signer must be the machine's as much as the publisher's: one under a root nobody trusts.
"$pki_tool" tsa "$pki" stranger-tsa stranger-root "Stranger Time Stamping"
kill $tsa
wait $tsa 2>/dev/null || true
rm -f "$tsa_port"
python3 "$(dirname "$pki_tool")/loopback_tsa.py" --cert "$pki/stranger-tsa.pem" --key "$pki/stranger-tsa.key" \
  --time "$(date -u -d '30 days ago' +%Y%m%d%H%M%SZ)" --port-file "$tsa_port" 9>&- &
tsa=$!
for _ in $(seq 100); do [ -f "$tsa_port" ] && break; sleep 0.1; done
harness_sign publisher-lapsed "$probe" "$files/lapsed-stranger-timestamp.exe" -t "http://127.0.0.1:$(cat "$tsa_port")/"
kill $tsa

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
for made in "$files"/*; do
  mv -f "$made" "$out/files/"
done
