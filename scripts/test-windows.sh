#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 and runs each build's
# tests under Wine: i686, the shipped build, in a 32-bit prefix, and x86_64
# in a 64-bit one. For each: the core's tests and known-answer vectors
# through CryptoAPI, the Windows back ends, the dialog on an Xvfb display,
# containers exchanged with the Linux CLI, and kestrune.exe itself opening,
# photographed, and closing. The x86_64 one also has files dragged onto it
# from an X11 program. Then each per-user installer is installed, used the
# ways Explorer starts Kestrune, and removed, in a prefix of its own.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=2

# The build being tested: select_build ARCH.
arch= build_dir= prefix= winearch=
select_build() {
  arch=$1
  build_dir=$root/build/windows-$arch
  prefix=$build_dir/wineprefix
  case "$arch" in
    i686) winearch=win32 ;;
    *) winearch=win64 ;;
  esac
}
wine_run() { WINEARCH=$winearch "$root/scripts/wine-run.sh" "$prefix" "$@"; }

# A fresh prefix per run. Without a window manager Wine must draw its own
# window frames, or the dialog never gets a caption and close box.
make_wine_prefix() {
  rm -rf "$prefix"
  mkdir -p "$build_dir"
  KESTRUNE_WINE_TIMEOUT=180 wine_run wineboot --init
  wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  # The prefix's first start goes on in the background (services, its
  # registry being written out); tests start once that has settled.
  WINEPREFIX=$prefix timeout 120 /usr/lib/wine/wineserver -w || true
}

# Wine's server and system processes, once started, keep the output of the
# program that started them open for as long as they live, and CTest waits
# for that output to close. So one idle program holds the session open from
# here to the end, started with its output going nowhere.
start_wine_session() {
  (sleep 3600 | KESTRUNE_WINE_TIMEOUT=3600 wine_run cmd /c pause) >/dev/null 2>&1 &
  sleep 2
}
stop_wine_session() {
  [ -n "$prefix" ] || return 0
  WINEPREFIX=$prefix timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null || true
}

source scripts/display.sh
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
    echo "interchange with $1/$2 ($arch)"
    cp original "$name"
    printf 'pässwort\n' | "$linux_cli" --password-stdin --hash "$1" --cipher "$2" "$name"
    printf 'pässwort\n' | wine_run "$windows_cli" --password-stdin --hash "$1" --cipher "$2" "$name.enc"
    cmp original "$name" && [ ! -e "$name.enc" ]
    printf 'pässwort\n' | wine_run "$windows_cli" --password-stdin --hash "$1" --cipher "$2" "$name"
    printf 'pässwort\n' | "$linux_cli" --password-stdin --hash "$1" --cipher "$2" "$name.enc"
    cmp original "$name" && [ ! -e "$name.enc" ]
  done
  # The password line is read byte for byte: a Ctrl-Z byte in it is part of
  # the password, not the end of the input.
  cp original ctrl-z
  printf 'ab\x1acdefgh\n' | "$linux_cli" --password-stdin ctrl-z
  printf 'ab\x1acdefgh\n' | wine_run "$windows_cli" --password-stdin ctrl-z.enc
  cmp original ctrl-z && [ ! -e ctrl-z.enc ]
  cd "$root"
}

# Ctrl-C (SIGINT, which Wine turns into the console's CTRL_C_EVENT) stops
# kestrune-cli.exe mid-file, and with -j every file under way: exit 130, no
# temporary, each input untouched.
check_ctrl_c_stops_the_cli() {
  local work=$build_dir/ctrl_c status jobs name paths
  for jobs in 1 3; do
    rm -rf "$work" && mkdir -p "$work" && head -c $((300000000 / jobs)) /dev/urandom >"$work/orig"
    paths=()
    [ "$jobs" = 1 ] && paths=("$work/big") || paths=("$work/a" "$work/b" "$work/c")
    for name in "${paths[@]}"; do cp "$work/orig" "$name"; done
    echo "Ctrl-C during a conversion (-j $jobs)"
    status=$(
      set -m  # or the background program starts with SIGINT ignored
      printf 'pw\n' | wine_run "$build_dir/cli/kestrune-cli.exe" --password-stdin -j "$jobs" "${paths[@]}" &
      runner=$!
      for _ in $(seq 600); do compgen -G "$work/.*.enc.kestrune-*.tmp" >/dev/null && break; sleep 0.05; done
      kill -INT "$(pgrep -x -f "$build_dir/cli/kestrune-cli.exe --password-stdin -j $jobs ${paths[*]}")"
      wait "$runner" && echo 0 || echo $?
    )
    [ "$status" = 130 ] && [ -z "$(compgen -G "$work/.*.tmp")" ] || return 1
    for name in "${paths[@]}"; do cmp "$name" "$work/orig" && [ ! -e "$name.enc" ] || return 1; done
  done
  rm -rf "$work"
}

# The real program: it opens, is photographed, closes on Escape, exits 0.
check_program_runs_and_exits_cleanly() {
  echo "kestrune.exe ($arch) opens and closes"
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

# The installer of the selected build, from install to uninstall, on a
# display and in a prefix of the test's own.
check_installer() {
  select_build "$1"
  local version status=0
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
  # An older version to upgrade from: the same programs, labelled 0.0.1,
  # from what scripts/package.sh staged.
  local older=$build_dir/kestrune-0.0.1-windows-$arch.msi msi_arch=x64
  [ "$arch" = i686 ] && msi_arch=x86
  (cd "$root/build/package-msi/$arch" && wixl -a "$msi_arch" -D Version=0.0.1 -D Arch="$arch" \
    -D BinDir=. -D DocDir=. -D Icon=kestrune.ico -o "$older" kestrune.wxs)
  echo "the per-user installer ($arch) under Wine, upgrading 0.0.1"
  WINEARCH=$winearch bash "$root/tests/win32/installer_end_to_end.sh" \
    "$root/build/packages/kestrune-$version-windows-$arch.msi" "$root/build/default/cli/kestrune-cli" \
    "$build_dir/installer" "$older" || status=$?
  [ "$status" = 77 ] && echo "installer under Wine skipped" && return
  return "$status"
}

# One build, from a fresh prefix to its last test; the prefix's programs end
# with it.
test_build() {
  select_build "$1"
  make_wine_prefix
  start_wine_session
  cmake --preset "windows-$arch" -G Ninja
  cmake --build --preset "windows-$arch" -j "$jobs"
  ctest --preset "windows-$arch" -j "$jobs"
  check_containers_interchange
  check_ctrl_c_stops_the_cli
  check_program_runs_and_exits_cleanly
}

bash scripts/install-deps.sh windows
export LC_ALL=C.UTF-8

# The Linux side of the exchange and the drag.
cmake --preset default -G Ninja >/dev/null
cmake --build --preset default -j "$jobs" --target kestrune-cli kestrune_drag_source

# The display comes first: Wine's desktop process, started with the prefix,
# keeps the display it was started with.
start_display
test_build i686
stop_wine_session
test_build x86_64
check_drag_from_x11
stop_wine_session
bash scripts/package.sh msis
check_installer i686
check_installer x86_64
echo "Windows builds and tests (i686 and x86_64): all passed"
