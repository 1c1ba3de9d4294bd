#!/usr/bin/env bash
# CPU time the server uses over a quiet minute with ten open event streams and no requests.
# Usage: bench/idle.sh [seconds, default 60] [streams, default 10]
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
streams=${2:-10}
bench_build
bench_sandbox
start_server --target Studio
for _ in $(seq "$streams"); do
  curl -sN "$SERVER_URL/events" >/dev/null &
  STARTED_PIDS+=($!)
done
sleep 1
viewers=$(curl -s "$SERVER_URL/health" | sed -n 's/.*"sseClients":\([0-9]*\).*/\1/p')
before=$(cpu_seconds "$SERVER_PID")
sleep "$seconds"
after=$(cpu_seconds "$SERVER_PID")
echo "idle cost: $viewers open event streams, no requests, ${seconds}s"
printf '  server CPU time: %.3f s (%.4f%% of one core)\n' "$(echo "$after - $before" | bc -l)" "$(echo "($after - $before) * 100 / $seconds" | bc -l)"
