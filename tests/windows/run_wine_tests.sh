#!/usr/bin/env bash
# Builds orvlink.dll and its tests for 64-bit Windows and runs them under Wine
# against the Linux simulators:
#   1. the simulators' host (orvwine_simhost) serves COM1, COM2 and COM12 on
#      pseudo-terminals, raw before Wine ever opens them;
#   2. a Wine prefix (made once) maps those COM ports to the ptys through the
#      registry and holds the line settings in win.ini's [Ports];
#   3. a persistent wineserver with the pty shim preloaded, warmed up with its
#      stdio on /dev/null, so that no Wine helper keeps ctest's pipes open;
#   4. ctest in the Windows build (the emulator is wine);
#   5. Wine is stopped before the ptys close.
#
#   tests/windows/run_wine_tests.sh [ctest arguments...]
# Builds in build-win64 and build-winhost (ORVWINE_BUILD, ORVWINE_HOST_BUILD).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=${ORVWINE_BUILD:-$root/build-win64}
host=${ORVWINE_HOST_BUILD:-$root/build-winhost}
jobs=${ORVWINE_JOBS:-2}
ports=(1 2 12)

step() { echo "--- $*"; }

step "building the simulators' host and the pty shim ($host)"
cmake -S "$root" -B "$host" -DCMAKE_BUILD_TYPE=Release -DORVLINK_TESTS=OFF -DORVLINK_BENCH=OFF \
  ${ORVLINK_CMAKE_ARGS:-} >/dev/null
cmake --build "$host" -j"$jobs" --target orvwine_simhost orvwine_ptyshim >/dev/null

step "building orvlink.dll and its tests ($win)"
cmake -S "$root" -B "$win" --toolchain "$root/cmake/toolchains/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release ${ORVLINK_CMAKE_ARGS:-} >/dev/null
cmake --build "$win" -j"$jobs" >/dev/null

state=$win/wine
mkdir -p "$state"
export WINEPREFIX=$state/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
export ORVLINK_PTYSHIM_LOG=$state/shim.log
shim=$host/lib/orvwine_ptyshim.so
: >"$ORVLINK_PTYSHIM_LOG"

# Wine's helpers must never hold this script's or ctest's output.
quiet() { "$@" </dev/null >/dev/null 2>&1; }
wine_env() { LD_PRELOAD=$shim "$@"; }

simhost=""
stop_all() {
  # Wine first: a pty whose other end closes under the server floods its output.
  quiet wineserver -k || true
  quiet wineserver -w || true
  if [ -n "$simhost" ]; then
    kill "$simhost" 2>/dev/null || true
    wait "$simhost" 2>/dev/null || true
  fi
}
trap stop_all EXIT

step "starting the simulators"
rm -f "$state/ports/control-port"
"$host/bin/orvwine_simhost" --dir "$state/ports" --shim-log "$ORVLINK_PTYSHIM_LOG" \
  </dev/null >"$state/simhost.log" 2>&1 &
simhost=$!
for _ in $(seq 100); do
  [ -s "$state/ports/control-port" ] && break
  kill -0 "$simhost" 2>/dev/null || { cat "$state/simhost.log"; exit 1; }
  sleep 0.1
done
[ -s "$state/ports/control-port" ] || { echo "the simulators' host did not start"; exit 1; }
export ORVWINE_CONTROL_PORT=$(cat "$state/ports/control-port")

step "preparing the Wine prefix ($WINEPREFIX)"
quiet wineserver -k || true
quiet wineserver -w || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  quiet wineboot -i
  quiet wineserver -w
fi
for p in "${ports[@]}"; do
  quiet wine reg add 'HKLM\Software\Wine\Ports' /v "COM$p" /t REG_SZ /d "$state/ports/com$p" /f
done
quiet wineserver -w  # the port mapping is read when the server starts

# win.ini: the [Ports] section afresh, with the system's CR LF line ends.
ini=$WINEPREFIX/drive_c/windows/win.ini
touch "$ini"
awk 'BEGIN { skip = 0 }
     /^\[/ { skip = (tolower($0) ~ /^\[ports\]/) }
     !skip { print }' "$ini" | tr -d '\r' | sed 's/$/\r/' >"$ini.new"
{ printf '[Ports]\r\n'; for p in "${ports[@]}"; do printf 'COM%s:=9600,n,8,1\r\n' "$p"; done; } >>"$ini.new"
mv "$ini.new" "$ini"

step "starting a persistent wineserver"
quiet wine_env wineserver -p
quiet wine_env wine cmd /c exit

step "running the tests"
start=$(date +%s%N)
status=0
wine_env ctest --test-dir "$win" --output-on-failure --timeout 120 "$@" || status=$?
echo "--- Windows tests under Wine: $(( ($(date +%s%N) - start) / 1000000 )) ms"
exit $status
