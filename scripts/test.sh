#!/usr/bin/env bash
# Checks that every #include in src/ points the way the layers allow, then builds everything and
# runs every test: unit tests (CTest), end-to-end tests against the real binary and the
# simulator, the same under the sanitizers, a short fuzzing run, and browser tests in headless
# Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== include layers"
scripts/check-layers.sh

scripts/setup.sh
scripts/build.sh
export LOOMDECK_BUILD="$PWD/build"

echo "== unit tests"
ctest --test-dir build --output-on-failure -j 2

echo "== end-to-end tests"
node --test --test-concurrency=2 tests/e2e/

echo "== unit and end-to-end tests under AddressSanitizer + UBSan"
scripts/sanitize.sh asan

echo "== unit tests and a concurrent load under ThreadSanitizer"
scripts/sanitize.sh tsan

echo "== fuzzing (20 s per target)"
fuzz/run.sh 20

if compgen -G "tests/browser/*.test.mjs" >/dev/null; then
  echo "== browser tests"
  node --test --test-concurrency=1 tests/browser/
fi
