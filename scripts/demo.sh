#!/usr/bin/env bash
# Builds everything and serves the dashboard against two simulated boxes ("Studio", "Bench").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export PATH="$PWD/build/sim:$PATH"
export OVRA_SIM_DIR="${OVRA_SIM_DIR:-$HOME/.ovra/sim-demo}"
ovra-bridge sim reset demo
echo "Open the dashboard at the URL below; watch live events with: curl -N http://127.0.0.1:8930/events"
exec build/loomdeck serve "$@"
