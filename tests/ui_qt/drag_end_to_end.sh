#!/usr/bin/env bash
# The running dialog in a real X server, with files dragged onto it as from a
# file manager. SCENARIO:
#   round_trip (default): files are encrypted with the typed password, the
#     containers dragged back restore every byte; saves a screenshot.
#   exact_names: a name that is not UTF-8, sent percent-encoded as GIO does,
#     and a localhost address convert; a neighbour named with U+FFFD stays.
#   large_drop_escape: Escape during a drop of 10,000 files stops it within
#     a few files and exits 0.
#   paste_files: files copied as PCManFM copies them (GNOME's clipboard
#     list) and pasted with Ctrl+V are encrypted with the typed password,
#     which the paste leaves as it was.
#   signal_mid_file, display_lost_mid_file, window_destroyed_mid_file:
#     SIGTERM, the X server killed, or the window destroyed without a close
#     request while a large file converts: the program ends without a crash,
#     with a status that is not 0, no temporary left and the input intact.
#
# Usage: drag_end_to_end.sh KESTRUNE DRAG_SOURCE KESTRUNE_CLI WORK_DIR SCREENSHOT [SCENARIO]
# Exits 77 (skipped) when a tool is missing, except under CI, where that fails.
set -euo pipefail

kestrune=$1 drag_source=$2 kestrune_cli=$3 work=$4 screenshot=$5 scenario=${6:-round_trip}
password='correct horse'

source "$(dirname "$0")/../x11_session.sh"
require_tools Xvfb xdotool xclip import cmp timeout

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

# Clicks the password field and waits until the dialog has the keyboard:
# without a window manager, keys go to the last window clicked.
click_field() {
  xdotool mousemove "$field_x" "$field_y" click 1
  wait_for "the dialog to take the keyboard" bash -c '[ "$(xdotool getwindowfocus)" = "$0" ]' "$dialog"
}

temporaries() { find "$work/files" -name '.*.kestrune-*.tmp' | grep .; }

# Enter in the password field ends the application normally.
quit_normally() {
  click_field
  xdotool key Return
  await_exit "$kestrune_pid"
  [ "$STATUS" = 0 ] || fail "Kestrune exited with $STATUS"
}

round_trip() {
  printf 'Quarterly figures\nline two\n' >notes.txt
  head -c 2621440 /dev/urandom >'photo with spaces.bin'
  head -c 3000 /dev/urandom >'résumé.odt'
  local plain=(notes.txt 'photo with spaces.bin' 'résumé.odt')
  local containers=("${plain[@]/%/.enc}")
  cp -- "${plain[@]}" "$work/originals/"

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
  quit_normally
  echo "Round trip of ${#plain[@]} files passed; screenshot: $screenshot"
}

exact_names() {
  local latin1=$'caf\xe9.txt' near_match=$'caf\xef\xbf\xbd.txt'
  printf 'named in Latin-1\n' >"$latin1"
  printf 'the near match\n' >"$near_match"
  printf 'addressed by localhost\n' >host.txt
  cp -- "$latin1" "$work/originals/latin1.txt"
  cp -- "$near_match" "$work/originals/"
  drag_files "$field_x" "$field_y" "file://$work/files/caf%E9.txt" "file://localhost$work/files/host.txt"
  wait_for "both files to be encrypted" all_exist "$latin1.enc" host.txt.enc
  stop_drag_source
  [ ! -e "$latin1" ] || fail "the Latin-1 name was not converted in place"
  cmp -- "$near_match" "$work/originals/$near_match" || fail "the near match was changed"
  [ ! -e "$near_match.enc" ] || fail "the near match was encrypted"
  quit_normally
  printf '%s\n' "$password" | "$kestrune_cli" --password-stdin "$latin1.enc"
  cmp -- "$latin1" "$work/originals/latin1.txt" || fail "the Latin-1 file did not come back"
  echo "Exact names passed"
}

