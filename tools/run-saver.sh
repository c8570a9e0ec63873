#!/usr/bin/env bash
# Installs whatever is missing, builds, and runs the 64-bit build of the saver full
# screen under Wine: on $DISPLAY when one is set, otherwise on a virtual display.
# After 5 seconds it saves a screenshot to build/x86_64/screenshot.png; after 30 (two
# loops of the clip; SECONDS_SHOWN=N changes it) it ends the saver with a key press and
# says what the run left behind. The bench's VMR-9 is the completion layer
# (tools/vmr9_completion), which logs what the saver hands to the renderer to
# build/x86_64/mixer.log: one caption drawn per loop, and its fades.
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

shown=${SECONDS_SHOWN:-30}
wine_bench run "$root/build/x86_64/vesperine.scr" /s >"$root/build/x86_64/saver-output.log" 2>&1 &
saver=$!
first=$((shown < 5 ? shown : 5))
sleep "$first"
screenshot=$root/build/x86_64/screenshot.png
import -display "$display" -window root "$screenshot"
echo "screenshot: $screenshot"
sleep $((shown - first))

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
echo "captions drawn: $(grep -c ' SetAlphaBitmap ' "$mixer_log" || true)" \
     "(one per loop of about 13 s), opacity steps: $(grep -c ' UpdateAlphaBitmapParameters ' "$mixer_log" || true)"
if [ -e "$bench/prefix/drive_c/windows/vidtmp.avi" ]; then
  echo "vidtmp.avi was left in the Windows folder"
  exit 1
fi
echo "no vidtmp.avi left behind"
exit "$status"
