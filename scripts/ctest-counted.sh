#!/usr/bin/env bash
# Runs the CTest suite of one build tree and counts what really ran.
# Usage: ctest-counted.sh BUILD_DIR STAGE [CTEST_ARGS...]
# Prints "STAGE: N passed, N failed, N skipped" from CTest's JUnit report and,
# when TEST_TALLY names a file, appends "STAGE PASSED FAILED SKIPPED" to it so
# that scripts/test.sh can add up the stages. Exits with CTest's status; a
# suite that ran no test at all counts as failed.
set -uo pipefail
build=$1 stage=$2
shift 2
report=$build/ctest-results.xml
rm -f "$report"
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 300 \
                      --output-junit ctest-results.xml "$@")
status=$?
counts=$(python3 - "$report" <<'PY'
import sys
import xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError):
    cases = []
passed = failed = skipped = 0
for case in cases:
    state = case.get("status", "")
    if state == "run" and case.find("failure") is None and case.find("error") is None:
        passed += 1
    elif state in ("disabled", "notrun") or case.find("skipped") is not None:
        skipped += 1
    else:
        failed += 1
print(passed, failed, skipped)
PY
)
read -r passed failed skipped <<<"$counts"
if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then
  echo "$stage: no test ran" >&2
  status=1 failed=1
fi
[ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
echo "$stage: $passed passed, $failed failed, $skipped skipped"
if [ -n "${TEST_TALLY:-}" ]; then echo "$stage $passed $failed $skipped" >>"$TEST_TALLY"; fi
exit "$status"
