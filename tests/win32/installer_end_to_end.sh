#!/usr/bin/env bash
# Installs the per-user MSI under Wine in a fresh prefix of its own, as a
# user without administrator rights would, and uses Kestrune the ways
# Explorer starts it: a double-clicked container (through the file type)
# opens one window with it waiting, and the typed password and Enter restore
# it; the "Encrypt with Kestrune" verb's command line, run once per file and
# all at once as Explorer runs a verb for a selection, gives one window with
# every file waiting; the Send To shortcut, given two files on one command
# line as Send To gives them, does the same. Then the uninstall must leave
# the prefix's files and HKCU\Software\Classes as they were before the
# install.
#
# With OLDER_MSI, an older version is installed first, and the MSI must
# replace it: one Kestrune in the uninstall list, of the MSI's version.
#
# Usage: installer_end_to_end.sh MSI KESTRUNE_CLI WORK_DIR [OLDER_MSI]
# KESTRUNE_CLI is the Linux build's; WINEARCH=win32 for the 32-bit
# installer. Exits 77 (skipped) when a tool is missing, except under CI.
set -euo pipefail

msi=$1 kestrune_cli=$2 work=$3 older_msi=${4:-}
wine_run_script=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh
password='correct horse'

source "$(dirname "$0")/../x11_session.sh"
require_tools Xvfb xdotool import cmp timeout msiinfo "$kestrune_cli"
[ -x /usr/lib/wine/wine64 ] || require_tools wine64
[ -f "$msi" ] || { echo "FAIL: no $msi" >&2; exit 1; }

msi=$(realpath "$msi") kestrune_cli=$(realpath "$kestrune_cli") work=$(realpath -m "$work")
prefix=$work/wineprefix
# Wine's menu builder would copy the installed shortcuts and file types onto
# the Linux desktop of whoever runs the test.
export KESTRUNE_WINE_MORE_OVERRIDES=winemenubuilder.exe=d
wine_run() { "$wine_run_script" "$prefix" "$@"; }
wineserver() {
  local server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server=$(command -v wineserver)
  WINEPREFIX=$prefix timeout 120 "$server" "$@"
}
# A Linux path as Windows programs under Wine see it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/files" "$work/originals"
export LC_ALL=C.UTF-8
start_xvfb
KESTRUNE_WINE_TIMEOUT=180 wine_run wineboot --init >"$work/wineboot.log" 2>&1 ||
  fail "wineboot failed: $(tail -n 5 "$work/wineboot.log")"
KESTRUNE_WINE_TIMEOUT=60 wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
  >/dev/null 2>&1 || fail "could not set Managed=N"
wineserver -w || true

user=$(id -un)
profile=$prefix/drive_c/users/$user
install_dir=$profile/AppData/Local/Programs/Kestrune
install_dir_windows="C:\\users\\$user\\AppData\\Local\\Programs\\Kestrune"

# What the uninstall must give back: every file of the prefix (Wine's own
# scratch folders aside) and the user's classes, which a fresh prefix does
# not even have.
# Windows Installer's own folders, present on every Windows, are left out
# themselves, never what is in them.
prefix_files() {
  (cd "$prefix/drive_c" && find . ! -path './windows/temp*' ! -path "./users/$user/AppData/Local/Temp*" |
    grep -vx -e './windows/Installer' -e "./users/$user/AppData/Roaming/Microsoft/Installer" | sort)
}
user_classes() {
  { KESTRUNE_WINE_TIMEOUT=120 wine_run reg query 'HKCU\Software\Classes' /s 2>/dev/null || true; } |
    tr -d '\r'
}
# The data of a registry value; /ve for the key's default.
registry_value() {
  { KESTRUNE_WINE_TIMEOUT=60 wine_run reg query "$1" "${@:2}" 2>/dev/null || true; } |
    tr -d '\r' | sed -n 's/^ *[^ ]* *REG_[A-Z_]* *//p' | head -n 1
}
expect_value() {
  local expected=$1 actual
  shift
  actual=$(registry_value "$@")
  [ "$actual" = "$expected" ] || fail "$* is '$actual', not '$expected'"
}

