#!/usr/bin/env bash
# Makes a contact sheet PNG of a generated picture set: the thirteen files as they
# are, then the four masked pictures cut out over a grey checkerboard.
# Usage: contact_sheet.sh TEXTURES_DIR OUT.png   (needs djpeg and ImageMagick)
set -eu
usage="usage: contact_sheet.sh TEXTURES_DIR OUT.png"
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
bad_usage() { echo "contact_sheet: $1" >&2; echo "$usage" >&2; exit 2; }
[ $# = 2 ] || bad_usage "two arguments needed"
[ -d "$1" ] || bad_usage "no folder '$1'"
src=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tiles=()
for name in tex1 tex2 tex2mask tex3 tex5 tex6 tex7 tex8 tex8mask tex9 tex9mask tex10 tex11; do
    djpeg -pnm -outfile "$work/$name.pnm" "$src/$name.jpg"
    convert "$work/$name.pnm" -resize 256x256 "$work/$name.png"
    tiles+=(-label "$name.jpg" "$work/$name.png")
done
# Masked pictures: alpha from the mask's grey (tex5 is its own mask: its red channel).
convert "$work/tex5.pnm" -channel R -separate "$work/tex5alpha.pnm"
for pair in tex2:tex2mask tex5:tex5alpha tex8:tex8mask tex9:tex9mask; do
    picture=${pair%%:*}
    mask=${pair##*:}
    convert -size 512x512 pattern:checkerboard -fill '#808080' -colorize 60% "$work/checker.png"
    convert "$work/$picture.pnm" "$work/$mask.pnm" -alpha off -compose CopyOpacity -composite \
        "$work/$picture-cut.png"
    convert "$work/checker.png" "$work/$picture-cut.png" -resize 256x256! -gravity center \
        -compose over -composite "$work/$picture-masked.png"
    tiles+=(-label "$picture with its mask" "$work/$picture-masked.png")
done
montage "${tiles[@]}" -tile 6x -geometry 256x256+6+6 -background '#202020' -fill white \
    -pointsize 14 "$out"
