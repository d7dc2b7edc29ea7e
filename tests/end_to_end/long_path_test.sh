#!/usr/bin/env bash
# A onefile executable whose path is too long for the system to start a program from, started as
# a user would from its own folder: the report is the system's, and the next line says the path
# is too long, with its length.
set -euo pipefail
executable=$1
work=$2
rm -rf "$work"
# 120 + 130 characters of folders below the work folder: past 259 with the drive and the file name.
folder=$work/$(printf 'a%.0s' $(seq 120))/$(printf 'b%.0s' $(seq 130))
mkdir -p "$folder" "$work/short"
cp "$executable" "$folder/app.exe"
# Wine shows the Unix root as Z: (winepath cuts paths this long).
windows_path="Z:${folder//\//\\}\\app.exe"
set +e
output=$(cd "$folder" && wine ./app.exe 2>&1)
code=$?
set -e
lines=$(tr -d '\r' <<<"$output" | grep -v '^wine: could not open working directory')
expected_second="Path too long to start a program from: ${#windows_path} characters, Windows takes at most 259 ($windows_path)"
first=$(sed -n 1p <<<"$lines")
second=$(sed -n 2p <<<"$lines")
[ "$code" -eq 2 ] || { echo "exit code $code, output: $output"; exit 1; }
[[ $first == "Error, couldn't launch child ([Error "* ]] || { echo "first line: $first"; exit 1; }
[ "$second" = "$expected_second" ] || { echo "second line: $second"; echo "expected:    $expected_second"; exit 1; }
[ "$(wc -l <<<"$lines")" -eq 2 ] || { echo "more lines than two: $output"; exit 1; }

# The same executable from a short path runs.
cp "$executable" "$work/short/app.exe"
(cd "$work/short" && wine ./app.exe >/dev/null 2>&1) || { echo "the executable did not run from a short path"; exit 1; }
echo "a path of ${#windows_path} characters is reported as too long"
rm -rf "$work"
