#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. host build: the format check, unit, end-to-end, load and fault tests, the report in a
#      real browser
#   2. sanitizer build (address, undefined behaviour): the whole suite again
#   3. armhf cross-build: the whole suite under qemu-arm, the release archive
#   4. fuzzers, each for a short bounded time
# QUICK=1 runs step 1 only (without the browser).
# Each stage prints what it counted; the last line adds them up, also when a
# stage failed and the run stopped there.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

TEST_TALLY=$(mktemp)
export TEST_TALLY
summary() {
  local status=$?
  awk -v status="$status" '
    { printf "  %-8s %d passed, %d failed, %d skipped\n", $1, $2, $3, $4
      p += $2; f += $3; s += $4 }
    END { if (status != 0 && f == 0) f = 1
          printf "total: %d passed, %d failed, %d skipped\n", p, f, s }' "$TEST_TALLY"
  rm -f "$TEST_TALLY"
}
trap summary EXIT

step "host build and tests"
./scripts/install-deps.sh base
./scripts/web-deps.sh
if ./scripts/format-check.sh; then echo "format 1 0 0" >>"$TEST_TALLY"
else echo "format 0 1 0" >>"$TEST_TALLY"; exit 1; fi
browser=OFF
if [ -z "${QUICK:-}" ]; then
  ./tests/browser/setup.sh
  browser=ON
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBROWSER_TESTS=$browser
cmake --build build -j"$(nproc)"
./scripts/ctest-counted.sh build host
[ -n "${QUICK:-}" ] && exit 0

step "sanitizer build and tests"
./scripts/sanitize-test.sh

step "armhf build, tests under qemu, release archive"
./scripts/cross-test.sh

step "fuzzers"
./scripts/fuzz.sh
step "all done"
