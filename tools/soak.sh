#!/usr/bin/env bash
# Installs whatever is missing, builds both targets and runs the soak tests under
# 64-bit Wine (CTest label "soak", left out of tools/test.sh): 100 full-screen
# start/stop cycles, ten minutes of play and 10,000 random argument strings, about
# 40 minutes in all. CTest's output goes to build/x86_64/soak.log; the figures the
# tests report and CTest's summary are printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build.sh
log=build/x86_64/soak.log
status=0
ctest --test-dir build/x86_64 -L soak --output-on-failure -V >"$log" 2>&1 || status=$?
grep -a 'soak:' "$log" | sed 's/^[0-9]*: //' || true
sed -n '/tests passed\|tests failed/,$p' "$log"
exit $status
