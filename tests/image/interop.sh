#!/usr/bin/env bash
# Image files against ImageMagick: what our encoders write, ImageMagick reads with the same
# pixels; what ImageMagick writes (palettes, tRNS, gAMA, 16-bit, Adam7, V5 and 24-bit BMPs,
# RLE, TIFF with alpha and LZW, GIF, gray and CMYK JPEG) we decode. Skipped (77) when
# ImageMagick is missing (a `convert` of another program does not count).
set -uo pipefail
kel=$1
if ! convert -version 2> /dev/null | grep -q ImageMagick || ! command -v identify > /dev/null; then
  echo "SKIP: ImageMagick is not installed (setup.sh installs imagemagick)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
check() {  # what, expected, got
  if [ "$2" == "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected [$2] got [$3]"; failures=$((failures + 1)); fi
}
run_kel() {
  printf 'Kel []\n%s\n' "$1" > s.kel
  "$kel" s.kel 2>&1
}
rgba() { convert "$1" -depth 8 rgba:- 2> /dev/null | od -An -tx1 | tr -d ' \n'; }

# Ours, read by ImageMagick.
run_kel '
i: make image! [2x1 #{FF000000FF00} #{0080}]
o: make image! [2x1 #{FF000000FF00}]
foreach [name data] reduce [
  %ours.png system/codecs/png/encode i none
  %ours.bmp system/codecs/bmp/encode i none
  %ours.tif system/codecs/tiff/encode i none
  %ours.gif system/codecs/gif/encode o none
  %ours.jpg system/codecs/jpeg/encode make image! [8x8 51.102.153] none
][print [name enbase data]]' > files.txt
# kel prints each file as base 64; the shell writes it out.
while read -r name data; do echo "$data" | base64 -d > "$name"; done < files.txt
for f in png bmp tif; do
  check "our $f: format and size" "$(echo $f | tr a-z A-Z | sed 's/TIF/TIFF/') 2x1" "$(identify -format '%m %wx%h' ours.$f 2>&1)"
  check "our $f: pixels" "ff0000ff00ff007f" "$(rgba ours.$f)"
done
check "our gif without alpha: pixels" "ff0000ff00ff00ff" "$(rgba ours.gif)"
jpeg=$(convert ours.jpg -depth 8 rgb:- | od -An -tu1 | tr -s ' \n' ' ')
far=$(echo "$jpeg" | awk '{ for (i = 1; i <= NF; i++) { w = (i % 3 == 1) ? 51 : (i % 3 == 2) ? 102 : 153; d = $i - w; if (d < 0) d = -d; if (d > 3) bad++ } } END { print NF, bad + 0 }')
check "our flat jpeg: 64 pixels within 3 of its colour" "192 0" "$far"

# ImageMagick's, read by us: the first pixel of each.
convert -size 3x2 xc:'#FF000080' red.png
convert -size 3x2 xc:'#FF000080' PNG8:red8.png
convert -size 3x2 xc:'#FF000080' -depth 16 PNG64:red16.png
convert -size 3x2 xc:'#FF000080' -interlace PNG redi.png
convert -size 3x2 xc:'#FF000080' red.bmp
convert -size 3x2 xc:'#FF000080' red.tif
convert -size 3x2 xc:'#FF000080' -compress lzw redz.tif
convert -size 3x2 xc:'#FF000080' red.gif
convert -size 3x2 xc:'#336699' BMP3:blue.bmp
convert -size 3x2 xc:'#336699' -type palette -compress RLE BMP3:bluerle.bmp
convert -size 3x2 xc:'#336699' -type palette BMP3:blue8.bmp
convert -size 3x2 xc:'#336699' -depth 16 blue16.tif
convert -size 3x2 xc:'#808080' -colorspace gray gray.png
convert -size 8x8 xc:'#808080' -colorspace gray gray.jpg
convert -size 8x8 xc:'#336699' -colorspace CMYK cmyk.jpg
got=$(run_kel '
foreach f [%red.png %red8.png %red16.png %redi.png %red.bmp %red.tif %redz.tif %red.gif
           %blue.bmp %bluerle.bmp %blue8.bmp %blue16.tif %gray.png] [
  i: system/codecs/png/decode f
  print [f i/size pick i 1 pick i 6]
]
foreach f [%gray.jpg %cmyk.jpg] [i: system/codecs/jpeg/decode f print [f i/size pick i 1]]')
want="red.png 3x2 255.0.0.127 255.0.0.127
red8.png 3x2 255.0.0.0 255.0.0.0
red16.png 3x2 255.0.0.127 255.0.0.127
redi.png 3x2 255.0.0.127 255.0.0.127
red.bmp 3x2 255.0.0.127 255.0.0.127
red.tif 3x2 255.0.0.127 255.0.0.127
redz.tif 3x2 255.0.0.127 255.0.0.127
red.gif 3x2 255.0.0.0 255.0.0.0
blue.bmp 3x2 51.102.153.0 51.102.153.0
bluerle.bmp 3x2 51.102.153.0 51.102.153.0
blue8.bmp 3x2 51.102.153.0 51.102.153.0
blue16.tif 3x2 51.102.153.0 51.102.153.0
gray.png 3x2 128.128.128.0 128.128.128.0"
check "ImageMagick's files decode" "$want" "$(echo "$got" | head -13)"
near() {  # tuple, r g b: each within 3
  echo "$1" | awk -F. -v r="$2" -v g="$3" -v b="$4" '{ d1 = $1 - r; d2 = $2 - g; d3 = $3 - b; if (d1 < 0) d1 = -d1; if (d2 < 0) d2 = -d2; if (d3 < 0) d3 = -d3; print (d1 <= 3 && d2 <= 3 && d3 <= 3 && $4 == 0) ? "near" : $0 }'
}
check "gray jpeg" "near" "$(near "$(echo "$got" | sed -n 14p | cut -d' ' -f3)" 128 128 128)"
check "cmyk jpeg" "near" "$(near "$(echo "$got" | sed -n 15p | cut -d' ' -f3)" 51 102 153)"
[ $failures -eq 0 ]
