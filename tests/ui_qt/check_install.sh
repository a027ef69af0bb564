#!/usr/bin/env bash
# Installs into a scratch prefix and checks that a desktop finds what it
# needs there: the program its entry runs, a valid entry, and the icon it
# names in every size; the container's MIME type, the prefix's databases
# refreshed so the entry opens it, and every file manager's action file.
#
# Usage: check_install.sh BUILD_DIR PREFIX
# Exits 77 (skipped) when a tool is missing, except under CI, where that fails.
set -euo pipefail
build=$1 prefix=$2

missing=()
for tool in desktop-file-validate identify update-mime-database update-desktop-database python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Missing: ${missing[*]}; scripts/install-deps.sh installs them." >&2
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

entry="$prefix/share/applications/kestrune.desktop"
desktop-file-validate "$entry"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -x "$prefix/bin/$program" ] || { echo "FAIL: the entry runs $program, not installed" >&2; exit 1; }

for size in 16 32 48; do
  picture="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$picture" ] || { echo "FAIL: no $picture" >&2; exit 1; }
  identify -format '%w %h' "$picture" | grep -qx "$size $size" ||
    { echo "FAIL: $picture is not $size px" >&2; exit 1; }
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "FAIL: no scalable icon" >&2; exit 1; }

fail() { echo "FAIL: $*" >&2; exit 1; }
share=$prefix/share
grep -qx '40:application/x-kestrune-container:\*\.enc:cs' "$share/mime/globs2" ||
  fail "the MIME database under $prefix does not know *.enc as a Kestrune container"
grep -qx 'application/x-kestrune-container=kestrune.desktop;' "$share/applications/mimeinfo.cache" ||
  fail "the desktop database under $prefix does not open containers with Kestrune"
for action in "$share"/Thunar/sendto/kestrune-*.desktop; do desktop-file-validate "$action"; done
python3 "$(dirname "$0")/nautilus_extension_test.py" "$share/nautilus-python/extensions/kestrune.py"
# The formats without a validator of their own: each runs Kestrune with the
# selection's addresses, under the names the menus show.
for action in "$share"/kio/servicemenus/kestrune-{en,de}crypt.desktop \
  "$share"/file-manager/actions/kestrune-{en,de}crypt.desktop \
  "$share"/nemo/actions/kestrune-{en,de}crypt.nemo_action; do
  grep -qx 'Exec=kestrune %U' "$action" || fail "$action does not run kestrune %U"
  grep -qxE 'Name=(En|De)crypt with Kestrune' "$action" || fail "$action is not named for its action"
done
echo "Installed entry, program, icons, MIME type and file manager actions check out under $prefix"
