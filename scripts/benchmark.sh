#!/usr/bin/env bash
# Prints how long a onefile run takes and the launcher's peak memory, under Wine.
# Arguments (all optional): files, total MiB, largest file MiB, compression level.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target unpack_benchmark
build=build/windows
export WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d WINEPREFIX="$PWD/$build/wineprefix"
[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }
wine "$build/bin/unpack_benchmark.exe" "$@"
