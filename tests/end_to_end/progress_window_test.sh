#!/usr/bin/env bash
# The progress window on a screen. A windowed onefile exe with a slow unpacking (many files)
# shows the window with its product name; the test stops the process (SIGSTOP) to save a
# screenshot, lets it run a little and stops it again for a second one, which must differ (the
# bar moved); then Cancel ends the run with STATUS_CONTROL_C_EXIT and leaves nothing in TEMP.
# The same with a splash image. A fast run creates no X window at all (watched with xev, whose
# sight of the slow run's windows is checked too).
set -euo pipefail
wine=$1
start_as_explorer=$2
pack=$3
launcher=$4
application=$5
work=$6
title="Progress Window Test"
rm -rf "$work" "$work".png "$work"-splash.png && mkdir -p "$work/temp" "$work/data"
source "$(dirname "$0")/display_session.sh"
printf 'canary' >"$work/canary.txt"

# Thousands of small files: each costs its own creation, so the unpacking lasts seconds.
head -c 48M /dev/urandom | split -b 4096 -a 5 - "$work/data/file"
"$pack" --quiet --level 1 --launcher "$launcher" --windows --product "$title" --output "$work/slow.exe" \
  "$application" "$work/data"
convert -size 320x120 gradient:'#1f5fa8-#2e9e6a' -fill white -draw 'circle 60,60 60,25' \
  -draw 'rectangle 120,45 290,75' "$work/splash.png"
"$pack" --quiet --level 1 --launcher "$launcher" --windows --product "$title" --splash "$work/splash.png" \
  --output "$work/splash.exe" "$application" "$work/data"
"$pack" --quiet --launcher "$launcher" --windows --product "$title" --output "$work/fast.exe" "$application"

start_display
temp=$(windows_path "$work/temp")

# The launcher's own process among the Wine processes: its command line starts with its path.
launcher_pid() { pgrep -f "^[A-Z]:.*\\\\$1\\.exe" | head -1; }

cancel_slow_run() {
  local name=$1 screenshot=$2 run_pid window pid
  "$wine" "$start_as_explorer" --temp "$temp" "$(windows_path "$work/$name.exe")" >"$work/$name.out" 2>&1 &
  run_pid=$!
  background_pids+=("$run_pid")
  window=$(find_window "$title" 600 "$run_pid")
  [ -n "$window" ] || fail "$name: no window titled '$title' within 60 s: $(cat "$work/$name.out")"
  pid=$(launcher_pid "$name")
  [ -n "$pid" ] || fail "$name: the launcher's process was not found"
  sleep 0.3  # the window draws its controls after it shows
  kill -STOP "$pid"
  save_window "$window" "$work/$name-1.png"
  kill -CONT "$pid"
  sleep 0.6
  kill -STOP "$pid"
  save_window "$window" "$screenshot"
  kill -CONT "$pid"
  xdotool key --window "$window" Return 2>/dev/null  # Cancel has the focus
  wait_for_end "$run_pid" 600 || fail "$name: the run goes on 60 s after Cancel"
  local differing
  differing=$(compare -metric AE "$work/$name-1.png" "$screenshot" null: 2>&1 || true)
  [ "$differing" -gt 0 ] || fail "$name: the window did not change in 0.6 s of unpacking"
  colours=$(identify -format '%k' "$screenshot")
  [ "$colours" -gt 4 ] || fail "$name: the screenshot $screenshot shows $colours colours: nothing was drawn"
  exit_line=$(tr -d '\r' <"$work/$name.out" | grep '^exit=' || true)
  [ "$exit_line" = "exit=3221225786" ] ||
    fail "$name: expected exit=3221225786 (STATUS_CONTROL_C_EXIT) after Cancel, got '$exit_line'"
  left=$(find "$work/temp" -mindepth 1 -printf '%P\n')
  [ -z "$left" ] || fail "$name: left in TEMP after Cancel: $(echo "$left" | head -3)"
}

# X windows created from now on, as the X server reports them.
xev -display "$DISPLAY" -root -event substructure >"$work/xev-slow.log" 2>&1 &
xev_pid=$!
background_pids+=("$xev_pid")
cancel_slow_run slow "$work.png"
cancel_slow_run splash "$work-splash.png"
kill "$xev_pid"
grep -q CreateNotify "$work/xev-slow.log" || fail "xev saw no window created by the slow runs: it cannot judge"

# A fast run, while another keeps Wine's server and desktop up: no X window is created.
"$wine" "$start_as_explorer" --temp "$temp" "$(windows_path "$work/fast.exe")" --wait-for \
  "$(windows_path "$work/keep-alive-ends")" >"$work/keep-alive.out" 2>&1 &
keep_alive_pid=$!
background_pids+=("$keep_alive_pid")
sleep 2
xev -display "$DISPLAY" -root -event substructure >"$work/xev-fast.log" 2>&1 &
xev_pid=$!
background_pids+=("$xev_pid")
sleep 0.5
timeout 120 "$wine" "$start_as_explorer" --temp "$temp" "$(windows_path "$work/fast.exe")" --exit 7 >"$work/fast.out" 2>&1 ||
  fail "the fast run did not end within 120 s: $(cat "$work/fast.out")"
sleep 0.5
kill "$xev_pid"
touch "$work/keep-alive-ends"
wait_for_end "$keep_alive_pid" 300 || fail "the keep-alive run did not end"
[ "$(tr -d '\r' <"$work/fast.out" | grep '^exit=')" = "exit=7" ] || fail "fast run: $(cat "$work/fast.out")"
! grep -q CreateNotify "$work/xev-fast.log" || fail "the fast run created a window: $(grep -A2 CreateNotify "$work/xev-fast.log")"
left=$(find "$work/temp" -mindepth 1 -printf '%P\n')
[ -z "$left" ] || fail "left in TEMP: $left"
[ "$(cat "$work/canary.txt")" = canary ] || fail "the canary beside TEMP was harmed"
echo "the progress window showed and advanced, with and without a splash; Cancel left nothing and" \
  "ended the runs with STATUS_CONTROL_C_EXIT; a fast run made no window; screenshots: $work.png $work-splash.png"
