#!/usr/bin/env bash
# The sanitizer stages of the test command, each in its own incremental build folder:
#   scripts/sanitize.sh asan   unit tests and the end-to-end suite under AddressSanitizer + UBSan
#   scripts/sanitize.sh tsan   unit tests and a concurrent end-to-end load under ThreadSanitizer
# The stand-in tools come from the plain build/ (scripts/build.sh builds them). Any sanitizer
# report fails the stage: the runtimes halt on the first one, and the end-to-end harness fails a
# test whose server or command printed one.
set -euo pipefail
cd "$(dirname "$0")/.."
stage=${1:?usage: scripts/sanitize.sh asan|tsan}

build_with() {  # folder sanitizers
  if [ ! -f "$1/build.ninja" ]; then
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMDECK_SANITIZE="$2" -DLOOMDECK_SIM=OFF >/dev/null
  fi
  cmake --build "$1" -j 2 --target loomdeck unit_tests
}

export LOOMDECK_SIM_BIN=${LOOMDECK_SIM_BIN:-$PWD/build/sim}
export LOOMDECK_FAIL_ON_STDERR='ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|WARNING: ThreadSanitizer'
case $stage in
  asan)
    build_with build-asan address,undefined
    # A small quarantine keeps the memory figures of the hostile-client tests meaningful.
    export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1:quarantine_size_mb=16:allocator_release_to_os_interval_ms=500
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    build-asan/unit_tests --gtest_brief=1
    # The launcher tests (startup.test.mjs) hold a background start-up to its 10 s budget, which
    # an instrumented build on a busy machine can miss; they run in the plain end-to-end stage.
    mapfile -t e2e < <(ls tests/e2e/*.test.mjs | grep -v '/startup\.test\.mjs$')
    LOOMDECK_BUILD="$PWD/build-asan" node --test --test-concurrency=2 "${e2e[@]}"
    ;;
  tsan)
    build_with build-tsan thread
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    # ThreadSanitizer maps its shadow memory at fixed addresses, which a fully randomised
    # address space can collide with; run without address randomisation.
    norandom=(setarch "$(uname -m)" -R)
    "${norandom[@]}" build-tsan/unit_tests --gtest_brief=1
    LOOMDECK_BUILD="$PWD/build-tsan" "${norandom[@]}" node --test tests/e2e/hostile_concurrency.test.mjs
    ;;
  *)
    echo "usage: scripts/sanitize.sh asan|tsan" >&2
    exit 2
    ;;
esac
