#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 (i686, the shipped build,
# and x86_64) and runs the x86_64 build's tests under wine64: the core's
# tests and known-answer vectors through CryptoAPI, the Windows back ends,
# the dialog on an Xvfb display, containers exchanged with the Linux CLI,
# kestrune.exe itself, with a screenshot, and files dragged onto it from an
# X11 program. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=2

install_missing_packages() {
  local missing=()
  while read -r package; do
    case "$package" in "" | "#"*) continue ;; esac
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done <scripts/windows-deps.txt
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_dir=$root/build/windows-x86_64
prefix=$build_dir/wineprefix
wine_run() { "$root/scripts/wine-run.sh" "$prefix" "$@"; }

# A fresh prefix per run. Without a window manager Wine must draw its own
# window frames, or the dialog never gets a caption and close box.
make_wine_prefix() {
  rm -rf "$prefix"
  mkdir -p "$build_dir"
  KESTRUNE_WINE_TIMEOUT=180 wine_run wineboot --init
  wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
}

# Wine's server and system processes, once started, keep the output of the
# program that started them open for as long as they live, and CTest waits
# for that output to close. So one idle program holds the session open from
# here to the end, started with its output going nowhere.
start_wine_session() {
  (sleep 3600 | KESTRUNE_WINE_TIMEOUT=3600 wine_run cmd /c pause) >/dev/null 2>&1 &
  sleep 2
}
stop_wine_session() { WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null || true; }

xvfb_pid=
start_display() {
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$display_file")"
  rm -f "$display_file"
}
stop_display() { [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true; }
trap 'stop_wine_session; stop_display' EXIT

# A container made on one side opens on the other, both ways, for a name
# outside ASCII and for a combination that needs the AES provider fallback.
check_containers_interchange() {
  local linux_cli=$root/build/default/cli/kestrune-cli
  local windows_cli=$build_dir/cli/kestrune-cli.exe
  local work=$build_dir/interchange
  rm -rf "$work" && mkdir -p "$work" && cd "$work"
  local name='Bericht-ä-データ.txt'
  head -c 100000 /dev/urandom >original
  for combination in "SHA256 AES256" "SHA512 3DES" "MD5 DES"; do
    set -- $combination
    echo "interchange with $1/$2"
    cp original "$name"
    printf 'pässwort\n' | "$linux_cli" --password-stdin --hash "$1" --cipher "$2" "$name"
    printf 'pässwort\n' | wine_run "$windows_cli" --password-stdin --hash "$1" --cipher "$2" "$name.enc"
    cmp original "$name" && [ ! -e "$name.enc" ]
    printf 'pässwort\n' | wine_run "$windows_cli" --password-stdin --hash "$1" --cipher "$2" "$name"
    printf 'pässwort\n' | "$linux_cli" --password-stdin --hash "$1" --cipher "$2" "$name.enc"
    cmp original "$name" && [ ! -e "$name.enc" ]
  done
  cd "$root"
}

# Ctrl-C (SIGINT, which Wine turns into the console's CTRL_C_EVENT) stops
# kestrune-cli.exe mid-file: exit 130, no temporary, the input untouched.
check_ctrl_c_stops_the_cli() {
  local work=$build_dir/ctrl_c status
  rm -rf "$work" && mkdir -p "$work"
  head -c 300000000 /dev/urandom >"$work/big" && cp "$work/big" "$work/orig"
  echo "Ctrl-C during a conversion"
  status=$(
    set -m  # or the background program starts with SIGINT ignored
    printf 'pw\n' | wine_run "$build_dir/cli/kestrune-cli.exe" --password-stdin "$work/big" &
    runner=$!
    for _ in $(seq 600); do compgen -G "$work/.big.enc.kestrune-*.tmp" >/dev/null && break; sleep 0.05; done
    kill -INT "$(pgrep -x -f "$build_dir/cli/kestrune-cli.exe --password-stdin $work/big")"
    wait "$runner" && echo 0 || echo $?
  )
  [ "$status" = 130 ] && [ "$(ls -A "$work")" = "$(printf 'big\norig')" ] && cmp "$work/big" "$work/orig"
  rm -rf "$work"
}

# The real program: it opens, is photographed, closes on Escape, exits 0.
check_program_runs_and_exits_cleanly() {
  KESTRUNE_WINE_TIMEOUT=90 wine_run "$build_dir/ui/win32/kestrune.exe" &
  local program=$!
  local window
  window=$(timeout 60 xdotool search --sync --name '^Kestrune$' | head -1)
  sleep 1
  import -window root "$build_dir/kestrune-dialog.png"
  echo "screenshot: $build_dir/kestrune-dialog.png"
  xdotool windowfocus --sync "$window" key Escape
  wait "$program"
}

# Files dragged from a Linux program onto kestrune.exe, on a display and in
# a prefix of the test's own.
check_drag_from_x11() {
  local status=0
  bash "$root/tests/win32/x11_drag_end_to_end.sh" "$build_dir/ui/win32/kestrune.exe" \
    "$root/build/default/tests/ui_qt/kestrune_drag_source" "$root/build/default/cli/kestrune-cli" \
    "$build_dir/x11_drag" || status=$?
  [ "$status" = 77 ] && echo "drag from X11 skipped" && return
  return "$status"
}

install_missing_packages
export LC_ALL=C.UTF-8

cmake --preset windows-i686 -G Ninja
cmake --build --preset windows-i686 -j "$jobs"

# The display comes first: Wine's desktop process, started with the prefix,
# keeps the display it was started with.
start_display
make_wine_prefix
start_wine_session
cmake --preset windows-x86_64 -G Ninja
cmake --build --preset windows-x86_64 -j "$jobs"
ctest --preset windows-x86_64 -j "$jobs"

cmake --preset default -G Ninja >/dev/null
cmake --build --preset default -j "$jobs" --target kestrune-cli kestrune_drag_source
check_containers_interchange
check_ctrl_c_stops_the_cli
check_program_runs_and_exits_cleanly
check_drag_from_x11
echo "Windows build and tests: all passed"
