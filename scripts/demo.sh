#!/usr/bin/env bash
# Installs what is needed, builds the demo application into one executable and runs it
# under Wine with a few arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target osvari-demo

build=build/windows
export WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d WINEPREFIX="$PWD/$build/wineprefix"
[ -f "$WINEPREFIX/system.reg" ] || { echo "Preparing the Wine prefix (first run only)..."; wineboot --init >/dev/null 2>&1; wineserver -w; }

echo "Running $build/bin/osvari-demo.exe (one file: $(stat -c %s "$build/bin/osvari-demo.exe") bytes)"
echo
set +e
wine "$build/bin/osvari-demo.exe" "first argument" 'second "quoted"' ünïcödé --exit-code 7
code=$?
set -e
echo
echo "The onefile executable ended with exit code $code."
leftover=$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -name 'onefile_*' 2>/dev/null | wc -l)
echo "Unpack directories left behind in the temporary folder: $leftover"
