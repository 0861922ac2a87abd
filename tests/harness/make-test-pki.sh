#!/usr/bin/env bash
# Makes the test PKI with the openssl command, at test time. Keys are never committed.
# Only the Wine test prefix trusts the root (trust_root.cpp, beside this script); the host never does.
#
#   make-test-pki.sh init DIR [CRL_PORT]      root CA "Brimlow Test Root CA", a TLS certificate for
#                                             localhost, and a code-signing certificate for the publisher;
#                                             and the same two under "User Store Test Root CA", which the
#                                             prefix trusts only in the user's own Root store. Under the
#                                             root also: publisher-revoked and tls-revoked (both revoked),
#                                             publisher-expired (expired yesterday), publisher-lapsed
#                                             (valid from 90 days ago until yesterday: for a signature
#                                             timestamped while it was valid) and tsa (time stamping).
#                                             The CRLs go to DIR/crl, served on loopback at CRL_PORT by the
#                                             harness (harness-env.sh); the port is kept in DIR/crl.port.
#                                             Without a port, the certificates name no CRL: a check of
#                                             their revocation then finds no answer (and refuses a
#                                             package), so that PKI is for signing only.
#   make-test-pki.sh crl DIR                  makes each CA's CRL again (they last 30 days)
#   make-test-pki.sh ca DIR NAME CN           another root CA (trusted by nobody unless a test says so)
#   make-test-pki.sh tls DIR NAME CA DNS [DAYS|expired]
#   make-test-pki.sh codesign DIR NAME CA CN [EXTRA_EXT]
#   make-test-pki.sh tsa DIR NAME CA CN       a time-stamping authority's certificate
# Every certificate NAME is written as NAME.key, NAME.pem, NAME.der (and NAME.pfx for code signing). In
# a DIR with a crl.port, every issued certificate names its CA's CRL on loopback as its distribution
# point, as production certificates do: a revocation check then finds an answer.
source "$(dirname "$0")/fail-loudly.sh"
cmd=$1 dir=$2
shift 2
# One maker at a time for a folder, its remaking included: tests running side by side issue from the
# same root, and two openssl runs writing its serial file, or one certificate made twice, break each
# other (without a word, before this lock).
mkdir -p "$(dirname "$dir")"
exec 8>"$dir.lock"
flock 8
# A PKI made before its certificates named a CRL, or for another port, is made anew.
if [ "$cmd" = init ] && [ -n "${1:-}" ] && [ "$(cat "$dir/crl.port" 2>/dev/null)" != "$1" ]; then
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "$1" > "$dir/crl.port"
fi
mkdir -p "$dir"
cd "$dir"

# The CRL of CA, named after its certificate's digest, so that a new CA never shares a URL (and a cached
# CRL) with an old one of the same name.
crl_name() {
  echo "$1-$(openssl x509 -in "$1.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | cut -c1-16).crl"
}

distribution_point() {  # ca
  [ -f crl.port ] || return 0
  echo "crlDistributionPoints=URI:http://127.0.0.1:$(cat crl.port)/$(crl_name "$1")"
}

make_ca() {  # name cn
  [ -f "$1.pem" ] && return 0
  # Valid from 2020 on: the chains of signatures timestamped in the past are built at that time.
  printf '%s\n' "basicConstraints=critical,CA:TRUE" "keyUsage=critical,keyCertSign,cRLSign" \
    "subjectKeyIdentifier=hash" > "$1.ext"
  quietly openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2/O=Brimlow Test PKI"
  quietly openssl ca -batch -selfsign -config <(ca_config "$1") -keyfile "$1.key" -notext -in "$1.csr" -out "$1.pem" \
    -startdate 20200101000000Z -enddate "$(date -u -d '10 years' +%Y%m%d000000Z)" -extfile "$1.ext"
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
  rm -f "$1.csr"
}

# name ca subject days extfile-text
#   days: a number of days from now, "expired" (ended yesterday), "lapsed" (valid from 90 days ago until
#   yesterday) or "long" (valid from 2020 on, for ten years from now)
issue() {
  local name=$1 ca=$2 subj=$3 days=$4 ext=$5 start= end=
  [ -f "$name.pem" ] && return 0
  printf '%s\n' "$ext" > "$name.ext"
  grep -q '^crlDistributionPoints' "$name.ext" || distribution_point "$ca" >> "$name.ext"
  quietly openssl req -new -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "$subj"
  case $days in
    expired) start=20200101000000Z end=$(date -u -d yesterday +%Y%m%d000000Z) ;;
    lapsed) start=$(date -u -d '90 days ago' +%Y%m%d000000Z) end=$(date -u -d yesterday +%Y%m%d000000Z) ;;
    long) start=20200101000000Z end=$(date -u -d '10 years' +%Y%m%d000000Z) ;;
  esac
  if [ -n "$start" ]; then
    # Explicit dates, in the past where they must be: openssl x509 -req cannot back-date.
    quietly openssl ca -batch -config <(ca_config "$ca") -notext -in "$name.csr" -out "$name.pem" \
      -startdate "$start" -enddate "$end" -extfile "$name.ext"
  else
    quietly openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -sha256 -days "$days" \
      -out "$name.pem" -extfile "$name.ext"
  fi
  openssl x509 -in "$name.pem" -outform DER -out "$name.der"
  rm -f "$name.csr"
}

ca_config() {
  mkdir -p "ca-$1"
  touch "ca-$1/index.txt"
  [ -f "ca-$1/serial" ] || openssl rand -hex 8 > "ca-$1/serial"
  [ -f "ca-$1/crlnumber" ] || echo 01 > "ca-$1/crlnumber"
  cat <<CONF
[ca]
default_ca = local
[local]
dir = ca-$1
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
crlnumber = \$dir/crlnumber
certificate = $1.pem
private_key = $1.key
default_md = sha256
default_crl_days = 30
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = optional
organizationName = optional
CONF
}

tls() {  # name ca dns [days] [extra ext lines]
  issue "$1" "$2" "/CN=$3" "${4:-825}" "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:$3,IP:127.0.0.1,IP:::1
${5:-}"
}

codesign() {  # name ca cn [extra ext lines] [days]
  local subj="/CN=$3"
  [ -z "$3" ] && subj="/O=Brimlow Test PKI"
  issue "$1" "$2" "$subj" "${5:-825}" "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
${4:-}"
  [ -f "$1.pfx" ] || openssl pkcs12 -export -passout pass: -inkey "$1.key" -in "$1.pem" -certfile "$2.pem" -out "$1.pfx"
}

tsa() {  # name ca cn: a time-stamping authority's certificate, valid from 2020 on
  issue "$1" "$2" "/CN=$3" long "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping"
}

# Revokes the certificate NAME in its CA's database (once); the CA's next CRL lists it.
revoke() {  # name ca
  openssl ca -config <(ca_config "$2") -revoke "$1.pem" -crl_reason keyCompromise 2>/dev/null ||
    grep -q "^R" "ca-$2/index.txt"
}

# The CRL of each CA that issued a certificate here, made again when it is missing or a week old.
# Revocations are all made before the first CRL: a client keeps a CRL it fetched until its next update.
crls() {
  local ca
  mkdir -p crl
  for ca in $(ls *.pem | sed 's/\.pem$//'); do
    openssl x509 -in "$ca.pem" -noout -ext basicConstraints 2>/dev/null | grep -q 'CA:TRUE' || continue
    local out=crl/$(crl_name "$ca")
    [ -z "$(find "$out" -mtime -7 2>/dev/null)" ] || continue
    quietly openssl ca -config <(ca_config "$ca") -gencrl | openssl crl -outform DER -out "$out.new"
    mv -f "$out.new" "$out"
  done
}

case $cmd in
  init)
    make_ca root "Brimlow Test Root CA"
    tls tls-localhost root localhost
    codesign publisher root "BRIMLOW AI LABS PRIVATE LIMITED"
    make_ca user-root "User Store Test Root CA"
    tls tls-user-root user-root localhost
    codesign publisher-user-root user-root "BRIMLOW AI LABS PRIVATE LIMITED"
    if [ ! -f revocations.done ]; then
      codesign publisher-revoked root "BRIMLOW AI LABS PRIVATE LIMITED"
      tls tls-revoked root localhost
      revoke publisher-revoked root
      revoke tls-revoked root
      touch revocations.done
    fi
    # Certificates whose CRL cannot be fetched: nothing listens on the discard port.
    offline="crlDistributionPoints=URI:http://127.0.0.1:9/unreachable.crl"
    codesign publisher-offline-crl root "BRIMLOW AI LABS PRIVATE LIMITED" "$offline"
    tls tls-offline-crl root localhost 825 "$offline"
    codesign publisher-expired root "BRIMLOW AI LABS PRIVATE LIMITED" "" expired
    codesign publisher-lapsed root "BRIMLOW AI LABS PRIVATE LIMITED" "" lapsed
    tsa tsa root "Brimlow Test Time Stamping Authority"
    [ ! -f crl.port ] || crls
    ;;
  crl) crls ;;
  ca) make_ca "$1" "$2" ;;
  tls) tls "$@" ;;
  codesign) codesign "$@" ;;
  tsa) tsa "$@" ;;
  *) echo "usage: see the header of $0" >&2; exit 2 ;;
esac
