# Shared by the bench scripts: an optimised build in build-bench/, a sandboxed HOME/TMPDIR with
# the simulator first on PATH, and a loomdeck server on a free port above the scan range.
# Every process started here is remembered by id and ended by id on exit.
# LOOMDECK_BENCH_BUILD=<folder> measures another build (e.g. a copy of an older one kept for a
# before/after comparison); LOOMDECK_BENCH_REBUILD=0 uses it as it is, without building.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_BUILD=${LOOMDECK_BENCH_BUILD:-$ROOT/build-bench}
LOOMDECK=$BENCH_BUILD/loomdeck
STARTED_PIDS=()

bench_build() {
  bench_need bc bc
  [ "${LOOMDECK_BENCH_REBUILD:-1}" = 0 ] && return
  if [ ! -f "$BENCH_BUILD/build.ninja" ]; then
    # -O2: gcc 12 at -O3 reports a false -Wrestrict in std::string concatenation.
    cmake -S "$ROOT" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DLOOMDECK_TESTS=OFF >/dev/null
  fi
  cmake --build "$BENCH_BUILD" -j 2 --target loomdeck sim_tools >/dev/null
}

bench_need() {  # command debian-package
  command -v "$1" >/dev/null && return
  echo "bench: installing $2" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$2" >/dev/null
}

bench_cleanup() {
  for pid in "${STARTED_PIDS[@]+"${STARTED_PIDS[@]}"}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${STARTED_PIDS[@]+"${STARTED_PIDS[@]}"}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${BENCH_DIR:-}" ] && rm -rf "$BENCH_DIR"
}
trap bench_cleanup EXIT

bench_sandbox() {
  BENCH_DIR=$(mktemp -d /tmp/loomdeck-bench-XXXXXX)
  mkdir -p "$BENCH_DIR/home" "$BENCH_DIR/tmp" "$BENCH_DIR/sim"
  export HOME=$BENCH_DIR/home TMPDIR=$BENCH_DIR/tmp OVRA_SIM_DIR=$BENCH_DIR/sim
  export PATH=$BENCH_BUILD/sim:$PATH
  unset VSCODE_PROXY_URI OVRA_DOCK_WEBVIEW
  ovra-bridge sim reset demo >/dev/null
}

free_port() {
  node -e 'const s=require("net").createServer();s.listen(0,"127.0.0.1",()=>{const p=s.address().port;s.close(()=>console.log(p))})'
}

# Starts `loomdeck serve` and sets SERVER_PID and SERVER_URL.
start_server() {
  local port
  while :; do port=$(free_port); [ "$port" -gt 8940 ] && break; done
  "$LOOMDECK" serve --port "$port" "$@" >"$BENCH_DIR/serve.log" 2>&1 &
  SERVER_PID=$!
  STARTED_PIDS+=("$SERVER_PID")
  SERVER_URL=http://127.0.0.1:$port
  for _ in $(seq 100); do
    curl -sf "$SERVER_URL/api/ping" >/dev/null && return
    sleep 0.1
  done
  echo "bench: loomdeck serve did not start" >&2
  cat "$BENCH_DIR/serve.log" >&2
  exit 1
}

# User plus system CPU seconds a process has used so far.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / hz }' "/proc/$1/stat"
}

# For the page benches: a server of this build ("now") and, with LOOMDECK_BENCH_BASELINE=<folder of
# another build>, one of that build ("base"), both on the box Studio and neither starting a run on
# the boxes by itself when a page opens; their name=URL pairs end up in PAGE_SERVERS.
start_page_servers() {
  PAGE_SERVERS=()
  start_server --target Studio
  PAGE_SERVERS+=("now=$SERVER_URL")
  if [ -n "${LOOMDECK_BENCH_BASELINE:-}" ]; then
    LOOMDECK=$LOOMDECK_BENCH_BASELINE/loomdeck start_server --target Studio
    PAGE_SERVERS+=("base=$SERVER_URL")
  fi
  local pair
  for pair in "${PAGE_SERVERS[@]}"; do
    curl -s -X POST -H 'Content-Type: application/json' -d '{"autoGreenOnLaunch":false}' "${pair#*=}/settings" >/dev/null
  done
}
