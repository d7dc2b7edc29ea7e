#!/usr/bin/env bash
# Builds the consumer application against this source tree, as a user of the packaging
# function would, and runs its one-file executable under Wine (in the test's WINEPREFIX).
set -euo pipefail
source_dir=$1
work=$2
log=$work.log
rm -rf "$work"
build() {
  cmake -S "$source_dir/tests/packaging/consumer" -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" -DOSVARI_SOURCE_DIR="$source_dir" \
    -DOSVARI_PACK_WINEPREFIX="$WINEPREFIX" &&
    cmake --build "$work"
}
build >"$log" 2>&1 || { echo "building the consumer failed:"; cat "$log"; exit 1; }
set +e
output=$(wine "$work/consumer-app.exe" one two 2>&1)
code=$?
set -e
expected=$'arguments: 3\nlauncher directory set: yes'
if [ "$(printf '%s' "$output" | tr -d '\r')" != "$expected" ] || [ "$code" -ne 42 ]; then
  echo "unexpected result: exit code $code, output:"; echo "$output"; exit 1
fi
headers=$(x86_64-w64-mingw32-objdump -x "$work/consumer-app.exe")
grep -Eq 'Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "CONSOLE did not make a console program"; exit 1; }
grep -q 'Entry: ID: 0x00000e,' <<<"$headers" || { echo "ICON left no icon group in the executable"; exit 1; }
echo "consumer-app.exe ran from one file: exit code $code"
