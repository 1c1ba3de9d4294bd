#!/usr/bin/env bash
# Fails when a C++ file of src/, tests/unit/ or fuzz/ is not laid out as .clang-format says,
# naming the first place that differs in each such file.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || scripts/setup.sh
mapfile -d '' files < <(find src tests/unit fuzz \( -name '*.h' -o -name '*.cc' \) -print0 | sort -z)
if ! clang-format --style=file --dry-run -Werror --ferror-limit=1 "${files[@]}"; then
  echo "check-format: lay the files above out with: clang-format -i FILE..."
  exit 1
fi
echo "check-format: ${#files[@]} C++ files match .clang-format"
