#!/usr/bin/env bash
# Runs every fuzz target for longer than the test command does (default 10 minutes each).
# Usage: bench/fuzz-long.sh [seconds per target] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
exec fuzz/run.sh "${1:-600}" "${@:2}"
