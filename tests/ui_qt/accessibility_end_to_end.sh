#!/usr/bin/env bash
# Reads the running dialog through the real accessibility bus, as Orca and
# every Linux screen reader do: a private D-Bus session and AT-SPI bus under
# an Xvfb of the test's own. accessibility_tree.py prints the tree, checks
# it and follows the focus as Tab is pressed.
#
# Then three files are dragged from another window, which keeps the focus
# as a file manager does, and what the dialog announces is recorded.
#
# Usage: accessibility_end_to_end.sh KESTRUNE WORK_DIR DRAG_SOURCE
# Exits 77 (skipped) where the bus cannot start; a missing tool fails under
# CI and skips elsewhere.
set -euo pipefail

kestrune=$1 work=$2 drag_source=$3
python=/usr/bin/python3
here=$(dirname "$0")

source "$here/../x11_session.sh"
require_tools Xvfb xdotool xclip dbus-daemon dbus-send "$python"
"$python" -c 'import pyatspi' 2>/dev/null || require_tools python3-pyatspi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

skip() {
  echo "SKIP: $*" >&2
  exit 77
}

# A session bus of the test's own; the accessibility bus is started on it by
# D-Bus activation when asked for, and told a screen reader is listening.
start_accessibility_bus() {
  dbus-daemon --session --nofork --print-address=3 3>"$work/bus" 2>"$work/dbus.log" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
  [ -s "$work/bus" ] || skip "the D-Bus session bus did not start: $(cat "$work/dbus.log")"
  export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >"$work/a11y.log" 2>&1 ||
    skip "the accessibility bus did not start: $(cat "$work/a11y.log")"
}

rm -rf "$work"
mkdir -p "$work"
start_xvfb
start_accessibility_bus

"$kestrune" >"$work/kestrune.log" 2>&1 &
pids+=($!)
dialog=$(window_named Kestrune)
read_geometry "$dialog"
# Without a window manager the dialog has the keyboard once it is clicked.
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 28 / 182)) click 1
"$python" "$here/accessibility_tree.py" kestrune || fail "the dialog's accessibility is not as a screen reader needs it"

# A typed password, so that nothing asks; one file that is no container.
xdotool key ctrl+a BackSpace
xdotool type --delay 30 'announced'
mkdir "$work/files"
printf 'first\n' >"$work/files/a.txt"
printf 'not a container\n' >"$work/files/broken.txt.enc"
printf 'third\n' >"$work/files/c.txt"
"$python" "$here/accessibility_tree.py" kestrune announcements "$work/listening" &
listener=$!
pids+=("$listener")
wait_for "the listener" test -e "$work/listening"
"$drag_source" "$work/files/a.txt" "$work/files/broken.txt.enc" "$work/files/c.txt" \
  >"$work/drag-source.log" 2>&1 &
pids+=($!)
wait_for "the drag source window" window_named 'kestrune drag source'
drag_to $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
wait "$listener" || fail "the conversion was not announced as a screen reader needs it"
[ -e "$work/files/a.txt.enc" ] && [ -e "$work/files/c.txt.enc" ] || fail "the files were not converted"
