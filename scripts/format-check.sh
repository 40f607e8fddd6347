#!/usr/bin/env bash
# Checks every C++ file that git tracks against .clang-format; with --fix,
# formats them in place instead. Prints the files that differ.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
differ=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
  echo "format: ${#differ[@]} of ${#files[@]} files differ from .clang-format (scripts/format-check.sh --fix):"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format has them"
