#!/usr/bin/env bash
# With a realistic audience (10 open event streams) and a large one (1,000): the time from
# POST /ui/toast to the last stream receiving it (p50, p99), the POST's own reply time, and the
# server's resident memory per open stream. Each audience gets a fresh server.
# Usage: bench/fanout.sh [audiences, default "10 1000"] [toasts, default 100]
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
for streams in ${1:-10 1000}; do
  start_server --target Studio
  node "$ROOT/bench/fanout.mjs" "$SERVER_URL" "$SERVER_PID" "$streams" "${2:-100}"
  kill "$SERVER_PID"
  wait "$SERVER_PID" 2>/dev/null || true
done
