#!/usr/bin/env bash
# Runs every benchmark once and prints its figures (no pass or fail: figures only).
set -euo pipefail
cd "$(dirname "$0")"
./static.sh
echo
./status-latency.sh
echo
./fanout.sh
echo
./idle.sh
echo
./hung-bridge.sh
echo
./cli-start.sh
echo
./logbook.sh
echo
./viewers.sh
echo
./memory.sh
echo
./page-weight.sh
echo
./first-paint.sh
