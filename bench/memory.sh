#!/usr/bin/env bash
# Three clients poll a box whose bridge answers 8 MiB for its next 14 calls: the
# server's resident memory before, its peak, and a minute after the burst.
# Usage: bench/memory.sh
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
start_server --target Studio
ovra-bridge sim fault Studio '*' huge 8 --count 14 >/dev/null
node "$ROOT/bench/memory.mjs" "$SERVER_URL" "$SERVER_PID"
