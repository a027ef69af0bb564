#!/usr/bin/env bash
# Renders the application icon from its SVG into the PNG sizes the Linux
# desktop uses and the Windows icon group (16, 32, 48 px, 256 colours).
# The outputs are committed; run this only after changing the artwork.
set -euo pipefail
cd "$(dirname "$0")/../ui/resources"
for size in 16 32 48; do
  convert -background none -density 384 kestrune.svg -resize "${size}x${size}" "kestrune-${size}.png"
done
convert kestrune-16.png kestrune-32.png kestrune-48.png -colors 256 kestrune.ico
