#!/usr/bin/env bash
# Checks a Debian system that has nothing but the base system and the
# installed package: Debian's trigger has registered the container's MIME
# type, and both programs run there: kestrune-cli encrypts and restores a
# file, and the dialog opens on the caller's X display (QT_QPA_PLATFORM=xcb)
# and ends with exit code 0 on Escape.
# Usage: check_installed_system.sh SYSTEM_ROOT
# Needs root (chroot, a bind mount), DISPLAY, xdotool.
set -euo pipefail
system=$1
display=${DISPLAY:?an X display is needed}

fail() { echo "FAIL: $*" >&2; exit 1; }
in_system() {
  chroot "$system" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DISPLAY="$display" XDG_RUNTIME_DIR=/run/kestrune-test "$@"
}

check_cli_round_trip() {
  in_system sh -ec '
    cd "$(mktemp -d)"
    head -c 300000 /dev/urandom >original
    cp original "report 1.pdf"
    printf "pass word\n" | kestrune-cli --password-stdin --cipher AES128 "report 1.pdf"
    test ! -e "report 1.pdf" && test -s "report 1.pdf.enc"
    printf "pass word\n" | kestrune-cli --password-stdin --cipher AES128 "report 1.pdf.enc"
    test ! -e "report 1.pdf.enc" && cmp original "report 1.pdf"'
  in_system kestrune-cli --version
  echo "kestrune-cli encrypted and restored a file in the fresh system"
}

# The X server's socket, seen from inside.
sockets_mounted=
share_x_socket() {
  mkdir -p "$system/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$system/tmp/.X11-unix"
  sockets_mounted=1
}
unshare_x_socket() { [ -z "$sockets_mounted" ] || umount "$system/tmp/.X11-unix"; }

check_dialog_opens_and_closes() {
  mkdir -p -m 0700 "$system/run/kestrune-test"
  share_x_socket
  in_system env QT_QPA_PLATFORM=xcb kestrune >"$system/tmp/kestrune.log" 2>&1 &
  local program=$!
  local window
  window=$(timeout 60 xdotool search --sync --name '^Kestrune$' | head -1) ||
    fail "the dialog did not open: $(cat "$system/tmp/kestrune.log")"
  # Without a window manager a click on the password field gives the
  # window the keyboard.
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 28 / 182)) click 1
  sleep 0.3
  xdotool key Escape
  local status=0
  timeout 30 tail --pid="$program" -f /dev/null || fail "the dialog did not close on Escape"
  wait "$program" || status=$?
  [ "$status" = 0 ] || fail "kestrune exited with $status: $(cat "$system/tmp/kestrune.log")"
  echo "kestrune opened its window in the fresh system and closed on Escape with exit code 0"
}

# shared-mime-info's trigger has taught the system the container type.
check_mime_type_registered() {
  grep -qx '40:application/x-kestrune-container:\*\.enc:cs' "$system/usr/share/mime/globs2" ||
    fail "the installed system's MIME database does not know Kestrune containers"
  echo "the MIME database of the fresh system knows *.enc as application/x-kestrune-container"
}

trap unshare_x_socket EXIT
check_mime_type_registered
check_cli_round_trip
check_dialog_opens_and_closes
