#!/usr/bin/env bash
# Runs `node --test` files side by side, each in a network namespace of its own, so every file
# has the port range 8930-8940 (and every other port) to itself: no file sees the servers of
# another, nor a dashboard already running on this machine.
#   scripts/node-tests.sh [-j N] file...      at most N files of this call at once
# However many calls run at once, together they run at most LOOMDECK_TEST_JOBS files (default two
# per core) and at most LOOMDECK_TEST_BROWSERS files under tests/browser/ (default one per core:
# each drives a Chromium of its own), so the files never load the machine past what it carries.
# The calls share their slots through LOOMDECK_TEST_SLOTS, a folder of lock files (scripts/test.sh
# makes one for its stages); without it a call uses slots of its own.
# The files start longest first, by their last recorded wall time (LOOMDECK_TEST_DURATIONS, by
# default build/test-logs/durations, else the committed tests/durations; files never timed go
# first, in the order given): a long file that started last would hold up the whole run.
# Prints one line per file as it ends, with its wall time; a failed file's output follows its line.
# Where namespaces are not available (not root, or a container without CAP_SYS_ADMIN), the files
# run one at a time instead, since side by side they would share the port range.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=0
if [ "${1:-}" = -j ]; then jobs=$2; shift 2; fi
[ $# -gt 0 ] || { echo "usage: scripts/node-tests.sh [-j N] file..." >&2; exit 2; }
[ "$jobs" -gt 0 ] || jobs=$#
cores=$(nproc)
file_slots=${LOOMDECK_TEST_JOBS:-$((2 * cores))}
browser_slots=${LOOMDECK_TEST_BROWSERS:-$cores}

isolate=()
if command -v ip >/dev/null && unshare --net ip link set lo up 2>/dev/null; then
  isolate=(unshare --net sh -c 'ip link set lo up && exec "$0" "$@"')
else
  echo "node-tests: no network namespaces here; running the files one at a time"
  jobs=1
fi

out=$(mktemp -d "${TMPDIR:-/tmp}/node-tests.XXXXXX")
trap 'rm -rf "$out"' EXIT
slots=${LOOMDECK_TEST_SLOTS:-$out}
mkdir -p "$slots"

# take KIND COUNT: waits until one of the COUNT lock files KIND.<n> is free and holds its lock on
# descriptor 8. A lock lasts while a copy of its descriptor is open: the file's runner keeps one,
# the file itself gets none, so nothing it leaves behind can hold a slot.
take() {
  local n
  for (( ; ; )); do
    for (( n = 0; n < $2; n++ )); do
      exec 8>>"$slots/$1.$n"
      flock -n 8 && return 0
    done
    exec 8>&-
    sleep 0.2
  done
}

# `timeout` runs each file in a process group of its own and passes a signal on to all of it,
# the file's servers and browsers included: a stopped run stops them too.
stop_files() {
  for f in "$out"/pid.*; do [ -e "$f" ] && kill -TERM "$(cat "$f")" 2>/dev/null; done
}
trap 'stop_files; exit 143' TERM
trap 'stop_files; exit 130' INT

durations=${LOOMDECK_TEST_DURATIONS:-build/test-logs/durations}
mkdir -p "$(dirname "$durations")"
declare -A took=()
for times in tests/durations "$durations"; do
  [ -f "$times" ] || continue
  while read -r secs file; do [[ $secs == \#* ]] || took[$file]=$secs; done <"$times"
done
mapfile -t files < <(for f in "$@"; do printf '%s %s\n' "${took[$f]:-inf}" "$f"; done | sort -s -g -r -k 1,1 | cut -d ' ' -f 2-)

# A file that hangs fails here rather than holding the whole run.
file_limit=${LOOMDECK_TEST_FILE_LIMIT:-900}

run_one() {  # index file
  local log="$out/$1.log" start=$EPOCHREALTIME rc
  "${isolate[@]}" timeout -k 10 "$file_limit" node --test --test-reporter=spec "$2" >"$log" 2>&1 7>&- 8>&- &
  echo $! >"$out/pid.$1"
  wait $!
  rc=$?
  rm -f "$out/pid.$1"
  local secs tests
  secs=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  tests=$(sed -n 's/^ℹ tests \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  {
    flock 9
    if [ $rc -eq 0 ]; then
      printf '  ok    %6s s  %s (%s tests)\n' "$secs" "$2" "${tests:-?}"
    else
      [ $rc -eq 124 ] && echo "node-tests: $2 still ran after ${file_limit}s and was stopped" >>"$log"
      printf '  FAIL  %6s s  %s\n' "$secs" "$2"
      sed 's/^/      /' "$log"
      touch "$out/failed.$1"
    fi
  } 9>"$out/lock"
  { flock 9; echo "$secs $2" >>"$durations"; } 9>>"$durations.lock"
}

i=0
for f in "${files[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  # A browser file takes its browser slot first: waiting for it holds no file slot.
  case $f in */browser/*) take browser "$browser_slots"; exec 7>&8 ;; esac
  take file "$file_slots"
  run_one "$i" "$f" &
  exec 7>&- 8>&-
  i=$((i + 1))
done
wait
# Only the latest time of each file is kept.
{
  flock 9
  awk '{ t[$2] = $1 } END { for (f in t) print t[f], f }' "$durations" >"$durations.new" && mv "$durations.new" "$durations"
} 9>>"$durations.lock"

failed=$(find "$out" -name 'failed.*' | wc -l)
echo "node-tests: $(( $# - failed )) of $# files passed"
[ "$failed" -eq 0 ]
