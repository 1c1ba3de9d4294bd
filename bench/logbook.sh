#!/usr/bin/env bash
# Memory and file bounds of the logbook under a burst of LED changes (default 10,000): the newest
# 2,000 entries stay in memory, and the file and its one previous file stay near 1 MiB each.
# Usage: bench/logbook.sh [changes, default 10000]
source "$(dirname "$0")/common.sh"
changes=${1:-10000}
if [ ! -f "$BENCH_BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DLOOMDECK_TESTS=OFF >/dev/null
fi
cmake --build "$BENCH_BUILD" -j 2 --target logbook_burst >/dev/null
BENCH_DIR=$(mktemp -d /tmp/loomdeck-bench-XXXXXX)
"$BENCH_BUILD/bench/logbook_burst" "$BENCH_DIR/logbook.jsonl" "$changes"
