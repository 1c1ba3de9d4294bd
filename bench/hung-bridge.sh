#!/usr/bin/env bash
# A box whose every bridge call hangs, five clients polling its live status every second: the
# server's process, thread and descriptor counts over time, and the slowest poll and ping.
# Usage: bench/hung-bridge.sh [seconds, default 120]
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
ovra-bridge sim add-box Hung >/dev/null
ovra-bridge sim fault Hung '*' hang >/dev/null
start_server --target Studio
node "$ROOT/bench/hung-bridge.mjs" "$SERVER_URL" "$SERVER_PID" "${1:-120}"