check_install() {
  # Windows' own Send To entries, which a new Wine prefix lacks; Wine's
  # uninstall would otherwise remove the folder it found empty.
  touch "$profile/AppData/Roaming/Microsoft/Windows/SendTo/Desktop (create shortcut).DeskLink"
  prefix_files >"$work/files-before"
  user_classes >"$work/classes-before"
  if [ -n "$older_msi" ]; then
    KESTRUNE_WINE_TIMEOUT=300 wine_run msiexec /i "$(windows_path "$(realpath "$older_msi")")" /qn ||
      fail "msiexec /i of the older version failed"
  fi
  KESTRUNE_WINE_TIMEOUT=300 wine_run msiexec /i "$(windows_path "$msi")" /qn ||
    fail "msiexec /i failed"
  wineserver -w || true
  check_one_version_listed
  local file
  for file in kestrune.exe kestrune-cli.exe README.txt LICENSE.txt; do
    [ -s "$install_dir/$file" ] || fail "$file was not installed in $install_dir"
  done
  for file in "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kestrune.lnk" \
    "AppData/Roaming/Microsoft/Windows/SendTo/Kestrune.lnk"; do
    [ -s "$profile/$file" ] || fail "no shortcut $file"
  done
  local command="\"$install_dir_windows\\kestrune.exe\" \"%1\""
  expect_value Kestrune.EncryptedFile 'HKCU\Software\Classes\.enc' /ve
  expect_value '' 'HKCU\Software\Classes\.enc\OpenWithProgids' /v Kestrune.EncryptedFile
  expect_value 'Kestrune encrypted file' 'HKCU\Software\Classes\Kestrune.EncryptedFile' /ve
  expect_value "\"$install_dir_windows\\kestrune.exe\",0" \
    'HKCU\Software\Classes\Kestrune.EncryptedFile\DefaultIcon' /ve
  expect_value 'Decrypt with Kestrune' 'HKCU\Software\Classes\Kestrune.EncryptedFile\shell\open' /ve
  expect_value "$command" 'HKCU\Software\Classes\Kestrune.EncryptedFile\shell\open\command' /ve
  expect_value 'Encrypt with Kestrune' 'HKCU\Software\Classes\*\shell\Kestrune.Encrypt' /ve
  expect_value "$command" 'HKCU\Software\Classes\*\shell\Kestrune.Encrypt\command' /ve
  echo "installed: files, shortcuts and registry values in place"
}

# Wine lists per-user products with the machine's, under HKLM.
installed_versions() {
  { KESTRUNE_WINE_TIMEOUT=60 wine_run reg query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null || true; } |
    tr -d '\r' | awk '/^HKEY/ { if (kestrune) print version; kestrune = 0; version = "" }
      /^ +DisplayName +REG_SZ +Kestrune$/ { kestrune = 1 }
      /^ +DisplayVersion +REG_SZ/ { version = $3 }
      END { if (kestrune) print version }'
}
check_one_version_listed() {
  local version
  version=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')
  [ "$(installed_versions)" = "$version" ] ||
    fail "installed Kestrune versions: '$(installed_versions | xargs)', not just $version"
  [ -z "$older_msi" ] || echo "upgraded: $version replaced $(basename "$older_msi")"
}

# The one Kestrune window, once it has appeared; fails if there are more.
kestrune_windows() { xdotool search --name '^Kestrune$' 2>/dev/null || true; }
no_kestrune_window() { [ -z "$(kestrune_windows)" ]; }
# A search fails outright when a window goes while it looks, as the last
# test's dialog may still be doing; so it is asked again.
the_one_window() {
  local window count
  for _ in $(seq 600); do
    window=$(kestrune_windows | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no window named Kestrune"
  sleep 1
  count=$(kestrune_windows | wc -l)
  [ "$count" = 1 ] || fail "$count Kestrune windows, not one"
  echo "$window"
}

# Unmanaged, Wine's window takes keys only once a click has activated it:
# the click goes to the password field.
type_password_and_enter() {
  local window=$1
  read_geometry "$window"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 73 / 300)) click 1
  sleep 0.3
  xdotool type --delay 30 "$password"
  xdotool key Return
}

close_the_window() {
  xdotool key Escape
  wait_for "Kestrune to close" no_kestrune_window
}

# Windows shows HKCU\Software\Classes merged into HKEY_CLASSES_ROOT, where
# the shell looks up file types; Wine 8 does not merge them, so its start
# would find no program for .enc. For the double-click alone, the installed
# keys are copied as they are to HKLM\Software\Classes, standing in for that
# merge, and removed again right after.
merge_user_file_type() {
  local key
  for key in .enc Kestrune.EncryptedFile; do
    KESTRUNE_WINE_TIMEOUT=60 wine_run reg copy "HKCU\\Software\\Classes\\$key" \
      "HKLM\\Software\\Classes\\$key" /s /f >"$work/reg.log" 2>&1 ||
      fail "reg copy $key failed: $(cat "$work/reg.log")"
  done
}
unmerge_user_file_type() {
  local key
  for key in .enc Kestrune.EncryptedFile; do
    KESTRUNE_WINE_TIMEOUT=60 wine_run reg delete "HKLM\\Software\\Classes\\$key" /f >/dev/null 2>&1 ||
      fail "reg delete $key failed"
  done
}

# A container made on Linux, double-clicked: Wine's start opens it through
# the file type, exactly as Explorer's double-click does.
check_double_click_decrypts() {
  cd "$work/files"
  head -c 100000 /dev/urandom >x
  cp x "$work/originals/x"
  printf '%s\n' "$password" | "$kestrune_cli" --password-stdin x
  [ -s x.enc ] && [ ! -e x ] || fail "the Linux CLI did not make x.enc"
  merge_user_file_type
  KESTRUNE_WINE_TIMEOUT=60 wine_run start /unix "$work/files/x.enc"
  local window
  window=$(the_one_window)
  sleep 1
  [ -e x.enc ] && [ ! -e x ] || fail "x.enc did not wait for the password"
  type_password_and_enter "$window"
  wait_for "x to be restored" test -e x
  wait_for "x.enc to go" test ! -e x.enc
  cmp x "$work/originals/x" || fail "x did not come back byte for byte"
  close_the_window
  unmerge_user_file_type
  echo "double-clicked x.enc: one window, x restored byte for byte"
}

