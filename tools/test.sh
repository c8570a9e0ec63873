#!/usr/bin/env bash
# Installs whatever is missing, builds both targets and runs every test under 64-bit
# Wine on a virtual display of the tests' own (CTest starts and stops it).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build.sh
ctest --preset test
