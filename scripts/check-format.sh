#!/usr/bin/env bash
# Fails when a C++ source is not formatted as .clang-format says.
# With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' '*.c' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ ${#files[@]} -eq 0 ] && exit 0
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/rawbench-format.$$; then
  head -40 /tmp/rawbench-format.$$
  rm -f /tmp/rawbench-format.$$
  echo "Unformatted sources: run scripts/check-format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/rawbench-format.$$
