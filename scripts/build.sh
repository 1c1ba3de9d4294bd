#!/usr/bin/env bash
# Configures and builds loomdeck, its unit tests and the stand-in tools into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LOOMDECK_BUILD:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2
