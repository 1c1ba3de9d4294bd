#!/usr/bin/env bash
# Runs bench/first-paint.mjs against a server of this build (built as the other benches are) and, with
# LOOMDECK_BENCH_BASELINE=<folder of another build>, one of that build in the same run.
# LINK_MBIT=<n> throttles the browser's link (see the .mjs).
# Usage: bench/first-paint.sh [runs, default 5]
source "$(dirname "$0")/common.sh"
bench_build
bench_sandbox
servers=()
start_server --target Studio
servers+=("now=$SERVER_URL")
if [ -n "${LOOMDECK_BENCH_BASELINE:-}" ]; then
  LOOMDECK=$LOOMDECK_BENCH_BASELINE/loomdeck start_server --target Studio
  servers+=("base=$SERVER_URL")
fi
# The page must not start a run on the boxes by itself between measurements.
curl -s -X POST -H 'Content-Type: application/json' -d '{"autoGreenOnLaunch":false}' "$SERVER_URL/settings" >/dev/null
node "$ROOT/bench/first-paint.mjs" "${1:-5}" "${servers[@]}"
