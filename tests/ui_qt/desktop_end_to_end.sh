#!/usr/bin/env bash
# Kestrune installed into a scratch prefix, as the desktop and its file
# managers find it, under an Xvfb, session bus and accessibility bus of the
# test's own, with XDG_DATA_HOME and XDG_DATA_DIRS pointing at that prefix.
# SCENARIO:
#   gio_open: xdg-mime and gio tell a .enc file's type and Kestrune as its
#     default; `gio open x.enc` opens one window with x.enc waiting (read
#     through AT-SPI), `kestrune y.enc` adds y.enc to it and exits 0; the
#     password and Enter restore both byte for byte.
#   pcmanfm, thunar: a double-click on a container in the file manager
#     opens it waiting in Kestrune; the password and Enter restore it. Then
#     PCManFM's "Decrypt with Kestrune" does the same.
#   dolphin: "Encrypt with Kestrune" on a selection of three files; the
#     password and Enter encrypt all three with it. Saves a screenshot of
#     the menu.
#
# Usage: desktop_end_to_end.sh BUILD_DIR WORK_DIR SCENARIO [SCREENSHOT]
# Exits 77 (skipped) when a program is missing or cannot start, except under
# CI, where that fails.
set -euo pipefail

build=$1 work=$2 scenario=$3 screenshot=${4:-}
password='correct horse'
here=$(dirname "$0")
python=/usr/bin/python3

source "$here/../x11_session.sh"
require_tools Xvfb xdotool import cmp dbus-daemon dbus-send gio xdg-mime "$python"
"$python" -c 'import pyatspi' 2>/dev/null || require_tools python3-pyatspi
case $scenario in
  pcmanfm | thunar | dolphin) require_tools "$scenario" ;;
esac

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# A program that does not come up is skipped outside CI, as a missing one is.
cannot_start() {
  echo "$1 did not open its window: $(tail -5 "$work/$1.log" 2>/dev/null)" >&2
  [ "${CI:-}" = true ] && fail "$1 could not start"
  exit 77
}

# The installed tree is all the desktop knows of Kestrune.
install_into_scratch_prefix() {
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >"$work/install.log"
  mkdir -p "$work"/{home,data,config,cache}
  export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config \
    XDG_CACHE_HOME=$work/cache XDG_DATA_DIRS="$prefix/share:/usr/share" PATH="$prefix/bin:$PATH"
  # xdg-mime asks GIO on this desktop, as on GNOME, MATE or LXDE.
  export XDG_CURRENT_DESKTOP=XFCE
}

# Clicks Kestrune's password field, types the password and presses Enter.
type_password_and_enter() {
  local dialog X Y WIDTH HEIGHT SCREEN WINDOW
  dialog=$(xdotool search --onlyvisible --name '^Kestrune$' | head -n 1)
  read_geometry "$dialog"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 28 / 190)) click 1
  wait_for "Kestrune to take the keyboard" bash -c '[ "$(xdotool getwindowfocus getwindowname)" = Kestrune ]'
  xdotool type --delay 30 "$password"
  xdotool key Return
}

announces() { "$python" "$here/atspi_probe.py" status kestrune "$1"; }

# Nothing has converted while the files waited for the password.
still_waiting() {
  local file
  for file in "$@"; do [ -e "$file" ] || fail "$file was converted before the password was typed"; done
}

# Kestrune has the keyboard since the password was typed.
quit_kestrune() {
  xdotool key Escape
  wait_for "Kestrune to end" bash -c '! xdotool search --name "^Kestrune$"'
}

single_window() {
  [ "$(xdotool search --onlyvisible --name '^Kestrune$' | wc -l)" = 1 ] || fail "more than one Kestrune window"
}

gio_open() {
  printf 'the quarterly figures\n' >x
  printf 'the minutes\n' >y
  cp x y "$work/originals/"
  printf '%s\n' "$password" | kestrune-cli --password-stdin x y
  local type default
  type=$(xdg-mime query filetype x.enc)
  [ "$type" = application/x-kestrune-container ] || fail "xdg-mime gives $type for x.enc"
  type=$(gio info -a standard::content-type x.enc | sed -n 's/^  standard::content-type: //p')
  [ "$type" = application/x-kestrune-container ] || fail "gio gives $type for x.enc"
  default=$(xdg-mime query default application/x-kestrune-container)
  [ "$default" = kestrune.desktop ] || fail "xdg-mime gives $default as the default"
  echo "xdg-mime and gio: x.enc is application/x-kestrune-container, opened by $default"

  gio open x.enc
  window_named Kestrune >/dev/null
  announces "1 file waiting: type the password, then press Enter" || fail "x.enc is not waiting"
  # A second opening joins the first window and ends.
  timeout 30 kestrune y.enc || fail "a second kestrune did not hand its file over and exit 0"
  announces "2 files waiting: type the password, then press Enter" || fail "y.enc did not join x.enc"
  single_window
  still_waiting x.enc y.enc
  type_password_and_enter
  wait_for "x and y to be restored" test -e x -a ! -e x.enc -a -e y -a ! -e y.enc
  cmp x "$work/originals/x" && cmp y "$work/originals/y" || fail "x and y did not come back byte for byte"
  quit_kestrune
  echo "gio open: one window, x.enc waiting, y.enc handed to it by a second launch, both restored"
}

