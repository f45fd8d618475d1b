#!/usr/bin/env bash
# Times our JPEG decoder against libjpeg-turbo on thirteen photo-like files like the
# demo's (ten colour pictures, 512 x 512 and 256 x 256, and three 256 x 256 grey masks,
# encoded by cjpeg at its defaults), in one process and as whole-program runs of
# decode-jpeg and djpeg. Needs a built tree (tools/build.sh) and ImageMagick.
# Usage: tools/bench-decode.sh [ROUNDS]
set -eu
usage="usage: tools/bench-decode.sh [ROUNDS]   (a whole number above 0; default 20)"
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
if [ $# -gt 1 ] || { [ $# = 1 ] && ! [[ $1 =~ ^[1-9][0-9]{0,5}$ ]]; }; then
    echo "bench-decode: bad arguments: $*" >&2
    echo "$usage" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-20}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

files=()
for i in 1 2 3 4 5 6 7 8 9 10 11 12 13; do
    size=512x512
    [ "$i" -gt 6 ] && size=256x256
    grey=
    [ "$i" -gt 10 ] && grey=-grayscale
    convert -size $size -seed "$i" plasma:fractal -blur 0x0.7 -depth 8 "ppm:$tmp/src.ppm"
    cjpeg $grey -outfile "$tmp/t$i.jpg" "$tmp/src.ppm"
    files+=("$tmp/t$i.jpg")
done

echo "In one process:"
"$root/build/bench-decode" "$rounds" "${files[@]}"

# Whole programs, start-up included; each round runs both over all files.
ns() { date +%s%N; }
ours=0 theirs=0
for _ in $(seq "$rounds"); do
    t0=$(ns)
    for f in "${files[@]}"; do "$root/build/decode-jpeg" "$f" "$tmp/out.pam"; done
    t1=$(ns)
    for f in "${files[@]}"; do djpeg -dct float -nosmooth -outfile "$tmp/out.ppm" "$f"; done
    t2=$(ns)
    ours=$((ours + t1 - t0))
    theirs=$((theirs + t2 - t1))
done
echo "As programs (decode-jpeg vs djpeg -dct float -nosmooth), mean of $rounds passes:"
awk -v a="$ours" -v b="$theirs" -v n="$rounds" \
    'BEGIN { printf "ours %.1f ms, djpeg %.1f ms, ratio %.2f\n", a / n / 1e6, b / n / 1e6, a / b }'
