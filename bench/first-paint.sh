#!/usr/bin/env bash
# Runs bench/first-paint.mjs against a server of this build (built as the other benches are) and, with
# LOOMDECK_BENCH_BASELINE=<folder of another build>, one of that build in the same run.
# LINK_MBIT=<n> throttles the browser's link (see the .mjs).
# Usage: bench/first-paint.sh [runs, default 5]
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
start_page_servers
node "$ROOT/bench/first-paint.mjs" "${1:-5}" "${PAGE_SERVERS[@]}"
