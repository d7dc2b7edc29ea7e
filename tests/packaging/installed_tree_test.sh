#!/usr/bin/env bash
# Installs the Windows build into a fresh prefix as a user would, packs and runs an application
# with the installed osvari-pack (Linux and Windows) and no --launcher, moves the tree and does
# it again, then builds the consumer application against the moved tree with find_package alone
# and its own toolchain file, and runs it under Wine (in the test's WINEPREFIX).
set -euo pipefail
source_dir=$1
source "$(dirname "$0")/installed_tool_checks.sh"

prefix=$work/prefix
started=$(date +%s%N)
quietly cmake --install "$build_dir" --prefix "$prefix"
echo "installed in $(( ($(date +%s%N) - started) / 1000000 )) ms"
for file in bin/osvari-pack bin/osvari-pack.exe share/osvari-onefile/osvari-launcher.exe \
  lib/cmake/OsvariOnefile/OsvariOnefileConfig.cmake lib/cmake/OsvariOnefile/OsvariOnefileConfigVersion.cmake \
  share/doc/osvari-onefile/README.md; do
  [ -f "$prefix/$file" ] || fail "the install has no $file"
done
if [ -f "$source_dir/LICENSE" ] && [ ! -f "$prefix/share/doc/osvari-onefile/LICENSE" ]; then
  fail "the install has no LICENSE"
fi
[ "$("$prefix/bin/osvari-pack" --version)" = "osvari-pack $version" ] || fail "osvari-pack --version is not $version"
[ "$("$prefix/bin/osvari-pack" -V)" = "osvari-pack $version" ] || fail "osvari-pack -V is not $version"
manual=$(MANWIDTH=80 man -l "$prefix/share/man/man1/osvari-pack.1" 2>&1)
grep -q '^NAME' <<<"$manual" && grep -q -- '--extract DIR FILE' <<<"$manual" ||
  fail "man -l does not render the installed manual page: $manual"
bash -c 'source "$1" && complete -p osvari-pack' _ "$prefix/share/bash-completion/completions/osvari-pack" \
  >/dev/null 2>&1 || fail "the installed bash completion does not complete osvari-pack"

pack_and_run "$prefix/bin/osvari-pack" "$work/installed.exe" 7
pack_and_run "$prefix/bin/osvari-pack.exe" "$work/installed-windows.exe" 8

# Moved (the original is gone): each tool finds the launcher of the tree it lies in.
moved="$work/elsewhere/moved tree"
mkdir -p "$work/elsewhere"
mv "$prefix" "$moved"
pack_and_run "$moved/bin/osvari-pack" "$work/moved.exe" 9
pack_and_run "$moved/bin/osvari-pack.exe" "$work/moved-windows.exe" 10
echo "the installed and the moved tree each packed runnable executables"

# The consumer application against the moved tree: no source tree of ours, and no Wine while
# building (a Wine prefix of its own would appear if anything ran under Wine).
consumer=$work/consumer
mkdir -p "$consumer"
cp -r "$source_dir/tests/packaging/consumer/src" "$source_dir/tests/packaging/consumer/assets" \
  "$source_dir/tests/packaging/consumer/consumer.ico" "$source_dir/tests/packaging/installed_consumer/." "$consumer/"
quietly env WINEPREFIX="$work/no-wine" cmake -S "$consumer" -B "$consumer/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$consumer/toolchain.cmake" -DCMAKE_PREFIX_PATH="$moved"
started=$(date +%s%N)
quietly env WINEPREFIX="$work/no-wine" cmake --build "$consumer/build"
echo "the consumer built in $(( ($(date +%s%N) - started) / 1000000 )) ms"
[ ! -e "$work/no-wine" ] || fail "building the consumer ran Wine"
grep -qxF "OsvariOnefile_DIR:PATH=$moved/lib/cmake/OsvariOnefile" "$consumer/build/CMakeCache.txt" ||
  fail "the consumer did not find the package in the moved tree"

exe=$consumer/build/installed-app.exe
expected=$'arguments: 3\nlauncher directory set: yes'
set +e
output=$(wine "$exe" one two 2>&1)
code=$?
set -e
if [ "$(tr -d '\r' <<<"$output")" != "$expected" ] || [ "$code" -ne 42 ]; then
  fail "installed-app.exe ended with $code: $output"
fi
headers=$(x86_64-w64-mingw32-objdump -x "$exe")
grep -Eq 'Subsystem[[:space:]]+00000003' <<<"$headers" || fail "CONSOLE did not make a console program"
grep -q 'Entry: ID: 0x00000e,' <<<"$headers" || fail "ICON left no icon group in the executable"
section() { x86_64-w64-mingw32-objcopy -O binary --only-section="$1" "$exe" "$work/section" && cat "$work/section"; }
grep -q 'activeCodePage' <(section .rsrc) || fail "MANIFEST is not the executable's manifest"
# COMPANY, PRODUCT and VERSION: compiled into the launcher, and in the version information.
for text in "Installed Company" "Installed App" "6.7.8"; do
  section .rdata | strings -el | grep -qxF "$text" || fail "\"$text\" is not compiled into the launcher"
  section .rsrc | strings -el | grep -qxF "$text" || fail "\"$text\" is not in the version information"
