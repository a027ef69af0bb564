#!/usr/bin/env bash
# Builds Kestrune and opens its dialog. Without a display (a server, an SSH
# session) it shows the conversion at work instead: a sample file is
# encrypted into its container and restored with kestrune-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default -G Ninja >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build --preset default -j "$(nproc)" --target kestrune
  exec build/default/ui/qt/kestrune
fi

echo "No display to open the dialog on; showing kestrune-cli at work instead."
cmake --build --preset default -j "$(nproc)" --target kestrune-cli
cli=build/default/cli/kestrune-cli
sample=$(mktemp -d)/sample.txt
echo "Kestrune keeps this file safe." > "$sample"
echo "Encrypting $sample with SHA256/AES256 and the password 'demo'..."
printf 'demo\n' | "$cli" --password-stdin "$sample"
ls -l "$sample.enc"
echo "Decrypting it again..."
printf 'demo\n' | "$cli" --password-stdin "$sample.enc"
cat "$sample"
