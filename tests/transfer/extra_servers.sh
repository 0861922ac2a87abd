#!/usr/bin/env bash
# Starts (up) or stops (down) the HTTPS servers whose certificates WinHTTP must refuse: one from a CA
# the prefix does not trust, one expired, one for another host name; and one (broken_server.py) whose
# every answer breaks mid-body. Each serves the shared route
# tables on its own port, after the test PKI has issued its certificate.
# Usage: extra_servers.sh up|down HARNESS_DIR PORT_BASE
# Ports: base, base+1, base+2 for the three certificates, base+4 for the broken server (base+3 stays closed).
source "$(dirname "$0")/../harness/fail-loudly.sh"
cmd=$1 harness=$2 base=$3
here=$(cd "$(dirname "$0")" && pwd)
pki=$harness/pki
names=(transfer-untrusted transfer-expired transfer-wrong-name transfer-broken)

stop=$here/../harness/stop-server.sh
if [ "$cmd" = down ]; then
  for name in "${names[@]}"; do
    "$stop" "$harness/$name.server.pid"
  done
  exit 0
fi

pkitool=$here/../harness/make-test-pki.sh
"$pkitool" ca "$pki" transfer-other-ca "Transfer Untrusted Test CA"
"$pkitool" tls "$pki" transfer-untrusted transfer-other-ca localhost
"$pkitool" tls "$pki" transfer-expired root localhost expired
"$pkitool" tls "$pki" transfer-wrong-name root elsewhere.example

mkdir -p "$harness/server/routes"
port=$base
for name in "${names[@]:0:3}"; do
  pidfile=$harness/$name.server.pid
  "$stop" "$pidfile"
  python3 "$here/../harness/https_fixture.py" --daemon --port "$port" --cert "$pki/$name.pem" --key "$pki/$name.key" \
    --routes "$harness/server/routes" --log "$harness/server/$name.log" --pidfile "$pidfile"
  port=$((port + 1))
done
pidfile=$harness/transfer-broken.server.pid
"$stop" "$pidfile"
python3 "$here/broken_server.py" $((base + 4)) "$pki/tls-localhost.pem" "$pki/tls-localhost.key" "$pidfile"
