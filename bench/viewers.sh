#!/usr/bin/env bash
# What open dashboards cost the user's box: the simulator all green, N real Chromium pages open,
# alone and with two curl pollers asking for the box's status every 15 s; the bridge calls made
# in one minute, counted in the simulator's activity log (each count on a fresh server). Then one
# page hidden behind another tab for a while: how long it takes to show a change made on the box.
# Usage: bench/viewers.sh [page counts, default "1 5 20"; "" for the hidden page alone] [seconds hidden, default 300]
source "$(dirname "$0")/common.sh"
counts=${1-1 5 20}
hidden=${2:-300}
seconds=60
bench_build
bench_sandbox
if [ ! -d "$ROOT/node_modules/playwright-core" ]; then (cd "$ROOT" && npm ci --no-audit --no-fund >/dev/null); fi
# The hidden page is driven over the DevTools protocol's WebSocket (built into node from 22 on).
node_ws=()
node -e 'process.exit(typeof WebSocket === "function" ? 0 : 1)' || node_ws=(--experimental-websocket)

# A fresh server on the all-green box, the dashboard's auto-green run off (nothing to drive).
fresh_server() {
  [ -n "${SERVER_PID:-}" ] && { kill "$SERVER_PID"; wait "$SERVER_PID" 2>/dev/null || true; }
  ovra-bridge sim reset signed-in >/dev/null
  start_server --target Studio
  curl -sf -H 'Content-Type: application/json' -d '{"autoGreenOnLaunch":false}' "$SERVER_URL/settings" >/dev/null
}

# Two curl pollers of the box's status, every 15 s, half a period apart.
POLLERS=()
start_pollers() {
  for offset in 0 7; do
    (sleep "$offset"; while :; do curl -s -o /dev/null "$SERVER_URL/api/status?target=Studio"; sleep 15; done) &
    POLLERS+=($!)
    STARTED_PIDS+=($!)
  done
}
stop_pollers() {
  for pid in "${POLLERS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  POLLERS=()
}

# Prints the counts as one JSON line. Run it in this shell, not in a $(...) subshell, so that the
# server and pollers it starts are remembered and ended.
measure() {  # pages pollers
  fresh_server
  [ "$2" -gt 0 ] && start_pollers
  node "$ROOT/bench/viewers.mjs" pages "$SERVER_URL/" "$1" "$seconds"
  stop_pollers
}

field() { sed -n "s/.*\"$1\":\"\{0,1\}\([^\",}]*\).*/\1/p"; }

rows=()
base_alone= base_polled=
for n in $counts; do
  measure "$n" 0 >"$BENCH_DIR/alone.json"
  measure "$n" 2 >"$BENCH_DIR/polled.json"
  alone=$(cat "$BENCH_DIR/alone.json")
  polled=$(cat "$BENCH_DIR/polled.json")
  a=$(field calls <<<"$alone")
  p=$(field calls <<<"$polled")
  : "${base_alone:=$a}" "${base_polled:=$p}"
  rows+=("$(printf '| %5d | %4d (%d builds, %d listings) | %4.2f x | %4d (%d builds, %d listings) | %4.2f x |' "$n" \
    "$a" "$(field builds <<<"$alone")" "$(field listings <<<"$alone")" "$(echo "$a / $base_alone" | bc -l)" \
    "$p" "$(field builds <<<"$polled")" "$(field listings <<<"$polled")" "$(echo "$p / $base_polled" | bc -l)")")
done

fresh_server
late=$(node "${node_ws[@]}" "$ROOT/bench/viewers.mjs" hidden "$SERVER_URL/" "$hidden")

if [ ${#rows[@]} -gt 0 ]; then
  echo "bridge calls per minute with N open dashboards ($seconds s counted after the pages settled; the box all green)"
  echo "| pages | pages alone | vs 1 page | with two curl pollers at 15 s | vs 1 page |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
fi
echo "a page hidden behind another tab for ${hidden} s (document $(field visibility <<<"$late")):"
echo "  its 1 s timer ran $(field ticksLastMinute <<<"$late") times in the last minute hidden"
echo "  three changes on the box (APS signed out, in, out), each made once the one before showed, showed after"
echo "  $(field shownAfter <<<"$late") s; the page still hidden: $(field stillHidden <<<"$late")"
