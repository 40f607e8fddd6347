#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite on that build.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh base
./scripts/web-deps.sh
build=build-asan
cmake -S . -B "$build" -DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
./scripts/ctest-counted.sh "$build" sanitize
