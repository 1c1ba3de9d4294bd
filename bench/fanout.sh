#!/usr/bin/env bash
# With 1,000 open event streams: the time from POST /ui/toast to the last stream receiving it
# (p50, p99), and the server's resident memory per open stream.
# Usage: bench/fanout.sh [streams, default 1000] [toasts, default 100]
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
start_server --target Studio
node "$ROOT/bench/fanout.mjs" "$SERVER_URL" "$SERVER_PID" "${1:-1000}" "${2:-100}"
