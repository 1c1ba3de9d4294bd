#!/usr/bin/env bash
# Runs bench/page-weight.mjs against a server of this build (built as the other benches are) and, with
# LOOMDECK_BENCH_BASELINE=<folder of another build>, one of that build in the same run.
# Usage: bench/page-weight.sh
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
start_page_servers
node "$ROOT/bench/page-weight.mjs" "${PAGE_SERVERS[@]}"
