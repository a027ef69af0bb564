#!/usr/bin/env bash
# Drags real files onto the running dialog in a real X server, as from a file
# manager, checks that they were encrypted with the typed password, drags the
# containers back and checks that every byte came back. Saves a screenshot.
#
# Usage: drag_end_to_end.sh KESTRUNE DRAG_SOURCE KESTRUNE_CLI WORK_DIR SCREENSHOT
# Exits 77 (skipped) when a tool is missing, except under CI, where that fails.
set -euo pipefail

kestrune=$1 drag_source=$2 kestrune_cli=$3 work=$4 screenshot=$5
password='correct horse'

source "$(dirname "$0")/../x11_session.sh"
require_tools Xvfb xdotool import cmp timeout

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# Waits up to ten seconds for a process of ours to end; sets STATUS to its
# exit status.
await_exit() {
  local pid=$1
  wait_for "process $pid to end" bash -c "! kill -0 $pid"
  STATUS=0
  wait "$pid" || STATUS=$?
}

# Starts the drag source with FILES, drags them onto the point, and checks
# that the dialog took them as a copy. The source stays until the dialog has
# fetched the addresses: SOURCE_PID names it for stop_drag_source.
drag_files() {
  local target_x=$1 target_y=$2 log="$work/drag-source.log"
  shift 2
  "$drag_source" "$@" >"$log" 2>&1 &
  SOURCE_PID=$!
  pids+=("$SOURCE_PID")
  wait_for "the drag source window" window_named 'kestrune drag source'
  drag_to "$target_x" "$target_y"
  wait_for "the end of the drag" grep -q copied "$log"
  grep -qx copied "$log" || fail "the dialog did not take the drop as a copy: $(cat "$log")"
}

stop_drag_source() {
  kill "$SOURCE_PID"
  wait "$SOURCE_PID" 2>/dev/null || true
}

all_exist() { for file in "$@"; do [ -e "$file" ] || return 1; done; }

rm -rf "$work"
mkdir -p "$work/files" "$work/originals" "$work/check" "$(dirname "$screenshot")"
start_xvfb

cd "$work/files"
printf 'Quarterly figures\nline two\n' >notes.txt
head -c 2621440 /dev/urandom >'photo with spaces.bin'
head -c 3000 /dev/urandom >'résumé.odt'
plain=(notes.txt 'photo with spaces.bin' 'résumé.odt')
containers=("${plain[@]/%/.enc}")
cp -- "${plain[@]}" "$work/originals/"

"$kestrune" >"$work/kestrune.log" 2>&1 &
kestrune_pid=$!
pids+=("$kestrune_pid")
wait_for "the Kestrune window" window_named Kestrune
dialog=$(window_named Kestrune)
read_geometry "$dialog"
dialog_x=$X dialog_y=$Y dialog_width=$WIDTH dialog_height=$HEIGHT
# The password field, where a careless dialog would take the drop as text.
field_x=$((dialog_x + dialog_width / 2)) field_y=$((dialog_y + dialog_height * 28 / 182))

xdotool mousemove "$field_x" "$field_y" click 1
xdotool type --delay 30 "$password"

drag_files "$field_x" "$field_y" "${plain[@]}"
wait_for "the files to be encrypted" bash -c 'cd "$0" && [ -z "$(ls -A | grep -v "\.enc$")" ] && [ "$(ls -A | wc -l)" = 3 ]' "$work/files"
all_exist "${containers[@]}" || fail "containers missing: $(ls -A)"
stop_drag_source
import -window "$dialog" "$screenshot"

# The typed password, not the drop's text, became the key.
cp -- notes.txt.enc "$work/check/"
printf '%s\n' "$password" | "$kestrune_cli" --password-stdin "$work/check/notes.txt.enc"
cmp "$work/check/notes.txt" "$work/originals/notes.txt"

drag_files $((dialog_x + dialog_width / 2)) $((dialog_y + dialog_height / 2)) "${containers[@]}"
wait_for "the files to be decrypted" bash -c 'cd "$0" && [ -z "$(ls -A | grep "\.enc$")" ] && [ "$(ls -A | wc -l)" = 3 ]' "$work/files"
stop_drag_source
for file in "${plain[@]}"; do
  cmp -- "$file" "$work/originals/$file" || fail "$file did not come back byte for byte"
done

# Enter in the password field ends the application normally.
xdotool mousemove "$field_x" "$field_y" click 1
xdotool key Return
await_exit "$kestrune_pid"
[ "$STATUS" = 0 ] || fail "Kestrune exited with $STATUS"
echo "Round trip of ${#plain[@]} files passed; screenshot: $screenshot"
