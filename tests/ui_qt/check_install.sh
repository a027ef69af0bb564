#!/usr/bin/env bash
# Installs into a scratch prefix and checks that a desktop finds what it
# needs there: the program its entry runs, a valid entry, and the icon it
# names in every size.
#
# Usage: check_install.sh BUILD_DIR PREFIX
# Exits 77 (skipped) when a tool is missing, except under CI, where that fails.
set -euo pipefail
build=$1 prefix=$2

missing=()
for tool in desktop-file-validate identify; do
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
program=$(sed -n 's/^Exec=//p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -x "$prefix/bin/$program" ] || { echo "FAIL: the entry runs $program, not installed" >&2; exit 1; }

for size in 16 32 48; do
  picture="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$picture" ] || { echo "FAIL: no $picture" >&2; exit 1; }
  identify -format '%w %h' "$picture" | grep -qx "$size $size" ||
    { echo "FAIL: $picture is not $size px" >&2; exit 1; }
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "FAIL: no scalable icon" >&2; exit 1; }
echo "Installed entry, program and icons check out under $prefix"
