#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each on a copy of its
# seed corpus for a bounded time.
#
# Usage: scripts/fuzz.sh [HARNESS...]     (default: every harness; names as
#                                         in fuzz/, e.g. text or fuzz_text)
# Environment: FUZZ_SECONDS  seconds per harness (default 10)
#              FUZZ_BUILD    build directory (default build-fuzz)
#              FUZZ_KEEP     directory that keeps the grown corpora and any
#                            crash inputs (default: a temporary one, removed
#                            unless something was found)
# The repository's corpus is never changed. Prints the inputs each harness
# ran; exits 1 when a harness crashed, leaked or had a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${FUZZ_SECONDS:-10}
build=${FUZZ_BUILD:-$root/build-fuzz}
[[ $build = /* ]] || build=$root/$build

./scripts/install-deps.sh base fuzz
./scripts/web-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DFUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzzers

if [ -n "${FUZZ_KEEP:-}" ]; then
  work=$FUZZ_KEEP
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-run-XXXXXX")
fi

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  mapfile -t harnesses < "$build/fuzz/harnesses.txt"
fi

export TZ=Europe/Berlin
failed=()
for harness in "${harnesses[@]}"; do
  name=${harness#fuzz_}
  binary=$build/fuzz/fuzz_$name
  [ -x "$binary" ] || { echo "fuzz.sh: no harness $name" >&2; exit 2; }
  corpus=$work/$name/corpus
  mkdir -p "$corpus"
  cp -n "$root/fuzz/corpus/$name/"* "$corpus/" 2>/dev/null || true
  log=$work/$name/fuzz.log
  status=0
  # Absolute paths only: a harness may change its working directory while
  # an input runs.
  "$binary" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$name/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|fuzz check failed' "$log"; then
    echo "fuzz $name: FAILED after ${runs:-?} inputs (status $status); log and input in $work/$name/"
    grep -m 5 -E 'ERROR:|runtime error:|fuzz check failed|SUMMARY:|Test unit written' "$log" | sed 's/^/  /'
    failed+=("$name")
  else
    echo "fuzz $name: ${runs:-?} inputs in ${seconds}s, no crash, no sanitizer report"
  fi
done

clean=$(( ${#harnesses[@]} - ${#failed[@]} ))
if [ -n "${TEST_TALLY:-}" ]; then echo "fuzz $clean ${#failed[@]} 0" >>"$TEST_TALLY"; fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} of ${#harnesses[@]} harnesses failed: ${failed[*]}"
  exit 1
fi
[ -n "${FUZZ_KEEP:-}" ] || rm -rf "$work"
echo "fuzz: all ${#harnesses[@]} harnesses clean"