large_drop_escape() {
  local count=10000 most_after_escape=20
  mkdir many
  for ((i = 0; i < count; ++i)); do printf x >"many/f$i"; done
  drag_files "$field_x" "$field_y" many/f*
  converted() { find many -name '*.enc' | wc -l; }
  local before
  # The drag source took the keyboard when it was pressed.
  click_field
  xdotool key Escape
  before=$(converted)
  await_exit "$kestrune_pid"
  stop_drag_source
  [ "$STATUS" = 0 ] || fail "Kestrune exited with $STATUS after Escape"
  local after
  after=$(converted)
  echo "Converted just after Escape was pressed: $before; at exit: $after of $count"
  [ "$after" -lt "$count" ] || fail "the whole drop converted before Escape was honoured"
  [ $((after - before)) -le "$most_after_escape" ] || fail "$((after - before)) files converted after Escape"
  ! temporaries || fail "a temporary was left"
  [ "$(find many -type f | wc -l)" = "$count" ] || fail "files went missing"
  rm -r many
}

paste_files() {
  printf 'copied\n' >p1.txt
  printf 'copied too\n' >'p 2.txt'
  cp -- p1.txt 'p 2.txt' "$work/originals/"
  printf 'copy\nfile://%s/p1.txt\nfile://%s/p%%202.txt' "$work/files" "$work/files" |
    xclip -quiet -selection clipboard -t x-special/gnome-copied-files 2>/dev/null &
  pids+=($!)
  click_field
  xdotool key ctrl+v
  wait_for "the pasted files to be encrypted" all_exist p1.txt.enc 'p 2.txt.enc'
  # The password was not changed by the paste: the files open with it.
  quit_normally
  printf '%s\n' "$password" | "$kestrune_cli" --password-stdin p1.txt.enc 'p 2.txt.enc'
  cmp p1.txt "$work/originals/p1.txt" && cmp 'p 2.txt' "$work/originals/p 2.txt" ||
    fail "the pasted files did not come back with the typed password"
  echo "Pasted files passed"
}

# 3DES, chosen with the keyboard, keeps a file of 300 MiB converting for seconds.
interrupt_mid_file() {
  local how=$1
  head -c $((300 << 20)) /dev/urandom >big.bin
  sha256sum big.bin >"$work/big.sha256"
  xdotool key Tab Tab Up Up Up
  drag_files "$field_x" "$field_y" big.bin
  wait_for "the conversion to start" temporaries
  case $how in
    signal) kill -TERM "$kestrune_pid" ;;
    display) kill "$XVFB_PID" ;;
    window) "$drag_source" --destroy-window "$dialog" ;;
  esac
  await_exit "$kestrune_pid"
  echo "Kestrune exited with $STATUS"
  if [ "$how" = signal ]; then
    [ "$STATUS" = 143 ] || fail "exit status $STATUS after SIGTERM, not 143"
  else
    [ "$STATUS" != 0 ] && [ "$STATUS" -lt 128 ] || fail "exit status $STATUS: a crash or a normal quit"
  fi
  ! temporaries || fail "a temporary was left"
  [ ! -e big.bin.enc ] || fail "an output was left"
  sha256sum --quiet -c "$work/big.sha256" || fail "the input changed"
  rm big.bin
}

rm -rf "$work"
mkdir -p "$work/files" "$work/originals" "$work/check" "$(dirname "$screenshot")"
start_xvfb
cd "$work/files"

"$kestrune" >"$work/kestrune.log" 2>&1 &
kestrune_pid=$!
pids+=("$kestrune_pid")
wait_for "the Kestrune window" window_named Kestrune
dialog=$(window_named Kestrune)
read_geometry "$dialog"
dialog_x=$X dialog_y=$Y dialog_width=$WIDTH dialog_height=$HEIGHT
# The password field, where a careless dialog would take the drop as text.
field_x=$((dialog_x + dialog_width / 2)) field_y=$((dialog_y + dialog_height * 28 / 182))

click_field
xdotool type --delay 30 "$password"

case $scenario in
  round_trip | exact_names | large_drop_escape | paste_files) "$scenario" ;;
  signal_mid_file) interrupt_mid_file signal ;;
  display_lost_mid_file) interrupt_mid_file display ;;
  window_destroyed_mid_file) interrupt_mid_file window ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac
