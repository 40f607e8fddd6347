#!/bin/sh
# Runs every benchmark and prints one table: HistQuery and HistSeries against
# the sqlite3 shell on 1 and 10 million rows (with and without indexes), and
# CcuDeviceImport against Python's xmlrpc.client.
#
#   bench/run.sh                   full run (about 15 minutes on 2 cores)
#   BENCH_ROWS=200000 bench/run.sh  quick smoke run
#
# Environment: BENCH_ROWS (comma-separated row counts, default
# 1000000,10000000), BENCH_REPS (repetitions, default 5), BENCH_LARGE
# (devices per import service, comma-separated, default 250,3000: 1,000 and
# 12,000 records per port), BENCH_DIR (scratch directory
# for the databases, default /tmp/bench; never inside the repository),
# BENCH_BUILD (build directory, default build-bench of the repository, built
# here as a Release build linked like the shipped release: C++ runtime and
# SQLite inside the programs). Extra arguments go to bench.py (e.g. --only import).
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$repo/build-bench}
"$repo/scripts/web-deps.sh"
log=$(mktemp)
if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRELEASE_STATIC=ON &&
       cmake --build "$build" -j2 --target HistQuery-localcfg HistSeries-localcfg \
             CcuDeviceImport; } >"$log" 2>&1; then
  cat "$log"; rm -f "$log"; exit 1
fi
rm -f "$log"
echo "machine: $(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)," \
     "$(sqlite3 --version | cut -d' ' -f1-2)"
exec python3 "$repo/bench/bench.py" --build "$build" \
    --dir "${BENCH_DIR:-/tmp/bench}" \
    --rows "${BENCH_ROWS:-1000000,10000000}" \
    --reps "${BENCH_REPS:-5}" \
    --large "${BENCH_LARGE:-250,3000}" \
    --json "${BENCH_DIR:-/tmp/bench}/results.json" "$@"
