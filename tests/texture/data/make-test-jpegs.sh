#!/usr/bin/env bash
# Regenerates the decoder's reference JPEG files in this folder from synthetic
# photo-like pictures (ImageMagick's seeded plasma), encoded by libjpeg-turbo's cjpeg.
# The files are checked in: golden checksums of our decoder's output refer to them.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# make NAME WIDTH HEIGHT SEED CJPEG-OPTIONS...
make() {
    local name=$1 w=$2 h=$3 seed=$4
    shift 4
    convert -size "${w}x${h}" -seed "$seed" plasma:fractal -depth 8 "ppm:$tmp/src.ppm"
    cjpeg "$@" -outfile "$name.jpg" "$tmp/src.ppm"
}

make grey-37x29 37 29 1 -grayscale -quality 90
make grey-23x17 23 17 2 -grayscale
make grey-sampled2x2-23x17 23 17 3 -grayscale -sample 2x2
make ycc444-37x29 37 29 4 -sample 1x1
make ycc422-37x29 37 29 5 -sample 2x1
make ycc420-37x29 37 29 6 -sample 2x2
make ycc420-16x16 16 16 7
make ycc420-1x1 1 1 8
make ycc420-restart-row-45x35 45 35 9 -restart 1
make ycc420-restart-3mcu-45x35 45 35 10 -restart 3B
make ycc444-q16bit-33x20 33 20 11 -sample 1x1 -quality 3
# cjpeg marks a file with 16-bit quantisation tables as extended (SOF1); its coding is
# otherwise baseline, which is how our decoder takes such tables: relabel it SOF0.
offset=$(LC_ALL=C grep -obUaP '\xff\xc1' ycc444-q16bit-33x20.jpg | head -1 | cut -d: -f1)
printf '\xc0' | dd of=ycc444-q16bit-33x20.jpg bs=1 seek=$((offset + 1)) conv=notrunc status=none
make ycc420-optimized-50x42 50 42 12 -optimize -quality 85
