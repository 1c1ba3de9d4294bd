#!/usr/bin/env bash
# Median /api/status time while every bridge call takes a fixed 50 ms (the seven probes run at
# once, so the ideal is just above one call), as a multiple of that delay and of the same seven
# bridge calls started at once from the shell (the slowest of them sets the floor; the rest is
# what the server adds around them).
# Usage: bench/status-latency.sh [requests, default 40] [delay ms, default 50]
source "$(dirname "$0")/common.sh"
count=${1:-40}
delay=${2:-50}
bench_build
bench_sandbox
start_server --target Studio
ovra-bridge sim reset signed-in >/dev/null

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
sample() {
  curl -s "$SERVER_URL/api/status?target=Studio" >/dev/null
  for _ in $(seq "$count"); do curl -s -o /dev/null -w '%{time_total}\n' "$SERVER_URL/api/status?target=Studio"; done | median
}
# The seven probes at once, without the server: seconds until the last one exits.
probes=(fusion_readiness fusion_aps_status fusion_mcp_status fusion_set_auto_update fusion_set_seat_takeover
        fusion_set_driving_badge fusion_set_activity_indicator)
shell_sample() {
  for _ in $(seq "$count"); do
    start=$(date +%s%N)
    for tool in "${probes[@]}"; do ovra-bridge --target Studio --ai-thread bench "$tool" '{}' >/dev/null & done
    wait
    echo "($(date +%s%N) - $start) / 1000000000" | bc -l
  done | median
}
plain=$(sample)
ovra-bridge sim fault '*' '*' delay "$delay" >/dev/null
slow=$(sample)
direct=$(shell_sample)
echo "status latency: median of $count sequential GET /api/status (seven bridge probes each)"
printf '  no injected delay:        %7.1f ms\n' "$(echo "$plain * 1000" | bc -l)"
printf '  %3d ms per bridge call:    %7.1f ms = %.2f x the per-call delay\n' "$delay" "$(echo "$slow * 1000" | bc -l)" "$(echo "$slow * 1000 / $delay" | bc -l)"
printf '  the seven calls from the shell: %7.1f ms; the server takes %.2f x that\n' "$(echo "$direct * 1000" | bc -l)" \
  "$(echo "$slow / $direct" | bc -l)"
printf '  added by the delay:        %7.1f ms = %.2f x the per-call delay (1.00: the seven probes wait together)\n' \
  "$(echo "($slow - $plain) * 1000" | bc -l)" "$(echo "($slow - $plain) * 1000 / $delay" | bc -l)"
