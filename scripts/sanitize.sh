#!/usr/bin/env bash
# The sanitizer stages of the test command, each in its own incremental build folder:
#   scripts/sanitize.sh asan [build|run]   unit tests and the end-to-end suite under AddressSanitizer + UBSan
#   scripts/sanitize.sh tsan [build|run]   unit tests and a concurrent end-to-end load under ThreadSanitizer
# Without build or run it does both. build-asan/ is a clang build that also holds the libFuzzer
# targets of fuzz/ (fuzz/run.sh uses it), so the library is compiled once for both. The stand-in
# tools come from the plain build/ (scripts/build.sh builds them). Any sanitizer report fails the
# stage: the runtimes halt on the first one, and the end-to-end harness fails a test whose server
# or command printed one.
set -euo pipefail
cd "$(dirname "$0")/.."
stage=${1:-}
step=${2:-all}
usage() { echo "usage: scripts/sanitize.sh asan|tsan [build|run]" >&2; exit 2; }

# Line tables are all a sanitizer report needs; -O1 keeps the instrumented code quick to build and run.
flags=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DLOOMDECK_SIM=OFF
       -DLOOMDECK_UNIT_PER_FOLDER=OFF -DLOOMDECK_UNITY_BATCH=0)
case $stage in
  asan)
    dir=build-asan
    flags+=(-DCMAKE_CXX_COMPILER=clang++ -DLOOMDECK_SANITIZE=address,undefined -DLOOMDECK_FUZZ=ON)
    targets=(loomdeck unit_tests fuzzers)
    ;;
  tsan)
    dir=build-tsan
    flags+=(-DLOOMDECK_SANITIZE=thread)
    targets=(loomdeck unit_tests)
    ;;
  *) usage ;;
esac
case $step in all | build | run) ;; *) usage ;; esac

if [ "$step" != run ]; then
  # A folder configured with other options (an older layout of these stages) starts afresh.
  if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$dir/.configured-with" 2>/dev/null)" != "${flags[*]}" ]; then
    rm -rf "$dir"
    cmake -S . -B "$dir" "${flags[@]}" >/dev/null
    echo "${flags[*]}" >"$dir/.configured-with"
  fi
  cmake --build "$dir" -j 2 --target "${targets[@]}"
fi
[ "$step" != build ] || exit 0

export LOOMDECK_SIM_BIN=${LOOMDECK_SIM_BIN:-$PWD/build/sim}
export LOOMDECK_FAIL_ON_STDERR='ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|WARNING: ThreadSanitizer'
export LOOMDECK_BUILD="$PWD/$dir"
# Tests that measure the server's memory read it to skip what only the sanitizer's allocator decides.
if [ "$stage" = asan ]; then export LOOMDECK_SANITIZER=address; else export LOOMDECK_SANITIZER=thread; fi
case $stage in
  asan)
    # A small quarantine keeps the memory figures of the hostile-client tests meaningful.
    export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1:quarantine_size_mb=16:allocator_release_to_os_interval_ms=500
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    for tests in "$dir"/unit/unit_*; do "$tests" --gtest_brief=1; done
    # The launcher tests (startup.test.mjs) hold a background start-up to its 10 s budget, which
    # an instrumented build on a busy machine can miss; they run in the plain end-to-end stage.
    mapfile -t e2e < <(ls tests/e2e/*.test.mjs | grep -v '/startup\.test\.mjs$')
    scripts/node-tests.sh "${e2e[@]}"
    ;;
  tsan)
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    # ThreadSanitizer maps its shadow memory at fixed addresses, which a fully randomised
    # address space can collide with; run without address randomisation.
    norandom=(setarch "$(uname -m)" -R)
    for tests in "$dir"/unit/unit_*; do "${norandom[@]}" "$tests" --gtest_brief=1; done
    "${norandom[@]}" scripts/node-tests.sh tests/e2e/hostile_concurrency.test.mjs
    ;;
esac
