#!/usr/bin/env bash
# Builds everything and runs every test: unit tests (CTest), end-to-end tests against the real
# binary and the simulator, and browser tests in headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export LOOMDECK_BUILD="$PWD/build"

echo "== unit tests"
ctest --test-dir build --output-on-failure -j 2

echo "== end-to-end tests"
node --test --test-concurrency=2 tests/e2e/

if compgen -G "tests/browser/*.test.mjs" >/dev/null; then
  echo "== browser tests"
  node --test --test-concurrency=1 tests/browser/
fi
