#!/usr/bin/env bash
# Checks every C++ file of the project against .clang-format; with --fix,
# formats them in place instead. Prints the files that differ. Build trees
# (build*/) and npm's node_modules are not the project's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find . -path './build*' -prune -o -name node_modules -prune -o -name demo-run -prune -o \
                          -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
if [ ${#files[@]} -eq 0 ]; then
  echo "format: no C++ files found" >&2
  exit 1
fi
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
