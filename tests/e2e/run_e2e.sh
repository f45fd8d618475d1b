#!/usr/bin/env bash
# End-to-end checks of the real demo binary on Xvfb: how the picture fills screens of
# different shapes, how the program ends (Escape, a close request, its own end, no
# display at all), and its loop and pause.
# Usage: run_e2e.sh CASE   (VELMORA and SEND_CLOSE name the binaries; E2E_OUT keeps shots)
set -u
case_name=$1
out=${E2E_OUT:-/tmp/velmora-e2e}/$case_name
mkdir -p "$out"
work=$(mktemp -d)
xpid=
dpid=
cleanup() {
    [ -n "$dpid" ] && kill "$dpid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

start_x() {  # WIDTHxHEIGHT
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xpid=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    export DISPLAY=:$(cat "$work/display")
}

start_demo() {  # [ARGS...]; runs in an empty folder: no textures, no music
    (cd "$work" && SDL_AUDIODRIVER=dummy exec "$VELMORA" "$@") >"$out/stdout" 2>"$out/stderr" &
    dpid=$!
    started=$(date +%s.%N)
    xdotool search --sync --name '^morvik$' >/dev/null 2>&1 &
    local searcher=$!
    for _ in $(seq 200); do kill -0 $searcher 2>/dev/null || break; sleep 0.05; done
    kill $searcher 2>/dev/null
    sleep 1.5  # let it present a few frames
}

# Waits for the demo to end; sets exit_status and the seconds since `since`.
wait_demo() {  # since limit_seconds
    local since=$1 limit=$2
    for _ in $(seq $((limit * 20))); do kill -0 "$dpid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$dpid" 2>/dev/null; then
        fail "still running ${limit} s later"
        kill "$dpid"
    fi
    wait "$dpid"
    exit_status=$?
    dpid=
    elapsed=$(echo "$(date +%s.%N) - $since" | bc)
}

shot() { import -window root "$out/screen.png"; }

pixel() {  # x y -> "r,g,b"
    convert "$out/screen.png" -crop "1x1+$1+$2" +repage -depth 8 \
        -format '%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]' info:
}

expect_pixel() {  # x y r,g,b what
    local got
    got=$(pixel "$1" "$2")
    [ "$got" = "$3" ] || fail "$4: pixel ($1, $2) is $got, expected $3"
}

# In the empty folder scene 0 is silent and untextured: its sprite covers the whole
# picture in white at alpha 0.5, so every picture pixel is at least half white.
expect_picture() {  # x y what
    local got r g b
    got=$(pixel "$1" "$2")
    IFS=, read -r r g b <<<"$got"
    [ "$r" -ge 127 ] && [ "$g" -ge 127 ] && [ "$b" -ge 127 ] || fail "$3: pixel ($1, $2) is $got, expected the picture (each channel >= 127)"
}

expect_clean_exit() {  # max_seconds what
    [ "$exit_status" = 0 ] || fail "$2: exit status $exit_status"
    [ "$(echo "$elapsed <= $1" | bc)" = 1 ] || fail "$2: took $elapsed s"
    echo "$2: exit status $exit_status after $elapsed s"
}

# The frame log's columns (VELMORA_FRAME_LOG): 1 presentation time (ns), 3 heard frame,
# 6 demo time (ms), 7 the frame's checksum on the stepped clock.
# Passes of a looping run, one line each: frames, first and last demo time (ms).
passes() {  # log
    awk '!/^#/ { if (n && $7 < last) { print n, first, last; n = 0 } if (!n) first = $7; n++; last = $7 }
         END { if (n) print n, first, last }' "$1"
}

# Waits up to `limit` seconds for the log to show `count` passes begun.
wait_passes() {  # log count limit
    for _ in $(seq $(($3 * 10))); do
        [ -s "$1" ] && [ "$(passes "$1" | wc -l)" -ge "$2" ] && return 0
        kill -0 "$dpid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

black=0,0,0

case $case_name in
fills-640x480)
    start_x 640x480
    start_demo
    shot
    for x in 0 320 639; do
        for y in 0 35 444 479; do expect_pixel $x $y $black "letterbox"; done
        for y in 36 240 443; do expect_picture $x $y "picture"; done
    done
    pressed=$(date +%s.%N)
    xdotool key Escape
    wait_demo "$pressed" 5
    expect_clean_exit 1 "Escape"
    ;;
scales-1280x1024)
    # 2x scale: the 1280 x 960 picture sits between 32-row bars; its own letterbox
    # becomes 72 rows.
    start_x 1280x1024
    start_demo
    shot
    for x in 0 640 1279; do
        for y in 0 31 32 100 923 991 992 1023; do expect_pixel $x $y $black "bars"; done
        for y in 108 512 918; do expect_picture $x $y "picture"; done
    done
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 1 "Escape"
    ;;
