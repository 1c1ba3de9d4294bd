#!/usr/bin/env bash
# Requests per second for /api/ping and the dashboard page with wrk on loopback, one request per
# connection (keep-alive off), against nginx serving the same bytes from a private config, and
# the latency distribution (p50, p99) of /api/ping for both.
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
cmp -s "$www/index.html" "$BENCH_BUILD/web/index.html" || { echo "bench: the served page differs from the build's web/index.html" >&2; exit 1; }
# The gzip row: nginx sends the same compressed bytes, made ahead as loomdeck's are.
curl -s -H 'Accept-Encoding: gzip' "$SERVER_URL/" >"$www/index.html.gz"
touch -r "$www/index.html" "$www/index.html.gz"
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
    location = / { default_type "text/html; charset=utf-8"; gzip_static on; gzip_vary on; try_files /index.html =404; }
  }
}
CONF
mkdir -p "$BENCH_DIR/nginx-tmp"
nginx -c "$BENCH_DIR/nginx.conf" -p "$BENCH_DIR" &
STARTED_PIDS+=($!)
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$nginx_port/api/ping" >/dev/null && break; sleep 0.1; done
cmp -s <(curl -s "http://127.0.0.1:$nginx_port/") "$www/index.html" || { echo "bench: nginx serves other bytes" >&2; cat "$BENCH_DIR/nginx-error.log" >&2; exit 1; }

# One wrk run: "<req/s> <p50 ms> <p99 ms>" (wrk prints latencies in us, ms or s).
measure() {  # url [extra wrk arguments]
  wrk -t2 -c"$conns" -d"${seconds}s" --latency -H 'Connection: close' "${@:2}" "$1" | awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
    /^Requests\/sec:/ { rate = $2 }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    END { print rate, p50, p99 }'
}
echo "static serving: wrk -t2 -c$conns -d${seconds}s --latency -H 'Connection: close' (one request per connection)"
printf '%-12s %14s %14s %7s %18s %18s\n' path loomdeck_req/s nginx_req/s ratio 'loomdeck p50/p99' 'nginx p50/p99'
row() {  # label path [extra wrk arguments]
  read -r ours ours50 ours99 < <(measure "$SERVER_URL$2" "${@:3}")
  read -r theirs theirs50 theirs99 < <(measure "http://127.0.0.1:$nginx_port$2" "${@:3}")
  printf '%-12s %14.0f %14.0f %7.2f %8.2f/%6.2f ms %8.2f/%6.2f ms\n' "$1" "$ours" "$theirs" \
    "$(echo "$ours / $theirs" | bc -l)" "$ours50" "$ours99" "$theirs50" "$theirs99"
}
row /api/ping /api/ping
row / /
# A build that compresses nothing has no gzip row.
if curl -s -o /dev/null -D - -H 'Accept-Encoding: gzip' "$SERVER_URL/" | grep -qi '^content-encoding: gzip'; then
  row '/ (gzip)' / -H 'Accept-Encoding: gzip'
fi
