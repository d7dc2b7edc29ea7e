#!/usr/bin/env bash
# A failure a person could not otherwise see, on a screen: a damaged windowed onefile exe started
# as Explorer starts it (no standard handles) shows its line in a message box titled with its
# product name; the test saves a screenshot beside the work folder, presses OK and checks exit
# code 2 and that nothing is left in TEMP. The same exe with redirected streams, the same data in
# a console exe, and a windowed exe packed with --no-error-dialog show no window and end by
# themselves with exit code 2.
set -euo pipefail
wine=$1
start_as_explorer=$2
pack=$3
launcher=$4
application=$5
work=$6
screenshot=$work.png
title="Failure Dialog Test"
rm -rf "$work" "$screenshot" && mkdir -p "$work/temp" "$work/current"
source "$(dirname "$0")/display_session.sh"
printf 'canary' >"$work/canary.txt"

# Packed, then one byte inside the compressed stream flipped: the checksum or the decoder fails.
make_damaged() {
  local name=$1 offset
  shift
  "$pack" --quiet --launcher "$launcher" --product "$title" "$@" --output "$work/$name.exe" "$application"
  offset=$(LC_ALL=C grep -obUaP 'KAY\x28\xB5\x2F\xFD' "$work/$name.exe" | head -1 | cut -d: -f1)
  [ -n "$offset" ] || fail "no attached data found in $work/$name.exe"
  printf '\x55' | dd of="$work/$name.exe" bs=1 seek=$((offset + 7 + 2000)) conv=notrunc status=none
}
make_damaged windowed --windows
make_damaged console --console
make_damaged quiet --windows --no-error-dialog

start_display
temp=$(windows_path "$work/temp")

# As Explorer starts it: the box shows; OK ends the run with exit code 2, nothing left.
"$wine" "$start_as_explorer" --temp "$temp" "$(windows_path "$work/windowed.exe")" >"$work/windowed.out" 2>&1 &
run_pid=$!
background_pids+=("$run_pid")
window=$(find_window "$title" 600 "$run_pid")
[ -n "$window" ] || fail "no window titled '$title' within 60 s: $(cat "$work/windowed.out")"
sleep 1  # the box draws its text and button after it shows
save_window "$window" "$screenshot"
colours=$(identify -format '%k' "$screenshot")
[ "$colours" -gt 4 ] || fail "the screenshot $screenshot shows $colours colours: nothing was drawn"
xdotool key --window "$window" Return 2>/dev/null
wait_for_end "$run_pid" 300 || fail "the run still goes on 30 s after OK"
exit_line=$(tr -d '\r' <"$work/windowed.out" | grep '^exit=' || true)
[ "$exit_line" = "exit=2" ] || fail "expected exit=2 after OK, got '$exit_line': $(cat "$work/windowed.out")"
left=$(find "$work/temp" -mindepth 1 -printf '%P\n')
[ -z "$left" ] || fail "left in TEMP after the dialog: $left"

# Runs that must show nothing: each ends by itself (a box would wait for a person) with exit
# code 2, and no window of that title ever shows while it runs.
expect_no_window() {
  local name=$1 pid window
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pid=$!
  background_pids+=("$pid")
  window=$(find_window "$title" 300 "$pid")
  [ -z "$window" ] || fail "$name: a window titled '$title' showed"
  wait_for_end "$pid" 10 || fail "$name: still running after 30 s"
  status=0
  wait "$pid" || status=$?
}
# With its streams redirected, the line is written and no box shows.
expect_no_window redirected "$wine" "$work/windowed.exe"
[ "$status" = 2 ] || fail "redirected: expected exit code 2, got $status"
[ "$(tr -d '\r' <"$work/redirected.out")" = "Error, couldn't decode attached data." ] ||
  fail "redirected: expected the line on standard output, got '$(cat "$work/redirected.out")'"
for name in console quiet; do
  expect_no_window "$name" "$wine" "$start_as_explorer" --temp "$temp" "$(windows_path "$work/$name.exe")"
  exit_line=$(tr -d '\r' <"$work/$name.out" | grep '^exit=' || true)
  [ "$exit_line" = "exit=2" ] || fail "$name: expected exit=2, got '$exit_line': $(cat "$work/$name.out")"
done
left=$(find "$work/temp" -mindepth 1 -printf '%P\n')
[ -z "$left" ] || fail "left in TEMP: $left"
[ "$(cat "$work/canary.txt")" = canary ] || fail "the canary beside TEMP was harmed"
echo "the dialog showed and ended the run with exit code 2, leaving nothing; redirected, console and" \
  "--no-error-dialog runs showed none; screenshot: $screenshot"
