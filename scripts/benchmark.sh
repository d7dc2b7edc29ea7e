#!/usr/bin/env bash
# Prints where the time of a onefile run goes (unpack, child start, removal, whole run) beside
# plain code doing the same work, and the launcher's peak memory, under Wine, for 1,900 files /
# 326 MiB and for 20,000 small files. Argument (optional): runs per payload (default 5), then "large" or "small" for one payload only,
# "checksum" for the cost of the frame checksum (the large payload with and without it), or
# "files" for one file's creation and removal (the launcher's handle-checked way beside
# DeleteFileW), on one thread and on more, or "program" for a program packed as it is beside the
# same files with the main library, and a cached program's start beside starting it directly, or
# "writers" for the launcher's unpack code with 1, 2, 3 and 4 writers on both payloads (then
# "large" or "small" for one), or
# "progress" for a windowed exe whose progress window shows (on an Xvfb the script starts) beside
# the same exe packed with --no-progress-window, which the full run also prints last.
# Each measurement first waits for the cores to go quiet, then prints every run, the spread, and
# the machine's load at its start and end; its ratios are withheld when the load at its start is
# above the core count.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target onefile_benchmark
build=build/windows
export WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d WINEPREFIX="$PWD/$build/wineprefix"
[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }
# The build's own load fades from the one-minute average before anything is measured.
cores=$(nproc)
for _ in $(seq 24); do
  awk -v cores="$cores" '{ exit !($1 > cores) }' /proc/loadavg || break
  [ "${waited:-}" ] || { echo "waiting up to 2 minutes for the load ($(cut -d' ' -f1 /proc/loadavg)) to fall below $cores cores"; waited=1; }
  sleep 5
done
if [ "${2:-}" != progress ]; then
  wine "$build/bin/onefile_benchmark.exe" "$@"
  [ -n "${2:-}" ] && exit 0
fi

# The progress window needs a screen: an Xvfb of its own on a free display, and Wine's server
# started anew so that its desktop takes that display.
xvfb_pid=
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null' EXIT
for display in $(seq $((100 + $$ % 400)) $((140 + $$ % 400))); do
  [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ] && continue
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do xdpyinfo -display ":$display" >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo -display ":$display" >/dev/null 2>&1 && break
  kill "$xvfb_pid" 2>/dev/null; xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "no display for Xvfb"; exit 1; }
timeout 120 wineserver -w
DISPLAY=:$display wine "$build/bin/onefile_benchmark.exe" "${1:-5}" progress
