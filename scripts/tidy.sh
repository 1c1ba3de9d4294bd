#!/usr/bin/env bash
# The tidy stage of the test command: clang-tidy with the checks of .clang-tidy over every source
# file of src/ and the headers they include; any finding fails it. The unity build batches
# sources, so build-tidy/ is configured file by file, only for its compile_commands.json (nothing
# is compiled: src/ includes no generated header).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v run-clang-tidy >/dev/null || scripts/setup.sh
dir=build-tidy
flags=(-G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLOOMDECK_UNITY=OFF -DLOOMDECK_TESTS=OFF -DLOOMDECK_SIM=OFF
       -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
# Configured every time (a second or so), so sources added since are listed too.
[ "$(cat "$dir/.configured-with" 2>/dev/null)" = "${flags[*]}" ] || rm -rf "$dir"
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
echo "${flags[*]}" >"$dir/.configured-with"
# run-clang-tidy always asks for colour; the log is read as plain text.
run-clang-tidy -p "$dir" -j 2 -quiet "^$PWD/src/" 2>&1 | sed -e 's/\x1b\[[0-9;]*m//g' |
  { grep -v ' warnings\? generated\.$' || true; }
echo "tidy: src/ is clean"
