#!/bin/sh
# Makes src/app/updater.ico (or the path given), icon resource 128 of the Windows updater: a 32x32
# and a 16x16 image, 16 colours each, drawn with ImageMagick and packed with icoutils' icotool.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../src/app/updater.ico"}
# Debian's ImageMagick by its full path, so that another "convert" earlier on PATH is not used.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The design: a white down arrow into a cyan tray, on a navy disc.
# draw <size> <output> <draw primitives...>: no anti-aliasing, so every pixel is one of the few
# colours named below and the corners stay fully transparent (icotool turns them into the AND
# mask). All colours come from the classic 16-colour palette, so the 4-bit images are exact.
draw() {
  size=$1
  target=$2
  shift 2
  "$convert" -size "${size}x${size}" xc:none +antialias -stroke none "$@" \
    -define png:exclude-chunks=date,time,tIME "PNG32:$target"
}

draw 32 "$work/icon32.png" \
  -fill '#000080' -draw 'circle 15.5,15.5 15.5,0.5' \
  -fill '#ffffff' -draw 'rectangle 13,5 18,15' \
  -draw 'polygon 8,15 23,15 15.5,23' \
  -fill '#00ffff' -draw 'rectangle 8,25 23,26'

draw 16 "$work/icon16.png" \
  -fill '#000080' -draw 'circle 7.5,7.5 7.5,0' \
  -fill '#ffffff' -draw 'rectangle 6,2 9,7' \
  -draw 'polygon 3,7 12,7 7.5,11.5' \
  -fill '#00ffff' -draw 'rectangle 3,12 12,12'

for image in "$work/icon32.png" "$work/icon16.png"; do
  colours=$("$convert" "$image" -format '%k' info:)
  if [ "$colours" -gt 16 ]; then
    echo "make-icon: $image has $colours colours, more than a 4-bit icon holds" >&2
    exit 1
  fi
done

icotool -c -b 4 -o "$out" "$work/icon32.png" "$work/icon16.png"
icotool -l "$out"
