#!/usr/bin/env bash
# Builds the shipped 32-bit saver (build/i686/vesperine.scr) and the x86_64 build with
# its tests (build/x86_64), after installing whatever is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
for preset in shipped test; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
