#!/usr/bin/env bash
# Drags real files from an X11 program onto kestrune.exe running under wine64
# in a real X server, as from a Linux file manager: Wine has to turn the XDND
# drop into WM_DROPFILES. Checks that the files were encrypted with the typed
# password, then that Escape ends the program with exit code 0.
#
# Usage: x11_drag_end_to_end.sh KESTRUNE_EXE DRAG_SOURCE KESTRUNE_CLI WORK_DIR
# DRAG_SOURCE and KESTRUNE_CLI are the Linux build's. Exits 77 (skipped) when
# a tool is missing, except under CI, where that fails.
set -euo pipefail

kestrune_exe=$1 drag_source=$2 kestrune_cli=$3 work=$4
wine_run_script=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh
password='correct horse'

missing=()
for tool in Xvfb xdotool import cmp timeout; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || command -v wine >/dev/null ||
  missing+=(wine64)
for file in "$kestrune_exe" "$drag_source" "$kestrune_cli"; do
  [ -x "$file" ] || missing+=("$file")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Missing: ${missing[*]}" >&2
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi

# The test changes directory; the programs must still be found.
kestrune_exe=$(realpath "$kestrune_exe") drag_source=$(realpath "$drag_source")
kestrune_cli=$(realpath "$kestrune_cli") work=$(realpath -m "$work")
prefix=$work/wineprefix
wine_run() { "$wine_run_script" "$prefix" "$@"; }

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -d "$prefix" ] && WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

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

# Prints the first window with exactly this title, waiting up to a minute.
window_named() {
  timeout 60 xdotool search --sync --name "^$1\$" | head -n 1 | grep . || fail "no window named '$1'"
}

# Sets X, Y, WIDTH and HEIGHT to the window's geometry.
read_geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

# Presses on the drag source, moves in steps onto the point and releases.
drag_to() {
  local target_x=$1 target_y=$2
  read_geometry "$(window_named 'kestrune drag source')"
  local from_x=$((X + WIDTH / 2)) from_y=$((Y + HEIGHT / 2)) steps=20
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

rm -rf "$work"
mkdir -p "$work/files" "$work/originals" "$work/check" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

# Xvfb picks a free display itself, so parallel runs do not collide. It comes
# before the prefix: Wine's desktop process keeps the display it started on.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for "Xvfb" test -s "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"

# Without a window manager Wine must not wait for one to map its windows.
KESTRUNE_WINE_TIMEOUT=180 wine_run wineboot --init >"$work/wineboot.log" 2>&1 ||
  fail "wineboot failed: $(tail -n 5 "$work/wineboot.log")"
KESTRUNE_WINE_TIMEOUT=60 wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
  >"$work/reg.log" 2>&1 || fail "could not set Managed=N: $(cat "$work/reg.log")"

cd "$work/files"
printf 'Quarterly figures\nline two\n' >notes.txt
head -c 300000 /dev/urandom >'photo with spaces.bin'
head -c 3000 /dev/urandom >'résumé.odt'
plain=(notes.txt 'photo with spaces.bin' 'résumé.odt')
cp -- "${plain[@]}" "$work/originals/"

# The drag source runs first, as a file manager would already be open.
"$drag_source" "${plain[@]}" >"$work/drag-source.log" 2>&1 &
pids+=($!)
window_named 'kestrune drag source' >/dev/null

KESTRUNE_WINE_TIMEOUT=120 WINEDEBUG=+xdnd wine_run "$kestrune_exe" >"$work/kestrune.log" 2>&1 &
kestrune_pid=$!
pids+=("$kestrune_pid")
dialog=$(window_named Kestrune)
read_geometry "$dialog"
# The password field, where a careless window would take the drop as text.
field_x=$((X + WIDTH / 2)) field_y=$((Y + HEIGHT * 28 / 182))

# Unmanaged, Wine's window takes keys only once a click has activated it;
# another program showing a window or dragging can take that away.
xdotool mousemove "$field_x" "$field_y" click 1
sleep 0.3
xdotool type --delay 30 "$password"

drag_to "$field_x" "$field_y"
wait_for "the end of the drag" grep -q copied "$work/drag-source.log"
grep -qx copied "$work/drag-source.log" ||
  fail "the drop was not taken as a copy: $(cat "$work/drag-source.log")"

all_encrypted() {
  for file in "${plain[@]}"; do
    [ ! -e "$file" ] && [ -s "$file.enc" ] || return 1
  done
}
for _ in $(seq 200); do all_encrypted && break; sleep 0.1; done
all_encrypted || fail "the files were not encrypted: $(ls -A); Wine's drag and drop trace:
$(grep xdnd "$work/kestrune.log")"
import -window "$dialog" "$work/after-drop.png"

# The typed password, not anything the drag carried, is the key.
cp -- "${plain[@]/%/.enc}" "$work/check/"
for file in "${plain[@]}"; do
  printf '%s\n' "$password" | "$kestrune_cli" --password-stdin "$work/check/$file.enc" ||
    fail "$file.enc does not open with the typed password"
  cmp -- "$work/check/$file" "$work/originals/$file" || fail "$file did not come back byte for byte"
done

xdotool mousemove "$field_x" "$field_y" click 1
sleep 0.3
xdotool key Escape
wait_for "Kestrune to end" bash -c "! kill -0 $kestrune_pid"
status=0
wait "$kestrune_pid" || status=$?
[ "$status" = 0 ] || fail "kestrune.exe exited with $status"
echo "Dragged ${#plain[@]} files from X11 onto kestrune.exe under Wine: encrypted, exit code 0"
