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

source "$(dirname "$0")/../x11_session.sh"
require_tools Xvfb xdotool import cmp timeout "$kestrune_exe" "$drag_source" "$kestrune_cli"
[ -x /usr/lib/wine/wine64 ] || require_tools wine64

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

rm -rf "$work"
mkdir -p "$work/files" "$work/originals" "$work/check"
export LC_ALL=C.UTF-8
# The X server comes before the prefix: Wine's desktop process keeps the
# display it started on.
start_xvfb

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