# Where the first file of the view sits in a new window of each file
# manager, with its default settings under a fresh HOME (Thunar adds a bar
# that warns root). Their GTK views are not on the accessibility bus here.
first_item_offset() {
  case $1 in
    pcmanfm) echo 205 100 ;;
    thunar) [ "$(id -u)" = 0 ] && echo 210 145 || echo 210 110 ;;
  esac
}

# Double-clicks the only file in the folder, as a user would.
double_click_in_file_manager() {
  local manager=$1 window X Y WIDTH HEIGHT SCREEN WINDOW offset
  "$manager" "$work/files" >"$work/$manager.log" 2>&1 &
  pids+=($!)
  window=$(timeout 60 xdotool search --sync --onlyvisible --class "$manager" | head -n 1) ||
    cannot_start "$manager"
  read_geometry "$window"
  offset=$(first_item_offset "$manager")
  item_x=$((X + ${offset% *})) item_y=$((Y + ${offset#* }))
  # Again while the folder is still being listed on a busy machine.
  for _ in 1 2 3; do
    sleep 2
    xdotool mousemove "$item_x" "$item_y" sleep 0.3 click --repeat 2 --delay 80 1
    timeout 15 xdotool search --sync --onlyvisible --name '^Kestrune$' >/dev/null && return
  done
}

double_click_container() {
  local manager=$1
  printf 'opened from %s\n' "$manager" >x
  cp x "$work/originals/"
  printf '%s\n' "$password" | kestrune-cli --password-stdin x
  double_click_in_file_manager "$manager"
  window_named Kestrune >/dev/null
  announces "1 file waiting: type the password, then press Enter" || fail "x.enc is not waiting"
  still_waiting x.enc
  type_password_and_enter
  wait_for "x to be restored" test -e x -a ! -e x.enc
  cmp x "$work/originals/x" || fail "x did not come back byte for byte"
  quit_kestrune
  echo "$manager: a double-click on x.enc opened it waiting in Kestrune; restored byte for byte"
  if [ "$manager" = pcmanfm ]; then decrypt_action_in_pcmanfm; fi
}

# The file-manager action on a container: PCManFM keeps Properties last and
# the actions just above it, and its menu holds the keyboard.
decrypt_action_in_pcmanfm() {
  printf '%s\n' "$password" | kestrune-cli --password-stdin x
  wait_for "PCManFM to show x.enc" test -e x.enc
  sleep 2
  xdotool mousemove "$item_x" "$item_y" sleep 0.3 click 3 sleep 1 key Up Up Return
  window_named Kestrune >/dev/null
  announces "1 file waiting: type the password, then press Enter" || fail "x.enc is not waiting"
  type_password_and_enter
  wait_for "x to be restored" test -e x -a ! -e x.enc
  cmp x "$work/originals/x" || fail "x did not come back byte for byte"
  quit_kestrune
  echo "pcmanfm: Decrypt with Kestrune on x.enc opened it waiting in Kestrune; restored byte for byte"
}

dolphin_encrypt_selection() {
  local files=(a.txt 'b c.odt' d.bin) window file
  for file in "${files[@]}"; do head -c 5000 /dev/urandom >"$file"; cp -- "$file" "$work/originals/"; done
  dolphin --new-window "$work/files" >"$work/dolphin.log" 2>&1 &
  pids+=($!)
  window=$(timeout 90 xdotool search --sync --onlyvisible --class dolphin | head -n 1) ||
    cannot_start dolphin
  # Dolphin lists the folder a while after its window shows.
  sleep 5
  local X Y WIDTH HEIGHT SCREEN WINDOW
  read_geometry "$window"
  xdotool mousemove $((X + WIDTH * 2 / 3)) $((Y + HEIGHT * 2 / 3)) click 1 sleep 1 key ctrl+a sleep 1
  # The context menu of the selection, as the Menu key or a right-click
  # opens it. KDE keeps Properties last and service menu actions just above.
  xdotool key Menu sleep 1 key Up Up
  if [ -n "$screenshot" ]; then
    mkdir -p "$(dirname "$screenshot")"
    import -window root -crop "$((WIDTH + 120))x$((HEIGHT + 20))+$X+$Y" +repage "$screenshot"
  fi
  xdotool key Return
  window_named Kestrune >/dev/null
  announces "3 files waiting: type the password, then press Enter" || fail "the selection is not waiting"
  single_window
  still_waiting "${files[@]}"
  type_password_and_enter
  wait_for "the selection to be encrypted" bash -c 'for f in "$@"; do [ -e "$f.enc" ] && [ ! -e "$f" ] || exit 1; done' _ "${files[@]}"
  for file in "${files[@]}"; do
    printf '%s\n' "$password" | kestrune-cli --password-stdin "$file.enc"
    cmp -- "$file" "$work/originals/$file" || fail "$file did not come back with the typed password"
  done
  quit_kestrune
  echo "Dolphin: 'Encrypt with Kestrune' on three files encrypted them with the typed password"
}

rm -rf "$work"
mkdir -p "$work/files" "$work/originals"
install_into_scratch_prefix
start_xvfb
start_session_bus
cd "$work/files"

case $scenario in
  gio_open) gio_open ;;
  pcmanfm | thunar) double_click_container "$scenario" ;;
  dolphin) dolphin_encrypt_selection ;;
  *) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac
