#!/usr/bin/env bash
# Makes the test PKI with the openssl command, at test time. Keys are never committed.
# Only the Wine test prefix trusts the root (trust_root.cpp, beside this script); the host never does.
#
#   make-test-pki.sh init DIR                 root CA "Brimlow Test Root CA", a TLS certificate for
#                                             localhost, and a code-signing certificate for the publisher;
#                                             and the same two under "User Store Test Root CA", which the
#                                             prefix trusts only in the user's own Root store
#   make-test-pki.sh ca DIR NAME CN           another root CA (trusted by nobody unless a test says so)
#   make-test-pki.sh tls DIR NAME CA DNS [DAYS|expired]
#   make-test-pki.sh codesign DIR NAME CA CN [EXTRA_EXT]
# Every certificate NAME is written as NAME.key, NAME.pem, NAME.der (and NAME.pfx for code signing).
source "$(dirname "$0")/fail-loudly.sh"
cmd=$1 dir=$2
shift 2
mkdir -p "$dir"
cd "$dir"
# One maker at a time in a folder: tests running side by side issue from the same root, and two
# openssl runs writing its serial file, or one certificate made twice, break each other.
exec 8>.make-test-pki.lock
flock 8

make_ca() {  # name cn
  [ -f "$1.pem" ] && return 0
  quietly openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.pem" \
    -subj "/CN=$2/O=Brimlow Test PKI" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}

# name ca subject days extfile-text
issue() {
  local name=$1 ca=$2 subj=$3 days=$4 ext=$5
  [ -f "$name.pem" ] && return 0
  printf '%s\n' "$ext" > "$name.ext"
  quietly openssl req -new -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "$subj"
  if [ "$days" = expired ]; then
    # A certificate whose validity ended yesterday: signed with explicit past dates.
    quietly openssl ca -batch -config <(ca_config "$ca") -notext -in "$name.csr" -out "$name.pem" \
      -startdate 20200101000000Z -enddate "$(date -u -d yesterday +%Y%m%d000000Z)" -extfile "$name.ext"
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
  cat <<CONF
[ca]
default_ca = local
[local]
dir = ca-$1
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
certificate = $1.pem
private_key = $1.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = optional
organizationName = optional
CONF
}

tls() {  # name ca dns [days]
  issue "$1" "$2" "/CN=$3" "${4:-825}" "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:$3,IP:127.0.0.1,IP:::1"
}

codesign() {  # name ca cn [extra ext lines]
  local subj="/CN=$3"
  [ -z "$3" ] && subj="/O=Brimlow Test PKI"
  issue "$1" "$2" "$subj" 825 "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
${4:-}"
  [ -f "$1.pfx" ] || openssl pkcs12 -export -passout pass: -inkey "$1.key" -in "$1.pem" -certfile "$2.pem" -out "$1.pfx"
}

case $cmd in
  init)
    make_ca root "Brimlow Test Root CA"
    tls tls-localhost root localhost
    codesign publisher root "BRIMLOW AI LABS PRIVATE LIMITED"
    make_ca user-root "User Store Test Root CA"
    tls tls-user-root user-root localhost
    codesign publisher-user-root user-root "BRIMLOW AI LABS PRIVATE LIMITED"
    ;;
  ca) make_ca "$1" "$2" ;;
  tls) tls "$@" ;;
  codesign) codesign "$@" ;;
  *) echo "usage: see the header of $0" >&2; exit 2 ;;
esac
