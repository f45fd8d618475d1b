#!/usr/bin/env bash
# Builds the capture tool with AddressSanitizer, LeakSanitizer and UndefinedBehavior-
# Sanitizer (VELMORA_SANITIZE=ON) in WORK_DIR, then runs under them: the whole demo at
# 2 frames per second through all seven scenes to a video with sound, a log and a
# contact sheet; start-ups over broken data folders (pipes, folders, devices, huge
# sparse files, a WAV, a lying Info tag); hostile command lines. Any sanitizer report,
# a wrong exit status or a missing reason fails the test.
# Usage: run_sanitize.sh SOURCE_DIR WORK_DIR
set -u
src=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)

# Only what the runs need: the core library, the capture tool and the track synthesiser.
cmake -S "$src" -B "$work/build" -DVELMORA_SANITIZE=ON -DVELMORA_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j2 --target velmora-capture music-synth-beat >"$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log"; exit 1; }
capture=$work/build/velmora-capture

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$here/lsan.supp:print_suppressions=0
export SDL_AUDIODRIVER=dummy
# Mesa's driver stays mapped to the end: SDL unloads it when the display closes, and
# what it allocated once at start-up (kept in its globals) would then show as leaked,
# with no module left to name it by. Preloaded with the ASan runtime, which must come first.
asan=$(g++ -print-file-name=libasan.so)
for lib in /usr/lib/*/dri/swrast_dri.so /usr/lib/*/libEGL_mesa.so.0; do
    [ -e "$lib" ] && asan="$asan:$lib"
done
preload=$asan

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
runs=$work/runs
rm -rf "$runs"
mkdir -p "$runs"

# run NAME EXPECTED_STATUS ARGS...: the capture with its stderr kept in runs/NAME.err.
run() {
    local name=$1 expected=$2
    shift 2
    LD_PRELOAD=$preload timeout 300 "$capture" "$@" >"$runs/$name.out" 2>"$runs/$name.err"
    local status=$?
    if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: (Address|Undefined)' "$runs/$name.err"; then
        fail "$name: sanitizer report"
        grep -vE '^velmora: textures/' "$runs/$name.err" | head -60
    fi
    [ "$status" = "$expected" ] || fail "$name: exit status $status, expected $expected"
    echo "$name: exit status $status"
}
expect_line() {  # NAME TEXT: runs/NAME.err holds TEXT
    grep -qF -- "$2" "$runs/$1.err" || fail "$1: no line with '$2'"
}

# 1. The whole demo, every scene, with its music: a video, the log and a contact sheet.
run whole 0 --data "$src/data" --fps 2 --video "$runs/demo.mp4" --log "$runs/demo.log" \
    --contact-sheet "$runs/sheet.png" --sheet-count 14
scenes=$(awk '!/^#/ {print $3}' "$runs/demo.log" 2>/dev/null | sort -u | tr -d '\n')
[ "$scenes" = 0123456 ] || fail "whole: scenes rendered: '$scenes', expected 0123456"
[ -s "$runs/demo.mp4" ] && [ -s "$runs/sheet.png" ] || fail "whole: outputs missing"

# 2. Broken pictures: a folder, a pipe, a 3 GiB sparse file, a device, garbage, a cut file.
bad=$runs/bad-pictures
mkdir -p "$bad/textures"
cp "$src"/data/textures/*.jpg "$bad/textures/"
rm "$bad/textures/tex1.jpg" "$bad/textures/tex3.jpg" "$bad/textures/tex6.jpg" "$bad/textures/tex7.jpg"
mkdir "$bad/textures/tex1.jpg"
mkfifo "$bad/textures/tex3.jpg"
truncate -s 3G "$bad/textures/tex6.jpg"
ln -s /dev/zero "$bad/textures/tex7.jpg"
head -c 3000 /dev/urandom >"$bad/textures/tex10.jpg"
head -c 2000 "$src/data/textures/tex11.jpg" >"$bad/textures/tex11.jpg.cut" && mv "$bad/textures/tex11.jpg.cut" "$bad/textures/tex11.jpg"
mkfifo "$bad/music.mp3"
run bad-pictures 0 --data "$bad" --fps 2 --to 2 --png "$runs/bad-pictures-png"
expect_line bad-pictures "velmora: textures/tex1.jpg: is a folder"
expect_line bad-pictures "velmora: textures/tex3.jpg: is not a regular file (a named pipe)"
expect_line bad-pictures "velmora: textures/tex6.jpg: larger than 64 MiB (3.00 GiB); not read"
expect_line bad-pictures "velmora: textures/tex7.jpg: is not a regular file (a device)"
expect_line bad-pictures "velmora: music.mp3: is not a regular file (a named pipe)"

# 3. Broken tracks, each alone in its folder.
music() {  # NAME EXPECTED_LINE: runs/NAME/music.mp3 must already exist
    run "$1" 0 --data "$runs/$1" --fps 2 --to 2 --png "$runs/$1-png"
    expect_line "$1" "$2"
}
mkdir -p "$runs/beat" "$runs/folder/music.mp3" "$runs/huge" "$runs/wave" "$runs/lying" "$runs/empty" "$runs/noise"
"$work/build/music-synth-beat" "$runs/beat/music.mp3" 3 >/dev/null
truncate -s 5G "$runs/huge/music.mp3"
ffmpeg -v error -y -i "$runs/beat/music.mp3" "$runs/wave/music.wav" && mv "$runs/wave/music.wav" "$runs/wave/music.mp3"
cp "$runs/beat/music.mp3" "$runs/lying/music.mp3"
info=$(grep -obUa Info "$runs/lying/music.mp3" | head -1 | cut -d: -f1)
printf '\x00\x3d\x09\x00' | dd of="$runs/lying/music.mp3" bs=1 seek=$((info + 8)) conv=notrunc 2>/dev/null
: >"$runs/empty/music.mp3"
head -c 200000 /dev/urandom >"$runs/noise/music.mp3"
music folder "velmora: music.mp3: is a folder"
music huge "velmora: music.mp3: larger than 64 MiB (5.00 GiB); not read"
music wave "velmora: music.mp3: no MPEG audio found"
music lying "velmora: music.mp3: its Info tag claims"
music empty "velmora: music.mp3: empty file"
music noise "velmora: music.mp3: no MPEG audio found"

# 4. Numbers far out of range: refused (status 2) before any arithmetic.
run huge-from 2 --png "$runs/x" --from 99999999999999
run huge-minutes 2 --png "$runs/x" --at 1:9223372036854
run huge-rate 2 --png "$runs/x" --fps 99999999999999999999/1
run huge-scale 2 --png "$runs/x" --scale 9223372036854.775807

[ "$failures" = 0 ] || { echo "$failures failure(s); logs in $runs"; exit 1; }
echo "ok: no sanitizer reports"
