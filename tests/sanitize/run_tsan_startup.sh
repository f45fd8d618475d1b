#!/usr/bin/env bash
# Builds the capture tool with ThreadSanitizer (VELMORA_SANITIZE=thread) in WORK_DIR and
# runs the demo's start-up through it: the pictures decoded on a thread of their own
# from process start, start-up's GL work (texture uploads, set-ups, font, the first
# frame's warm-up) on a thread that holds the context, the hand-over back, then frames
# of several scenes with the music. Any race report or a wrong exit status fails the test.
# Usage: run_tsan_startup.sh SOURCE_DIR WORK_DIR
set -u
src=$(cd "$1" && pwd)
work=$2
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S "$src" -B "$work/build" -DVELMORA_SANITIZE=thread -DVELMORA_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j2 --target velmora-capture >"$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log"; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$here/tsan.supp"
export SDL_AUDIODRIVER=dummy
# The driver stays mapped to the end (SDL unloads it when the display closes), as the
# suppressions name it.
preload=
for lib in /usr/lib/*/dri/swrast_dri.so; do
    [ -e "$lib" ] && preload=$lib
done
rm -rf "$work/frames"
failures=0
for round in 1 2 3; do
    LD_PRELOAD=$preload timeout 600 "$work/build/velmora-capture" --data "$src/data" --png "$work/frames" \
        --at 0,0.5,14,40 >"$work/run.out" 2>"$work/run.err"
    status=$?
    if grep -q 'ThreadSanitizer' "$work/run.err"; then
        echo "round $round: race report"
        head -80 "$work/run.err"
        failures=$((failures + 1))
    fi
    [ "$status" = 0 ] || { echo "round $round: exit status $status"; tail -20 "$work/run.err"; failures=$((failures + 1)); }
    [ "$(ls "$work/frames" | wc -l)" = 4 ] || { echo "round $round: not 4 frames"; failures=$((failures + 1)); }
done
[ "$failures" = 0 ] && echo "3 start-ups under ThreadSanitizer: no race reported"
exit $((failures > 0))
