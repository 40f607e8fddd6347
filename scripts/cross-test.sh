#!/usr/bin/env bash
# Builds everything for the CCU (32-bit ARM, armhf), runs the whole test suite
# under qemu-arm, packs the release archive and checks that the unpacked
# archive answers a CGI request.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh base
# The armhf libraries come from the package mirror. When it cannot give them
# (a broken armhf index, say), the stage is counted as skipped and says why,
# so that the later stages still run; ARMHF_REQUIRED=1 makes it fail instead.
if ! ./scripts/install-deps.sh cross; then
  if [ -n "${ARMHF_REQUIRED:-}" ]; then
    echo "armhf: 0 passed, 1 failed, 0 skipped (the armhf packages could not be installed)"
    if [ -n "${TEST_TALLY:-}" ]; then echo "armhf 0 1 0" >>"$TEST_TALLY"; fi
    exit 1
  fi
  echo "armhf: SKIPPED, the package mirror did not give the armhf packages (see apt's message above)"
  if [ -n "${TEST_TALLY:-}" ]; then echo "armhf 0 0 1" >>"$TEST_TALLY"; fi
  exit 0
fi
./scripts/web-deps.sh
build=build-armhf
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
      -DRELEASE_STATIC=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
./scripts/ctest-counted.sh "$build" armhf

(cd "$build" && rm -f ccu-history-tools-*.tar.gz && cpack -G TGZ >/dev/null)
archive=$(ls "$build"/ccu-history-tools-*-linux-armhf.tar.gz)

# Unpack into an empty folder and ask its HistQuery for a page. There is no
# HistPath.cfg on this machine, so the page ends with that message.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tar -xzf "$archive" -C "$scratch"
top=$(ls -d "$scratch"/ccu-history-tools-*)
request='txDateFrom=2024-03-05&txTimeFrom=00%3A00&txDateTo=2024-03-05&txTimeTo=23%3A59'
page=$(cd "$top" && REQUEST_METHOD=GET QUERY_STRING="$request" TZ=Europe/Berlin \
       qemu-arm -L /usr/arm-linux-gnueabihf bin/HistQuery)
expected_start=$'Content-type: text/html\nX-Frame-Options: SAMEORIGIN\n'
expected_start+=$'Content-Security-Policy: frame-ancestors \'self\'\n\n<!DOCTYPE HTML>'
if [[ "$page" != "$expected_start"* || "$page" != *"Error opening HistPath.cfg<br>"* ]]; then
  echo "release HistQuery did not answer the CGI request as expected:" >&2
  printf '%s\n' "$page" | head -5 >&2
  echo "archive: 0 passed, 1 failed, 0 skipped"
  if [ -n "${TEST_TALLY:-}" ]; then echo "archive 0 1 0" >>"$TEST_TALLY"; fi
  exit 1
fi
# The chart's browser files, uPlot with its licence among them, ship in web/.
for file in uPlot.iife.min.js uPlot.min.css uPlot-LICENSE.txt histchart.js histchart.css; do
  if [ ! -s "$top/web/$file" ]; then
    echo "release archive lacks web/$file" >&2
    echo "archive: 0 passed, 1 failed, 0 skipped"
    if [ -n "${TEST_TALLY:-}" ]; then echo "archive 0 1 0" >>"$TEST_TALLY"; fi
    exit 1
  fi
done
version=$(cd "$top" && qemu-arm -L /usr/arm-linux-gnueabihf bin/CcuDeviceImport --version)
echo "release archive: $archive ($(stat -c %s "$archive") bytes); unpacked HistQuery answers;" \
     "web/ holds the chart's files; $version"
echo "archive: 1 passed, 0 failed, 0 skipped"
if [ -n "${TEST_TALLY:-}" ]; then echo "archive 1 0 0" >>"$TEST_TALLY"; fi