close-request)
    # A wide screen: the 4:3 picture is 1440 x 1080 with bars left and right.
    start_x 1920x1080
    start_demo
    shot
    for y in 200 540 900; do
        expect_pixel 0 $y $black "left bar"
        expect_pixel 239 $y $black "left bar"
        expect_picture 244 $y "picture"
        expect_picture 1675 $y "picture"
        expect_pixel 1680 $y $black "right bar"
    done
    asked=$(date +%s.%N)
    "$SEND_CLOSE" morvik || fail "no window to close"
    wait_demo "$asked" 5
    expect_clean_exit 1 "close request"
    ;;
no-display)
    # No screen: one line and a failure status at once, whatever SDL would fall back to;
    # only an explicit offscreen driver runs headless.
    nodisplay() {  # expected-text env-assignments...
        local expect=$1
        shift
        local t0 status lines
        t0=$(date +%s.%N)
        (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$@" \
            SDL_AUDIODRIVER=dummy timeout 20 "$VELMORA") >"$out/stdout" 2>"$out/stderr"
        status=$?
        elapsed=$(echo "$(date +%s.%N) - $t0" | bc)
        lines=$(wc -l <"$out/stderr")
        echo "$*: status $status after $elapsed s: $(cat "$out/stderr")"
        [ "$status" != 0 ] && [ "$status" != 124 ] || fail "$*: exit status $status"
        [ "$lines" = 1 ] || fail "$*: $lines lines on stderr"
        grep -qF "$expect" "$out/stderr" || fail "$*: stderr lacks '$expect'"
        # Generous, for a loaded machine; the run itself takes a few milliseconds.
        [ "$(echo "$elapsed < 5" | bc)" = 1 ] || fail "$*: took $elapsed s"
    }
    nodisplay "no display (DISPLAY and WAYLAND_DISPLAY are unset); to render the demo to a video, run velmora-capture"
    free=97
    while [ -e "/tmp/.X11-unix/X$free" ]; do free=$((free + 1)); done
    nodisplay "no display (cannot open DISPLAY=:$free)" DISPLAY=:$free XDG_RUNTIME_DIR="$work"
    nodisplay "no display (cannot open WAYLAND_DISPLAY=nowhere-$$)" WAYLAND_DISPLAY=nowhere-$$ XDG_RUNTIME_DIR="$work"
    nodisplay "velmora: cannot open the display" SDL_VIDEODRIVER=x11
    # Asked for by name, the offscreen driver runs the demo (still going after 2 s).
    (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy \
        "$VELMORA") >"$out/stdout" 2>"$out/stderr" &
    dpid=$!
    sleep 2
    kill -0 "$dpid" 2>/dev/null || fail "SDL_VIDEODRIVER=offscreen: ended: $(cat "$out/stderr")"
    ;;
loop)
    # --loop on the stepped debugging clock: a frame every 500 ms of demo time, drawn as
    # fast as the machine can, so that frames of equal demo time must be equal.
    start_x 640x480
    # Silent: every frame of the second pass is the first pass's frame at that demo time
    # (the first frame of the second pass included: no black frame between).
    export VELMORA_DEBUG_FRAME_MS=500 VELMORA_FRAME_LOG=$out/frames.log
    start_demo --loop
    wait_passes "$out/frames.log" 3 120 || fail "no third pass begun"
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 2 "Escape in the third pass"
    passes "$out/frames.log" | head -2 | sed 's/^/pass: frames, first and last demo time (ms): /'
    echo "around the wrap (presentation ns, level, heard, hand-over, its ns, demo ms, checksum):"
    awk '!/^#/ { if (n && $7 < last) { print prev; print; exit } last = $7; prev = $0; n++ }' "$out/frames.log"
    awk '!/^#/ { if (n && $7 < last) pass++; last = $7; n++
                 if (pass == 0) sum[$7] = $8
                 else if (pass == 1) { seen++; if (!($7 in sum)) missing++; else if (sum[$7] != $8) { bad++; if (bad <= 3) print "differs at " $7 " ms: " sum[$7] " then " $8 } } }
         END { printf "second pass: %d frames against the first: %d differ, %d without a match\n", seen, bad, missing
               exit !(seen == length(sum) && seen >= 285 && !bad && !missing) }' "$out/frames.log" ||
        fail "the second pass is not the first"
    # With the music: the wrap starts it again from its start (the heard position falls
    # back to its first frames with the picture).
    cp "$out/frames.log" "$out/silent-frames.log"
    ln -s "$(cd "$(dirname "$0")/../.." && pwd)/data/music.mp3" "$work/music.mp3"
    start_demo --loop
    wait_passes "$out/frames.log" 2 120 || fail "no second pass begun"
    sleep 0.3
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 2 "Escape in the second pass"
    awk '!/^#/ { if (n && $7 < last) { printf "music at the wrap: heard frame %d in the last frame, %d in the first of the next pass\n", prevHeard, $3
                                       exit !(prevHeard > 44100 && $3 < 4410) } last = $7; prevHeard = $3; n++ }
         END { if (!n) exit 1 }' "$out/frames.log" || fail "the music did not start again at the wrap"
    unset VELMORA_DEBUG_FRAME_MS VELMORA_FRAME_LOG
    ;;
