#!/usr/bin/env bash
# Builds the server and the stand-ins (not the tests) and serves the dashboard against two
# simulated boxes ("Studio", "Bench").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
LOOMDECK_BUILD_TARGETS="loomdeck sim_tools" scripts/build.sh
export PATH="$PWD/build/sim:$PATH"
# The stand-ins' own world ($HOME/.ovra/sim unless OVRA_SIM_DIR names another), so `loomdeck
# status` and `ovra-bridge sim ...` in a second shell see the demo's boxes.
ovra-bridge sim reset demo

# The dashboard's address for a port, as loomdeck itself forms it: behind an editor's port proxy
# (VSCODE_PROXY_URI with "{{port}}", not on WSL) the proxied address, else the loopback one.
dashboard_url() {
  local port=$1
  if [[ "${VSCODE_PROXY_URI:-}" == *'{{port}}'* ]] &&
     ! grep -qiE 'microsoft|wsl' /proc/sys/kernel/osrelease 2>/dev/null; then
    printf '%s\n' "${VSCODE_PROXY_URI//'{{port}}'/$port}"
  else
    printf 'http://127.0.0.1:%s/\n' "$port"
  fi
}

# The server takes the first free port from 8930, so the address is known only from its start
# line; the URL follows it as the last line before the server settles down to serve.
build/loomdeck serve "$@" | while IFS= read -r line; do
  printf '%s\n' "$line"
  if [[ "$line" =~ ^OK:\ loomdeck\ v[^\ ]+\ serving\ on\ port\ ([0-9]+) ]]; then
    port=${BASH_REMATCH[1]}
    echo "Watch live events without a browser: curl -N http://127.0.0.1:$port/events"
    echo "Open the dashboard: $(dashboard_url "$port")"
  fi
done
