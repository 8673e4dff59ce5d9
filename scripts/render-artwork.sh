#!/usr/bin/env bash
# Renders the program's artwork from its SVG sources into the PNGs the program and the
# package use, the icon and bitmap of the Windows program, and the Windows installer's
# pictures. Run after changing an SVG; the results are committed.
set -euo pipefail
cd "$(dirname "$0")/../qt/resources"

magick=/usr/bin/convert  # ImageMagick's own, not a wrapper earlier in PATH

# Icon 128: 48 and 32 pixels from the master drawing, 16 from its own pixel-grid drawing.
for size in 48 32; do
  "$magick" -background none -density "$((96 * size / 48))" icons/ostrel.svg \
    -resize "${size}x${size}" -depth 8 -define png:color-type=6 "icons/ostrel-${size}.png"
done
"$magick" -background none -density 96 icons/ostrel-16.svg -depth 8 -define png:color-type=6 icons/ostrel-16.png

# Bitmap 130: 51 x 57 pixels, 24-bit colour, no alpha.
"$magick" -background '#f0f0f0' -density 96 bitmaps/logo.svg -flatten -alpha off \
  -depth 8 -define png:color-type=2 bitmaps/logo.png

# The Windows program's copies: the icon's three sizes in one .ico, the bitmap as a
# 24-bit BMP.
windows=../../win32/resources
"$magick" icons/ostrel-48.png icons/ostrel-32.png icons/ostrel-16.png "$windows/ostrel.ico"
"$magick" bitmaps/logo.png -type TrueColor "BMP3:$windows/logo.bmp"

# The installer's pictures in place of NSIS's own: the page header (150 x 57, the icon on
# white) and the side panel of the welcome and finish pages (164 x 314, the icon doubled
# pixel for pixel on white), 24-bit BMPs as NSIS wants them.
installer=../../dist/windows
"$magick" -size 150x57 xc:white icons/ostrel-48.png -gravity west -geometry +8+0 -composite \
  -alpha off -type TrueColor "BMP3:$installer/header.bmp"
"$magick" -size 164x314 xc:white \( icons/ostrel-48.png -filter point -resize 96x96 \) \
  -gravity north -geometry +0+56 -composite -alpha off -type TrueColor "BMP3:$installer/welcome.bmp"

identify icons/*.png bitmaps/*.png "$windows/ostrel.ico" "$windows/logo.bmp" \
  "$installer/header.bmp" "$installer/welcome.bmp"
