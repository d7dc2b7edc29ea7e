#!/usr/bin/env bash
# A packed windowed program on a screen: starts an Xvfb of its own on a free display, runs the
# program from a batch file that gives it a TEMP in the work folder (Wine sets TEMP itself), finds
# its window by title, saves a screenshot beside the work folder, closes the window as a person
# would (Alt+F4) and checks the program's exit code, that its unpack folder is gone while it ran
# and afterwards, and that the canaries beside TEMP and in the current folder are untouched.
set -euo pipefail
wine=$1
executable=$2
title=$3
work=$4
screenshot=$work.png
rm -rf "$work" "$screenshot" && mkdir -p "$work/temp" "$work/current"
for canary in canary.txt current/canary.txt; do printf 'canary' >"$work/$canary"; done

source "$(dirname "$0")/display_session.sh"
start_display

# The batch file waits for the windowed program and names its whole exit code.
printf '@echo off\r\nset TEMP=%s\r\nset TMP=%s\r\nstart "" /wait "%s"\r\necho exit=%%ERRORLEVEL%%\r\n' \
  "$(windows_path "$work/temp")" "$(windows_path "$work/temp")" "$(windows_path "$executable")" >"$work/run.bat"
(cd "$work/current" && exec "$wine" cmd /c "$(windows_path "$work/run.bat")" >"$work/run.out" 2>&1) &
run_pid=$!
background_pids+=("$run_pid")

window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1) && [ -n "$window" ] && break
  kill -0 "$run_pid" 2>/dev/null || fail "the program ended before its window showed: $(cat "$work/run.out")"
  sleep 0.2
done
[ -n "$window" ] || fail "no window titled '$title' within 60 s"
unpacked=$(find "$work/temp" -mindepth 1 -maxdepth 1 -name 'onefile_*' -printf '%f\n')
[ -n "$unpacked" ] || fail "the program runs, but no unpack folder is in TEMP"

sleep 1  # the dialog draws its controls after it shows
import -display "$DISPLAY" -window root "$screenshot"
colours=$(identify -format '%k' "$screenshot")
[ "$colours" -gt 4 ] || fail "the screenshot $screenshot shows $colours colours: nothing was drawn"

xdotool key --window "$window" alt+F4 2>/dev/null
for _ in $(seq 150); do
  kill -0 "$run_pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$run_pid" 2>/dev/null && fail "the program still runs 30 s after Alt+F4"
wait "$run_pid" || true
run_pid=
exit_line=$(tr -d '\r' <"$work/run.out" | grep '^exit=' || true)
[ "$exit_line" = "exit=0" ] || fail "expected exit=0 after closing the window, got '$exit_line': $(cat "$work/run.out")"

left=$(find "$work/temp" -mindepth 1 -printf '%P\n')
[ -z "$left" ] || fail "left in TEMP: $left"
for canary in canary.txt current/canary.txt; do
  [ "$(cat "$work/$canary" 2>/dev/null)" = canary ] || fail "canary $canary was harmed"
done
echo "windowed program ran in $unpacked, closed with exit 0, left nothing; screenshot: $screenshot"