# How many of these processes still run.
running_among() {
  local pid count=0
  for pid in "$@"; do kill -0 "$pid" 2>/dev/null && count=$((count + 1)); done
  echo "$count"
}

# The verb's command line from the registry, with each file for %1, all run
# at once: one process per file, as Explorer runs a verb for a selection.
check_verb_for_files() {
  local count=$1 command program file index
  command=$(registry_value 'HKCU\Software\Classes\*\shell\Kestrune.Encrypt\command' /ve)
  program=$(sed -n 's/^"\([^"]*\)" "%1"$/\1/p' <<<"$command")
  [ -n "$program" ] || fail "the verb's command is not '\"PROGRAM\" \"%1\"': $command"
  cd "$work/files"
  rm -f ./*
  local files=()
  for index in $(seq "$count"); do
    file="file $index.txt"
    head -c $((index * 1000)) /dev/urandom >"$file"
    cp "$file" "$work/originals/$file"
    files+=("$file")
  done
  local launches=()
  for file in "${files[@]}"; do
    KESTRUNE_WINE_TIMEOUT=180 wine_run "$program" "$(windows_path "$work/files/$file")" &
    launches+=($!)
  done
  local window
  window=$(the_one_window)
  # Whichever launch came first keeps the window; every other one ends.
  for _ in $(seq 1200); do
    [ "$(running_among "${launches[@]}")" = 1 ] && break
    sleep 0.1
  done
  [ "$(running_among "${launches[@]}")" = 1 ] || fail "the later launches did not end"
  [ "$(kestrune_windows | wc -l)" = 1 ] || fail "a later launch opened a window"
  import -window "$window" "$work/$count-files-waiting.png"
  for file in "${files[@]}"; do [ -e "$file" ] || fail "$file did not wait for the password"; done
  type_password_and_enter "$window"
  for file in "${files[@]}"; do wait_for "$file to be encrypted" test -s "$file.enc" -a ! -e "$file"; done
  close_the_window
  for launch in "${launches[@]}"; do wait "$launch" || fail "a launch exited with $?"; done
  for file in "${files[@]}"; do
    printf '%s\n' "$password" | "$kestrune_cli" --password-stdin "$file.enc" ||
      fail "$file.enc does not open with the typed password"
    cmp "$file" "$work/originals/$file" || fail "$file did not come back byte for byte"
  done
  echo "the verb for $count files at once: one window, all $count encrypted with the password"
}

# Send To starts its shortcut's program once, with the whole selection on
# one command line; Wine's start runs the installed shortcut the same way.
check_send_to() {
  cd "$work/files"
  rm -f ./*
  local files=(one.txt 'two words.txt') file
  for file in "${files[@]}"; do
    head -c 2000 /dev/urandom >"$file"
    cp "$file" "$work/originals/$file"
  done
  KESTRUNE_WINE_TIMEOUT=60 wine_run start /unix \
    "$profile/AppData/Roaming/Microsoft/Windows/SendTo/Kestrune.lnk" \
    "$(windows_path "$work/files/one.txt")" "$(windows_path "$work/files/two words.txt")"
  local window
  window=$(the_one_window)
  for file in "${files[@]}"; do [ -e "$file" ] || fail "$file did not wait for the password"; done
  type_password_and_enter "$window"
  for file in "${files[@]}"; do
    wait_for "$file to be encrypted" test -s "$file.enc" -a ! -e "$file"
    printf '%s\n' "$password" | "$kestrune_cli" --password-stdin "$file.enc" ||
      fail "$file.enc does not open with the typed password"
    cmp "$file" "$work/originals/$file" || fail "$file did not come back byte for byte"
  done
  close_the_window
  echo "Send To with ${#files[@]} files: one window, both encrypted with the password"
}

check_uninstall_leaves_nothing() {
  KESTRUNE_WINE_TIMEOUT=300 wine_run msiexec /x "$(windows_path "$msi")" /qn ||
    fail "msiexec /x failed"
  wineserver -w || true
  prefix_files >"$work/files-after"
  user_classes >"$work/classes-after"
  diff "$work/files-before" "$work/files-after" || fail "the uninstall left files behind"
  diff "$work/classes-before" "$work/classes-after" || fail "the uninstall left classes behind"
  [ -z "$(registry_value 'HKCU\Software\Kestrune' /s)" ] || fail "HKCU\\Software\\Kestrune is left"
  [ -z "$(installed_versions)" ] || fail "Kestrune is still listed as installed"
  echo "uninstalled: the prefix's files and HKCU\\Software\\Classes are as before"
}

check_install
check_double_click_decrypts
check_verb_for_files 3
check_verb_for_files 15
check_send_to
check_uninstall_leaves_nothing
echo "Installer under Wine ($(basename "$msi")): all passed"