pause)
    # Space pauses for 3 s on the real clock, with the music playing: no frame while
    # paused, the first frame after goes on from the demo time of the last one before,
    # the heard position keeps its distance to the picture, and the waiting process burns
    # no processor time.
    start_x 640x480
    ln -s "$(cd "$(dirname "$0")/../.." && pwd)/data/music.mp3" "$work/music.mp3"
    export VELMORA_FRAME_LOG=$out/frames.log
    start_demo
    sleep 1
    xdotool key space
    sleep 0.5
    ticks() { awk '{ print $14 + $15 }' "/proc/$dpid/stat"; }
    t0=$(ticks)
    sleep 2
    t1=$(ticks)
    sleep 0.5
    xdotool key space
    sleep 2.5
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 2 "Escape after the pause"
    echo "processor time while paused: $(((t1 - t0) * 10)) ms in 2 s"
    [ $((t1 - t0)) -le 40 ] || fail "paused, the demo used $(((t1 - t0) * 10)) ms of processor time in 2 s"
    # The longest gap between presentations is the pause. The heard position's distance
    # to the demo time (ms) is taken as its median over the 10 frames before and the 10
    # from 0.3 s after: SDL's dummy output keeps time only roughly (it drifts by several
    # per cent on a busy machine), so only a pause of one without the other (3 s) is
    # caught here.
    awk '!/^#/ { n++; t[n] = $1; d[n] = $7; o[n] = $3 * 1000 / 44100 - $7 }
         function median(from, to,   i, k, j, v, a) {
             k = 0; for (i = from; i <= to; i++) a[++k] = o[i]
             for (i = 2; i <= k; i++) { v = a[i]; for (j = i - 1; j >= 1 && a[j] > v; j--) a[j + 1] = a[j]; a[j + 1] = v }
             return a[int((k + 1) / 2)] }
         END {
             for (i = 2; i <= n; i++) if (t[i] - t[i - 1] > gap) { gap = t[i] - t[i - 1]; g = i }
             for (a = g; a <= n && d[a] < d[g] + 300; a++);
             if (g < 11 || a + 9 > n) { print "too few frames around the pause"; exit 1 }
             before = median(g - 10, g - 1); after = median(a, a + 9)
             printf "paused %.2f s between frames: demo time %d ms before, %d ms after (%d ms on)\n", gap / 1e9, d[g - 1], d[g], d[g] - d[g - 1]
             printf "heard position minus demo time: %.1f ms before, %.1f ms after: %+.1f ms\n", before, after, after - before
             exit !(gap > 2.5e9 && d[g] >= d[g - 1] && d[g] - d[g - 1] < 1000 && after - before < 1000 && before - after < 1000) }' \
        "$out/frames.log" || fail "the pause moved the picture or the sound"
    unset VELMORA_FRAME_LOG
    ;;
natural-end)
    start_x 640x480
    start_demo
    wait_demo "$started" 170
    expect_clean_exit 150 "natural end"
    [ "$(echo "$elapsed >= 144" | bc)" = 1 ] || fail "ended early, after $elapsed s"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
[ "$failures" = 0 ] || { echo "$failures failure(s); screenshot in $out"; exit 1; }
echo "ok"
