# Shared by the end-to-end tests that drag files in a real X server: tools,
# an Xvfb of their own, waiting, failing with a picture, and a drag by mouse.
# Sourced; the caller sets `work` (its scratch folder) and `pids` (processes
# its cleanup ends).

# Exits 77 (skipped) when a tool is missing, except under CI, where that fails.
require_tools() {
  local missing=() tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || [ -x "$tool" ] || missing+=("$tool")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Missing: ${missing[*]}; scripts/install-deps.sh installs them." >&2
  [ "${CI:-}" = true ] && exit 1
  exit 77
}

# Keeps a picture of the whole screen, to show what went wrong.
fail() {
  echo "FAIL: $*" >&2
  import -window root "$work/failure.png" 2>/dev/null && echo "Screen at the failure: $work/failure.png" >&2
  exit 1
}

# Runs the command until it succeeds, for up to twenty seconds.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 200); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

# Starts Xvfb on a display it picks itself, so parallel runs do not collide,
# and points DISPLAY at it; XVFB_PID names the server.
start_xvfb() {
  mkdir -p "$work/runtime"
  chmod 700 "$work/runtime"
  export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  XVFB_PID=$!
  pids+=("$XVFB_PID")
  wait_for "Xvfb" test -s "$work/display"
  export DISPLAY=":$(head -n 1 "$work/display")"
}

# Prints the first window with exactly this title, waiting up to a minute.
window_named() {
  timeout 60 xdotool search --sync --name "^$1\$" | head -n 1 | grep . || fail "no window named '$1'"
}

# Sets X, Y, WIDTH and HEIGHT to the window's geometry.
read_geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

# Presses on the drag source, moves in steps onto the point and releases.
drag_to() {
  local target_x=$1 target_y=$2 steps=20
  read_geometry "$(window_named 'kestrune drag source')"
  local from_x=$((X + WIDTH / 2)) from_y=$((Y + HEIGHT / 2))
  xdotool mousemove "$from_x" "$from_y"
  sleep 0.2
  xdotool mousedown 1
  sleep 0.3
  for step in $(seq "$steps"); do
    xdotool mousemove $((from_x + (target_x - from_x) * step / steps)) \
      $((from_y + (target_y - from_y) * step / steps))
    sleep 0.05
  done
  sleep 0.5
  xdotool mouseup 1
}

# A D-Bus session bus of the test's own, with the accessibility bus that
# D-Bus activation starts on it told that a screen reader listens. Exits 77
# (skipped) where either cannot start. Needs `pids`.
start_session_bus() {
  dbus-daemon --session --nofork --print-address=3 3>"$work/bus" 2>"$work/dbus.log" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
  [ -s "$work/bus" ] || { echo "SKIP: the D-Bus session bus did not start: $(cat "$work/dbus.log")" >&2; exit 77; }
  export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >"$work/a11y.log" 2>&1 ||
    { echo "SKIP: the accessibility bus did not start: $(cat "$work/a11y.log")" >&2; exit 77; }
}
