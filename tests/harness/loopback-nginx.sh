# Sourced by the end-to-end and benchmark scripts: serves WORK/site over HTTPS with nginx on loopback
# only (127.0.0.1 and ::1), with the test PKI's certificate for localhost. The pid file is WORK/nginx.pid.
# Usage: start_loopback_nginx WORK PORT PKI_DIR [CERT_NAME] [SERVER_DIRECTIVES]; stop_loopback_nginx WORK
#   CERT_NAME: another of the PKI's TLS certificates (default tls-localhost)
#   SERVER_DIRECTIVES: more of the server block, such as locations that redirect or serve slowly
start_loopback_nginx() {
  local work=$1 port=$2 pki=$3 cert=${4:-tls-localhost} extra=${5:-}
  mkdir -p "$work/logs"
  cat > "$work/nginx.conf" <<CONF
daemon on;
user root;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log $work/logs/access.log;
  client_body_temp_path $work/logs;
  proxy_temp_path $work/logs;
  fastcgi_temp_path $work/logs;
  uwsgi_temp_path $work/logs;
  scgi_temp_path $work/logs;
  types { application/json json; application/octet-stream exe bin; }
  server {
    listen 127.0.0.1:$port ssl;
    listen [::1]:$port ssl;
    server_name localhost;
    ssl_certificate $pki/$cert.pem;
    ssl_certificate_key $pki/$cert.key;
    root $work/site;
    location /download/releases/ { }
    $extra
  }
}
CONF
  nginx -c "$work/nginx.conf"
}

stop_loopback_nginx() {
  if [ -f "$1/nginx.pid" ] && kill "$(cat "$1/nginx.pid")" 2>/dev/null; then
    sleep 0.3  # lets the port go before a new server binds it
  fi
}
