# Sourced by the tests that look at windows: an Xvfb of their own on a free display, Wine's
# server waited for so that its desktop takes that display, and ways to find and save windows.
# The caller sets `wine` and `work` and calls start_display first.

xvfb_pid=
background_pids=()
# Keeps the script's exit status: a process already gone is no failure here.
stop_display_session() {
  for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_display_session EXIT

fail() { echo "$*"; exit 1; }

# A display no other X server holds; Xvfb stops at once when another took it first.
start_display() {
  for display in $(seq $((100 + $$ % 400)) $((140 + $$ % 400))); do
    [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ] && continue
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      xdpyinfo -display ":$display" >/dev/null 2>&1 && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    xdpyinfo -display ":$display" >/dev/null 2>&1 && break
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  [ -n "$xvfb_pid" ] || fail "no display for Xvfb: $(cat "$work/xvfb.log")"
  export DISPLAY=:$display
  # Wine's desktop process takes its display when the prefix's server starts: a server still
  # running from tests before this one has none, and no window could show. Wait for it to end.
  local wineserver
  wineserver=$(dirname "$wine")/wineserver
  [ -x "$wineserver" ] || wineserver=wineserver
  timeout 120 "$wineserver" -w || fail "the Wine prefix's server did not end within 120 s"
}

windows_path() { "$wine" winepath -w "$1" 2>/dev/null; }

# The id of the visible window titled exactly $1, waiting up to $2 tenths of a second while the
# process $3 runs; empty when none showed.
find_window() {
  local title=$1 tenths=$2 pid=$3 window
  for _ in $(seq "$tenths"); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
    [ -n "$window" ] && { echo "$window"; return; }
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

# Saves what the screen shows of window $1 (its area of the root window) as $2.
save_window() {
  local window=$1 file=$2 x y width height
  eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  import -display "$DISPLAY" -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
}

# Waits up to $2 tenths of a second for process $1 to end; false when it still runs.
wait_for_end() {
  for _ in $(seq "$2"); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$1" 2>/dev/null
}
