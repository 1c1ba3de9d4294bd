#!/usr/bin/env bash
# Configures and builds loomdeck, its unit tests and the stand-in tools into build/
# (LOOMDECK_BUILD_TARGETS, space-separated, builds only those targets).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LOOMDECK_BUILD:-build}
# Line tables (-g1) are enough for backtraces and sanitizer reports, and compile in about three
# fifths of the time full debug information takes with the JSON templates.
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
fi
read -ra targets <<<"${LOOMDECK_BUILD_TARGETS:-}"
cmake --build "$build" -j 2 ${targets[@]+--target "${targets[@]}"}
