#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan, in build-asan/ beside the
# sanitizer build of the unit tests) and runs each for a bounded time on its committed seeds. New
# finds go to build-asan/corpus/, never into fuzz/corpus/; an input that breaks a target is saved
# under build-asan/artifacts/ and fails the run.
# Usage: fuzz/run.sh [seconds per target, default 20] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
build=build-asan
all=(request tts_text settings bridge_output status_payload)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

scripts/sanitize.sh asan build

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  case $t in
    request) dict=fuzz/request.dict; max_len=20000 ;;
    tts_text) dict=fuzz/tts.dict; max_len=4096 ;;
    *) dict=fuzz/json.dict; max_len=8192 ;;
  esac
  mkdir -p "$build/corpus/$t"
  log="$build/fuzz-$t.log"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
      -dict="$dict" -artifact_prefix="$build/artifacts/$t-" -print_final_stats=1 \
      "$build/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $t FAILED (input saved under $build/artifacts/, log in $log)"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  echo "fuzz: $t ok, ${runs:-?} inputs in ${seconds}s, $cov"
done
