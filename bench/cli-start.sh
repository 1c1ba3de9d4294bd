#!/usr/bin/env bash
# Wall time of `loomdeck health` (a whole process start and exit) against /bin/true.
source "$(dirname "$0")/common.sh"
bench_need hyperfine hyperfine
bench_build
bench_sandbox
echo "CLI start: hyperfine -N --warmup 20 --runs 500"
hyperfine -N --warmup 20 --runs 500 --style basic "$LOOMDECK health" /bin/true 2>&1 | grep -E 'Benchmark|Time \(mean|Range|faster than|±'
