#!/usr/bin/env bash
# Installs whatever is missing, builds, and runs the 64-bit build of the saver full
# screen under Wine: on $DISPLAY when one is set, otherwise on a virtual display.
# After a few seconds it saves a screenshot to build/x86_64/screenshot.png and ends
# the saver. SECONDS_SHOWN=N changes how long it shows. The bench's VMR-9 is the
# completion layer (tools/vmr9_completion), which logs what the saver hands to the
# renderer to build/x86_64/mixer.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/build.sh >/dev/null
bench=$root/build/x86_64/run-bench
wine_bench() { "$root/tests/bench/wine-bench.sh" "$bench" "$@"; }

VMR9_COMPLETION_DLL=$root/build/x86_64/tools/vmr9_completion/vmr9_completion.dll \
  BENCH_DISPLAY=${DISPLAY:-} wine_bench start >/dev/null
trap 'wine_bench stop' EXIT
display=$(cat "$bench/display")
echo "running the saver on display $display"

mixer_log=$root/build/x86_64/mixer.log
: >"$mixer_log"
export VESPERINE_MIXER_LOG="Z:${mixer_log//\//\\}"   # the saver sees it as a Windows path
echo "the VMR-9 completion layer logs to $mixer_log"

wine_bench run "$root/build/x86_64/vesperine.scr" /s &
saver=$!
sleep "${SECONDS_SHOWN:-5}"

screenshot=$root/build/x86_64/screenshot.png
import -display "$display" -window root "$screenshot"
echo "screenshot: $screenshot"

# A key press ends the saver; taskkill's close request is the fallback.
DISPLAY=$display xdotool key space 2>/dev/null || true
for _ in $(seq 20); do kill -0 "$saver" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$saver" 2>/dev/null; then
  echo "the key press did not end the saver; asking it to close"
  wine_bench run taskkill /im vesperine.scr >/dev/null || true
else
  echo "the key press ended the saver"
fi
status=0
wait "$saver" || status=$?
echo "saver ended with exit code $status"
