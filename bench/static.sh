#!/usr/bin/env bash
# Requests per second for /api/ping and the dashboard page with wrk on loopback, one request per
# connection (keep-alive off), against nginx serving the same bytes from a private config.
# Usage: bench/static.sh [seconds per run, default 10] [connections, default 50]
source "$(dirname "$0")/common.sh"
seconds=${1:-10}
conns=${2:-50}
bench_need wrk wrk
bench_need nginx nginx-light
bench_build
bench_sandbox
start_server --target Studio

# nginx workers run as an unprivileged user: they need to reach the served files.
chmod 755 "$BENCH_DIR"
www=$BENCH_DIR/www
mkdir -p "$www/api"
curl -s "$SERVER_URL/api/ping" >"$www/api/ping"
curl -s "$SERVER_URL/" >"$www/index.html"
cmp -s "$www/index.html" "$ROOT/web/index.html" || { echo "bench: the served page differs from web/index.html" >&2; exit 1; }
nginx_port=$(free_port)
cat >"$BENCH_DIR/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $BENCH_DIR/nginx.pid;
error_log $BENCH_DIR/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $BENCH_DIR/nginx-tmp;
  proxy_temp_path $BENCH_DIR/nginx-tmp;
  fastcgi_temp_path $BENCH_DIR/nginx-tmp;
  uwsgi_temp_path $BENCH_DIR/nginx-tmp;
  scgi_temp_path $BENCH_DIR/nginx-tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $www;
    location = /api/ping { default_type application/json; }
    location = / { default_type "text/html; charset=utf-8"; try_files /index.html =404; }
  }
}
CONF
mkdir -p "$BENCH_DIR/nginx-tmp"
nginx -c "$BENCH_DIR/nginx.conf" -p "$BENCH_DIR" &
STARTED_PIDS+=($!)
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$nginx_port/api/ping" >/dev/null && break; sleep 0.1; done
cmp -s <(curl -s "http://127.0.0.1:$nginx_port/") "$www/index.html" || { echo "bench: nginx serves other bytes" >&2; cat "$BENCH_DIR/nginx-error.log" >&2; exit 1; }

rate() {  # url
  wrk -t2 -c"$conns" -d"${seconds}s" -H 'Connection: close' "$1" | awk '/^Requests\/sec:/ { print $2 }'
}
echo "static serving: wrk -t2 -c$conns -d${seconds}s -H 'Connection: close' (one request per connection)"
printf '%-16s %14s %14s %10s\n' path loomdeck_req/s nginx_req/s ratio
for path in /api/ping /; do
  ours=$(rate "$SERVER_URL$path")
  theirs=$(rate "http://127.0.0.1:$nginx_port$path")
  printf '%-16s %14.0f %14.0f %10.2f\n' "$path" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done
