#!/usr/bin/env bash
# Builds a copy of the consumer application against this source tree, as a user of the packaging
# function would, and runs its one-file executable under Wine (in the test's WINEPREFIX). Then
# changes its data between builds and checks that the executable follows every change, and that
# wrong setups stop with a message naming the fix.
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cp -r "$source_dir/tests/packaging/consumer" "$work/src"
build_dir=$work/build
exe=$build_dir/consumer-app.exe
log=$work/log

fail() {
  echo "$1"
  if [ -f "$log" ]; then cat "$log"; fi
  exit 1
}
configure() {
  local dir=$1
  shift
  cmake -S "$work/src" -B "$dir" -G Ninja -DOSVARI_SOURCE_DIR="$source_dir" "$@"
}
build() { cmake --build "$build_dir" >"$log" 2>&1 || fail "building the consumer failed:"; }
toolchain=-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/mingw-w64-x86_64.cmake

configure "$build_dir" "$toolchain" >"$log" 2>&1 || fail "configuring the consumer failed:"
build
set +e
output=$(wine "$exe" one two 2>&1)
code=$?
set -e
expected=$'arguments: 3\nlauncher directory set: yes'
if [ "$(printf '%s' "$output" | tr -d '\r')" != "$expected" ] || [ "$code" -ne 42 ]; then
  echo "unexpected result: exit code $code, output:"; echo "$output"; exit 1
fi
headers=$(x86_64-w64-mingw32-objdump -x "$exe")
grep -Eq 'Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "CONSOLE did not make a console program"; exit 1; }
grep -q 'Entry: ID: 0x00000e,' <<<"$headers" || { echo "ICON left no icon group in the executable"; exit 1; }

# CACHE: the first and a later run both work, from a cache folder below a LOCALAPPDATA of the
# test's own (set from a Windows process: Wine sets its own for processes started from Linux).
mkdir -p "$work/local"
printf '@set LOCALAPPDATA=%s\r\n@"%s" one two\r\n@exit /b %%ERRORLEVEL%%\r\n' \
  "$(winepath -w "$work/local" 2>/dev/null)" "$(winepath -w "$build_dir/consumer-cached.exe" 2>/dev/null)" \
  >"$work/run-cached.bat"
for run in first later; do
  set +e
  output=$(wine cmd /c "$(winepath -w "$work/run-cached.bat" 2>/dev/null)" 2>&1)
  code=$?
  set -e
  if [ "$(printf '%s' "$output" | tr -d '\r')" != "$expected" ] || [ "$code" -ne 42 ]; then
    echo "unexpected result of the $run cached run: exit code $code, output:"; echo "$output"; exit 1
  fi
done
ls "$work/local/osvari-onefile" | grep -Eq '^consumer-cached-[0-9a-f]{16}$' ||
  { echo "CACHE left no cache folder:"; ls -R "$work/local"; exit 1; }
echo "consumer-app.exe ran from one file: exit code $code"

# Packing ran natively: nothing in the consumer's build made a Wine prefix.
if [ -n "$(find "$work" -name system.reg -print -quit)" ]; then fail "the consumer build created a Wine prefix"; fi

# The entry names the executable carries, read back with the osvari-pack the build made.
pack=$build_dir/osvari-host-pack/bin/osvari-pack
names() { "$pack" --list "$exe" | sed -e 's/^ *[0-9]*  //' -e '$d' | tr '\n' ' '; }
expect_names() {
  local found
  found=$(names)
  [ "$found" = "$1" ] || fail "after $2 the executable carries: $found (expected: $1)"
}
expect_names 'libconsumer_app.dll nested\data.txt ' "the first build"

printf 'secret' >"$work/src/assets/nested/secret.txt"
build
expect_names 'libconsumer_app.dll nested\data.txt nested\secret.txt ' "adding a file"

rm "$work/src/assets/nested/secret.txt"
build
expect_names 'libconsumer_app.dll nested\data.txt ' "deleting a file"

mv "$work/src/assets/nested/data.txt" "$work/src/assets/nested/renamed.txt"
build
expect_names 'libconsumer_app.dll nested\renamed.txt ' "renaming a file"

printf 'changed' >"$work/src/assets/nested/renamed.txt"
build
"$pack" --extract "$work/extracted" "$exe"
[ "$(cat "$work/extracted/nested/renamed.txt")" = "changed" ] || fail "a changed file was not packed again"

build
if grep -q "Packing consumer_app" "$log"; then fail "packing ran again with nothing changed:"; fi
"$pack" --verify "$exe" >/dev/null
echo "the executable followed every change of its data"

# Wrong setups: each stops at configure time with a message that names the fix.
check_message() {
  local description=$1 message=$2
  shift 2
  if configure "$work/wrong" "$@" >"$log" 2>&1; then fail "configuring with $description succeeded:"; fi
  # CMake wraps long messages: compare with line breaks and indentation taken out.
  tr -d '\n' <"$log" | tr -s ' ' | grep -qF -- "$message" || fail "no message \"$message\" for $description:"
  rm -rf "$work/wrong"
}
check_message "no toolchain file" "-DCMAKE_TOOLCHAIN_FILE=\"$source_dir/cmake/mingw-w64-x86_64.cmake\""
check_message "a static main library" "declare it with add_library(consumer_app SHARED ...)" \
  "$toolchain" -DCONSUMER_LIBRARY_TYPE=STATIC
check_message "a version with letters" 'VERSION needs one to four numbers from 0 to 65535 separated by dots, like 2.1.0, not "3.4.5-rc1"' \
  "$toolchain" -DCONSUMER_VERSION=3.4.5-rc1
check_message "a version of five numbers" 'not "1.2.3.4.5"' "$toolchain" -DCONSUMER_VERSION=1.2.3.4.5
check_message "a version number too large" 'not "1.65536"' "$toolchain" -DCONSUMER_VERSION=1.65536
check_message "no Windows libzstd" "run $source_dir/scripts/setup.sh, which builds it" \
  "$toolchain" -DOSVARI_DEPS_DIR="$work/no-deps"
echo "wrong setups stop with a message naming the fix"