done
listing=$("$moved/bin/osvari-pack" --list "$exe")
grep -q '  nested\\data.txt$' <<<"$listing" || fail "DATA is not packed: $listing"

# CACHE: a first and a later run from a cache folder below a LOCALAPPDATA of the test's own
# (set from a Windows process: Wine sets its own for processes started from Linux).
mkdir -p "$work/local"
printf '@set LOCALAPPDATA=%s\r\n@"%s" one two\r\n@exit /b %%ERRORLEVEL%%\r\n' \
  "$(windows_path "$work/local")" "$(windows_path "$consumer/build/installed-cached.exe")" >"$work/cached.bat"
for run in first later; do
  set +e
  output=$(wine cmd /c "$(windows_path "$work/cached.bat")" 2>&1)
  code=$?
  set -e
  if [ "$(tr -d '\r' <<<"$output")" != "$expected" ] || [ "$code" -ne 42 ]; then
    fail "the $run cached run ended with $code: $output"
  fi
done
ls "$work/local/osvari-onefile" | grep -Eq '^installed-cached-[0-9a-f]{16}$' || fail "CACHE left no cache folder"
echo "the find_package consumer built and ran with every option: exit code 42"

# PROGRAM: the ordinary program runs as it is, its console subsystem kept.
program_exe=$consumer/build/installed-program.exe
set +e
output=$(wine "$program_exe" one two 2>&1)
code=$?
set -e
if [ "$(tr -d '\r' <<<"$output")" != "program arguments: 3" ] || [ "$code" -ne 43 ]; then
  fail "installed-program.exe ended with $code: $output"
fi
program_headers=$(x86_64-w64-mingw32-objdump -x "$program_exe")
grep -Eq 'Subsystem[[:space:]]+00000003' <<<"$program_headers" || fail "PROGRAM did not keep the program's console subsystem"
program_listing=$("$moved/bin/osvari-pack" --list "$program_exe")
grep -q '^the first entry is a program' <<<"$program_listing" || fail "PROGRAM packed no program record: $program_listing"
echo "the find_package consumer's program ran as it is: exit code 43"

# A project in C alone, configured as a newcomer would at first, without a Windows toolchain: the
# error prints the command for a Windows build, which then builds the README's C examples against
# the moved tree. Each reads its packed file from a working directory that does not hold it.
c_consumer=$work/c-consumer
mkdir -p "$c_consumer"
cp -r "$source_dir/tests/packaging/c_consumer/." "$c_consumer/"
readme=$moved/share/doc/osvari-onefile/README.md
awk '/^```c$/{n++; f=1; next} /^```/{f=0} f && n==1' "$readme" >"$c_consumer/app.c"
awk '/^```c$/{n++; f=1; next} /^```/{f=0} f && n==2' "$readme" >"$c_consumer/my_app.c"
grep -q 'int main' "$c_consumer/app.c" && grep -q 'run_code' "$c_consumer/my_app.c" ||
  fail "the README's C examples were not found"
for example in app.c my_app.c; do
  quietly x86_64-w64-mingw32-g++-posix -x c++ -std=c++20 -Wall -Wextra -Werror -I "$moved/include" \
    -c "$c_consumer/$example" -o "$work/$example-as-c++.o"
  quietly x86_64-w64-mingw32-gcc-posix -x c -std=c99 -Wall -Wextra -Werror -I "$moved/include" \
    -c "$c_consumer/$example" -o "$work/$example-as-c.o"
done
if cmake -S "$c_consumer" -B "$c_consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$moved" >"$work/c-configure.log" 2>&1; then
  fail "a build for Linux configured without the fix"
fi
command=$(grep -E '^ +cmake -S ' "$work/c-configure.log" | sed 's/^ *//') ||
  { cat "$work/c-configure.log"; fail "the configure error gives no command"; }
grep -qF -- "-DOsvariOnefile_DIR=\"$moved/lib/cmake/OsvariOnefile\"" <<<"$command" ||
  fail "the command does not name the package's folder: $command"
quietly env WINEPREFIX="$work/no-wine" bash -c "$command"
quietly env WINEPREFIX="$work/no-wine" cmake --build "$c_consumer/build-windows"
[ ! -e "$work/no-wine" ] || fail "building the C consumer ran Wine"
mkdir -p "$work/elsewhere-cwd"
run_in_elsewhere() { (cd "$work/elsewhere-cwd" && wine "$@" 2>&1); }
set +e
output=$(run_in_elsewhere "$c_consumer/build-windows/c-program.exe")
code=$?
set -e
[ "$(tr -d '\r' <<<"$output")" = "hello from a packed file" ] && [ "$code" -eq 0 ] ||
  fail "c-program.exe ended with $code: $output"
for library in c-library; do
  set +e
  output=$(run_in_elsewhere "$c_consumer/build-windows/$library.exe" one two)
  code=$?
  set -e
  [ "$(tr -d '\r' <<<"$output")" = "3 arguments; hello.txt says: hello from a packed file" ] && [ "$code" -eq 0 ] ||
    fail "$library.exe ended with $code: $output"
done
echo "the C-only project built from the configure error's command; its program and main library read their files"
