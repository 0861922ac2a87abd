#!/usr/bin/env bash
# Makes the signed files that the trust and launch tests read, at test time (nothing signed is committed).
# Usage: make_trust_files.sh HARNESS_DIR MAKE_TEST_PKI LAUNCH_PROBE_EXE SIGNED_LIBRARY_DLL LOCK_PROBE_EXE CRL_PORT
# Writes HARNESS_DIR/trust/{pki,files,crl}. The certificates chain to the harness's trusted root unless
# their name says otherwise. Those under that root name a CRL distribution point on loopback HTTP, as
# production certificates do, and a server started here (stopped by harness_down) serves the root's
# CRL, which revokes the certificate named "revoked".
source "$(dirname "$0")/../harness/fail-loudly.sh"
here=$(cd "$(dirname "$0")" && pwd)
harness=$(realpath "$1") pki_tool=$(realpath "$2") probe=$(realpath "$3") library=$(realpath "$4")
lock_probe=$(realpath "$5") crl_port=$6
out=$harness/trust
pki=$out/pki
crl=$out/crl
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
cdp="crlDistributionPoints=URI:http://localhost:$crl_port/root.crl"
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
quietly openssl ca -config crl-db/ca.conf -gencrl | openssl crl -outform DER -out "$work/crl/root.crl"
mv -f "$work/crl/root.crl" "$crl/root.crl"

# Serves the CRL on loopback for as long as the harness is up; harness_down stops every *.server.pid.
pidfile=$harness/trust-crl.server.pid
if ! { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }; then
  # fd 9 is closed for the server, or it would hold the lock for as long as it runs.
  setsid python3 -m http.server --bind :: --directory "$crl" "$crl_port" >"$out/crl-server.log" 2>&1 </dev/null 9>&- &
  echo $! > "$pidfile"
fi
for _ in $(seq 50); do
  curl -fsS -o /dev/null "http://localhost:$crl_port/root.crl" 2>/dev/null && break
  sleep 0.1
done
curl -fsS -o /dev/null "http://localhost:$crl_port/root.crl"

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
