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

rm -rf "$work"
mkdir -p "$work"
start_xvfb
start_session_bus

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
