#!/usr/bin/env bash
# Checks that every #include in src/ points down the layers, lints the web client and checks the
# C++ layout (clang-format), builds everything and runs every test; CI runs exactly this.
#   scripts/test.sh           unit tests (CTest), the web client's plain logic in node, end-to-end
#                             tests against the real binary and the simulator, both again under
#                             AddressSanitizer + UBSan, the unit tests and a concurrent load under
#                             ThreadSanitizer, 20 s of fuzzing per target, clang-tidy over src/, and
#                             browser tests in headless Chromium
#   scripts/test.sh --quick   the include, lint and layout checks, unit, web and end-to-end tests
#                             only, for the edit loop
# Stages that do not need each other's output run side by side: the test files spend most of
# their time waiting on servers and timers, so they run while the sanitizer builds compile, and
# that compiling and the fuzzing run at a lower priority than the tests. The node test files of
# all stages share one set of slots (scripts/node-tests.sh): at most two files per core at once,
# at most one browser file (one Chromium) per core. Each stage prints its wall time and the
# 1-minute load average when it ends; the run ends with one line of stage times and the load
# average at its start and end, so a slow run explains itself. Full output of each stage:
# build/test-logs/<stage>.log.
set -uo pipefail
cd "$(dirname "$0")/.."

quick=false
case ${1:-} in
  "") ;;
  --quick) quick=true ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

export LOOMDECK_BUILD="$PWD/build"
logs=build/test-logs
mkdir -p "$logs"
rm -f "$logs"/*.log "$logs/times"
began=$EPOCHREALTIME
load() { cut -d ' ' -f 1 /proc/loadavg; }
load_at_start=$(load)
echo "== load average (1 min) at start: $load_at_start"
export LOOMDECK_TEST_SLOTS="$PWD/$logs/slots"
mkdir -p "$LOOMDECK_TEST_SLOTS"

# Each background stage runs in a process group of its own, so an interrupted run stops them all.
set -m
stop_all() {
  for job in $(jobs -p); do kill -TERM -- "-$job" 2>/dev/null; done
}
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM

since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", b - a }'; }

# stage NAME COMMAND...: runs COMMAND with its output in $logs/NAME.log; prints the verdict, the
# wall time and the log's summary lines (the whole tail when it failed).
stage() {
  local name=$1 start=$EPOCHREALTIME rc secs
  shift
  echo "== $name: started"
  "$@" >"$logs/$name.log" 2>&1
  rc=$?
  secs=$(since "$start")
  {
    flock 9
    if [ $rc -eq 0 ]; then
      echo "== $name: ok in ${secs} s (load $(load))"
      grep -E '^  (ok|FAIL) |^fuzz: |^\[  PASSED  \]|tests passed' "$logs/$name.log" | sed 's/^ */   /'
    else
      echo "== $name: FAILED in ${secs} s, load $(load) (whole output: $logs/$name.log)"
      tail -n 200 "$logs/$name.log" | sed 's/^/   /'
    fi
    echo "$name $secs $rc" >>"$logs/times"
  } 9>>"$logs/.lock"
  return $rc
}

summary() {
  local line="" name secs rc
  for name in layers setup build unit web e2e browser asan-build asan fuzz tsan-build tsan tidy; do
    read -r _ secs rc < <(grep "^$name " "$logs/times" 2>/dev/null) || continue
    line+="${line:+, }$name ${secs} s"
    [ "$rc" -eq 0 ] || line+=" FAILED"
  done
  echo "== stage times: $line; whole run $(since "$began") s (stages overlap); load average (1 min) $load_at_start at start, $(load) at end"
}

if ! stage layers sh -c 'scripts/check-layers.sh && scripts/lint-web.sh && scripts/check-format.sh' || ! stage setup scripts/setup.sh || ! stage build scripts/build.sh; then
  summary
  exit 1
fi

stage unit ctest --test-dir build --output-on-failure -j 2 &
stage web scripts/node-tests.sh tests/web/*.test.mjs &
stage e2e scripts/node-tests.sh tests/e2e/*.test.mjs &
if ! $quick; then
  if compgen -G "tests/browser/*.test.mjs" >/dev/null; then
    stage browser scripts/node-tests.sh tests/browser/*.test.mjs &
  fi
  stage tidy nice -n 10 scripts/tidy.sh &
  (
    stage asan-build nice -n 10 scripts/sanitize.sh asan build || exit 1
    stage asan scripts/sanitize.sh asan run &
    # The fuzzing runs for a set time whatever share it gets, so it yields to the builds beside it.
    stage fuzz nice -n 15 fuzz/run.sh 20 &
    { stage tsan-build nice -n 10 scripts/sanitize.sh tsan build && stage tsan scripts/sanitize.sh tsan run; } &
    failed=0
    for job in $(jobs -p); do wait "$job" || failed=1; done
    exit $failed
  ) &
fi

failed=0
for job in $(jobs -p); do wait "$job" || failed=1; done
summary
exit $failed
