#!/usr/bin/env bash
# Draws the program's icon (a clock face at ten past ten, as the Linux build
# draws it) into src/platform/win32/resources/veltrane.ico, in the sizes
# Windows asks for. Needs ImageMagick; run by hand when the icon changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

s=256
draw=(-draw "stroke #1f3b6e stroke-width 20 fill #fbfbf2 circle 128,128 128,15")
# Hour marks: long at 12, 3, 6 and 9.
for hour in $(seq 0 11); do
  if ((hour % 3 == 0)); then width=15; inner=69; else width=8; inner=79; fi
  draw+=(-draw "stroke #1f3b6e stroke-width $width translate 128,128 rotate $((hour * 30)) line 0,-90 0,-$inner")
done
# Hour hand towards ten, minute hand towards two, and the red centre.
draw+=(-draw "stroke #202020 stroke-width 18 stroke-linecap round translate 128,128 rotate -55 line 0,0 0,-51")
draw+=(-draw "stroke #202020 stroke-width 13 stroke-linecap round translate 128,128 rotate 60 line 0,0 0,-77")
draw+=(-draw "stroke none fill #c02020 circle 128,128 128,143")
convert -size ${s}x${s} xc:none "${draw[@]}" "$work/clock.png"
for size in 16 24 32 48 64; do
  convert "$work/clock.png" -resize ${size}x${size} "$work/clock-$size.png"
done
convert "$work/clock-16.png" "$work/clock-24.png" "$work/clock-32.png" "$work/clock-48.png" \
  "$work/clock-64.png" "$work/clock.png" "$root/src/platform/win32/resources/veltrane.ico"
echo "wrote src/platform/win32/resources/veltrane.ico"
