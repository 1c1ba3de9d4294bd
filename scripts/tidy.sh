#!/usr/bin/env bash
# The tidy stage of the test command: clang-tidy with the checks of .clang-tidy over every source
# file of src/ and the headers they include; any finding fails it. It reads the unity batches of
# build-tidy/ (configured for its compile_commands.json only; nothing is compiled: src/ includes
# no generated header), so the JSON and library headers are parsed once per batch, not once per
# file; the sources come in as included files, which the header filter (/src/) covers. The
# folder lies inside the checkout so that clang-tidy finds .clang-tidy from the batches.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v run-clang-tidy >/dev/null || scripts/setup.sh
dir=build-tidy
flags=(-G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLOOMDECK_UNITY=ON -DLOOMDECK_UNITY_BATCH=0 -DLOOMDECK_TESTS=OFF -DLOOMDECK_SIM=OFF
       -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
# Configured every time (a second or so), so sources added since are listed too.
[ "$(cat "$dir/.configured-with" 2>/dev/null)" = "${flags[*]}" ] || rm -rf "$dir"
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
echo "${flags[*]}" >"$dir/.configured-with"
# A batch includes its sources by design, which bugprone-suspicious-include would flag.
# run-clang-tidy always asks for colour; the log is read as plain text.
run-clang-tidy -p "$dir" -j 2 -quiet -checks=-bugprone-suspicious-include "^$PWD/$dir/src/CMakeFiles/" 2>&1 |
  sed -e 's/\x1b\[[0-9;]*m//g' | { grep -v -e ' warnings\? generated\.$' -e '^clang-tidy' || true; }
echo "tidy: src/ is clean"
