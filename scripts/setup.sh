#!/usr/bin/env bash
# Installs what the build and the tests need, only when it is missing (Debian packages, npm ci).
set -euo pipefail
cd "$(dirname "$0")/.."

# Every program the build, the tests, the stand-ins and the demo run (tests/e2e/setup_list.test.mjs
# keeps this list complete): unzip checks the browser-made bundles, espeak-ng and lame let the
# speech stand-in speak, iproute2 gives each test file a network namespace of its own,
# clang-format and clang-tidy check the C++ (scripts/check-format.sh, scripts/tidy.sh).
packages=(build-essential cmake ninja-build nlohmann-json3-dev libgtest-dev googletest curl coreutils util-linux iproute2
          nodejs npm chromium clang libclang-rt-14-dev clang-format clang-tidy unzip espeak-ng lame)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# A machine that already has Node.js from elsewhere needs no Debian nodejs/npm.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]}"; do [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Reinstall the test tools when the lock file changed since the last install.
if [ ! -f node_modules/.package-lock.json ] || ! cmp -s package-lock.json node_modules/.lock-copy 2>/dev/null; then
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.lock-copy
fi
