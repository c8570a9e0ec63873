#!/usr/bin/env bash
# The test bench: a private Wine prefix inside the build folder and a virtual X display
# of its own, so that no test depends on the developer's display, home or prefix.
#
#   wine-bench.sh BENCH_DIR start      make the prefix once, start Xvfb on a free display
#                                      (or use BENCH_DISPLAY when set) and keep a Wine
#                                      server running
#   wine-bench.sh BENCH_DIR stop       end the Wine server and the display
#   wine-bench.sh BENCH_DIR run CMD... run a Windows program under 64-bit Wine on the bench
#
# When VMR9_COMPLETION_DLL names the built vmr9_completion.dll, `start` registers it as
# the prefix's VMR-9 (it completes what Wine's lacks, see tools/vmr9_completion);
# without it `start` leaves or puts back Wine's own.
set -euo pipefail

bench=$(realpath -m "$1")
action=$2
shift 2

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX=$bench/prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset WINEARCH

aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'

make_prefix() {
  [ -f "$WINEPREFIX/.bench-ready-2" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  # No display is needed to make the prefix.
  DISPLAY= "$WINE" wineboot -i >/dev/null 2>&1
  # A fault that reaches the system's treatment gets no debugger and no crash dialog:
  # the unhandled-exception filter then answers at once. A test that wants the
  # debugger's verdict sets it for itself.
  "$WINE" reg add "$aedebug" /v Debugger /d 'Z:\nonexistent\no-debugger.exe' /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # There is no window manager on the virtual display: unmanaged windows keep Wine from
  # waiting for one at every window that is hidden or destroyed.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/.bench-ready-2"
}

vmr9_server='HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{51B4ABF3-748F-4E3B-A276-C828330E926A}\InprocServer32'
bench_key='HKEY_LOCAL_MACHINE\Software\Vesperine\Bench'

# Points the VMR-9's class at the completion layer, or back at Wine's quartz.dll. The
# value Wine's own registration wrote is read once per prefix and kept beside it, and in
# the registry under $bench_key for the tests that switch the layer off and on. Wine's
# own ThreadingModel there is "Both" as well.
register_vmr9() {
  local wine_value=$WINEPREFIX/.vmr9-wine-server
  if [ ! -s "$wine_value" ]; then
    [ -n "${VMR9_COMPLETION_DLL:-}" ] || return 0   # never changed in this prefix
    local found
    found=$("$WINE" reg query "$vmr9_server" /ve 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')
    case $found in
    '' | *vmr9_completion*) found='C:\windows\system32\quartz.dll' ;;
    esac
    printf '%s\n' "$found" >"$wine_value"
  fi
  local server
  server=$(cat "$wine_value")
  if [ -n "${VMR9_COMPLETION_DLL:-}" ]; then
    server="Z:$(realpath -m "$VMR9_COMPLETION_DLL" | tr / '\\')"
  fi
  local reg
  reg=$(mktemp --suffix=.reg)
  {
    printf 'REGEDIT4\n\n[%s]\n@="%s"\n"ThreadingModel"="Both"\n\n' "$vmr9_server" "${server//\\/\\\\}"
    printf '[%s]\n"VMR9 Wine server"="%s"\n' "$bench_key" "$(sed 's/\\/\\\\/g' "$wine_value")"
  } >"$reg"
  "$WINE" regedit /S "Z:$(tr / '\\' <<<"$reg")" >/dev/null 2>&1
  rm -f "$reg"
}

start_display() {
  local n
  for n in $(seq 90 189); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$bench/xvfb.log" 2>&1 </dev/null &
    local pid=$!
    for _ in $(seq 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        echo "$pid" >"$bench/xvfb.pid"
        echo ":$n" >"$bench/display"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  echo "no free X display number" >&2
  return 1
}

case $action in
start)
  mkdir -p "$bench"
  "$0" "$bench" stop
  make_prefix
  if [ -n "${BENCH_DISPLAY:-}" ]; then
    echo "$BENCH_DISPLAY" >"$bench/display"
  else
    start_display
  fi
  # Keep the server alive between test processes so each start is quick. It returns
  # once the server is ready and stays in the background.
  setsid "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  DISPLAY=$(cat "$bench/display") register_vmr9
  echo "bench ready on display $(cat "$bench/display"), prefix $WINEPREFIX"
  ;;
stop)
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -f "$bench/xvfb.pid" ]; then
    kill "$(cat "$bench/xvfb.pid")" 2>/dev/null || true
    rm -f "$bench/xvfb.pid"
  fi
  rm -f "$bench/display"
  ;;
run)
  if [ ! -f "$bench/display" ]; then
    echo "the bench is not started: run '$0 $bench start' first" >&2
    exit 1
  fi
  DISPLAY=$(cat "$bench/display")
  export DISPLAY
  # Wine may start helper processes (services, the desktop) that outlive the program;
  # they must not hold the caller's output open, or the caller waits for them.
  log=$(mktemp)
  status=0
  "$WINE" "$@" >"$log" 2>&1 </dev/null || status=$?
  cat "$log"
  rm -f "$log"
  exit "$status"
  ;;
*)
  echo "usage: $0 BENCH_DIR start|stop|run CMD..." >&2
  exit 2
  ;;
esac
