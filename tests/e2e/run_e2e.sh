#!/usr/bin/env bash
# End-to-end checks of the real demo binary on Xvfb and under the Wayland compositor cage:
# how the picture fills screens and windows of different shapes, the command line, the
# full-screen switch, loop and pause, and how the program ends (Escape, a close request,
# its own end, no display at all, the display lost, a frame log that cannot be written).
# Usage: run_e2e.sh CASE   (VELMORA and SEND_CLOSE name the binaries, DATA the demo's
# assets; E2E_OUT keeps shots)
set -u
[ $# = 1 ] || { echo "usage: run_e2e.sh CASE"; exit 2; }
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

# shellcheck source=tools/xvfb.bash
. "$(dirname "$0")/../../tools/xvfb.bash"
start_x() {  # WIDTHxHEIGHT
    start_xvfb "$1" "$work" || exit 1
}

start_demo() {  # [options...]; runs in an empty folder: no textures, no music
    (cd "$work" && SDL_AUDIODRIVER=dummy VELMORA_FRAME_LOG="${VELMORA_FRAME_LOG:-$work/frames.log}" \
        exec "$VELMORA" "$@") >"$out/stdout" 2>"$out/stderr" &
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
# 6 output latency (frames), 7 demo time (ms), 8 the frame's checksum on the stepped clock.
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

# The picture's place in a WIDTHxHEIGHT drawable: the largest 4:3 rectangle, centred
# (the top and left bars get the smaller half of an odd split). Sets pw ph left top.
fit_4x3() {
    local w=$1 h=$2
    pw=$w
    ph=$((w * 480 / 640))
    if [ "$ph" -gt "$h" ]; then
        ph=$h
        pw=$((h * 640 / 480))
    fi
    left=$(((w - pw) / 2))
    top=$((h - ph - (h - ph) / 2))
}

# Checks a screenshot of a WIDTHxHEIGHT drawable: black bars outside the 4:3 picture,
# the picture's own letterbox rows black, the picture inside. Prints one line per fault
# (nothing when it is right), so that callers can retry while frames arrive.
shape_faults() {  # png w h
    local png=$1 w=$2 h=$3 x y
    fit_4x3 "$w" "$h"
    local kinds=() xs=() ys=() whats=()
    point() { kinds+=("$1"); xs+=("$2"); ys+=("$3"); whats+=("$4"); }
    local mid_x=$((left + pw / 2)) mid_y=$((top + ph / 2))
    if [ "$left" -ge 3 ]; then
        for y in $((h / 4)) $mid_y $((h * 3 / 4)); do
            point black 0 "$y" "left bar"
            point black $((left - 2)) "$y" "left bar"
            point black $((w - 1)) "$y" "right bar"
            point black $((left + pw + 1)) "$y" "right bar"
        done
    fi
    if [ "$top" -ge 3 ]; then
        for x in $((w / 4)) $mid_x $((w * 3 / 4)); do
            point black "$x" 0 "top bar"
            point black "$x" $((top - 2)) "top bar"
            point black "$x" $((h - 1)) "bottom bar"
            point black "$x" $((top + ph + 1)) "bottom bar"
        done
    fi
    # The scene's letterbox: rows 0..35 and 444..479 of 480, scaled with the picture.
    for x in $((left + 2)) $mid_x $((left + pw - 3)); do
        point black "$x" $((top + ph * 15 / 480)) "letterbox"
        point black "$x" $((top + ph * 465 / 480)) "letterbox"
        for y in $((top + ph * 60 / 480)) $mid_y $((top + ph * 420 / 480)); do point picture "$x" "$y" "picture"; done
    done
    # One convert for all points: it is slow to start on a big picture.
    local format= i r g b got
    for i in "${!xs[@]}"; do
        local p="p{${xs[$i]},${ys[$i]}}"
        format+="%[fx:round(255*$p.r)],%[fx:round(255*$p.g)],%[fx:round(255*$p.b)]\n"
    done
    local colours
    mapfile -t colours < <(convert "$png" -depth 8 -format "$format" info:)
    for i in "${!xs[@]}"; do
        got=${colours[$i]:-none}
        if [ "${kinds[$i]}" = black ]; then
            [ "$got" = "$black" ] || echo "${whats[$i]}: pixel (${xs[$i]}, ${ys[$i]}) is $got, expected black"
        else
            IFS=, read -r r g b <<<"$got"
            [ "${r:-0}" -ge 127 ] 2>/dev/null && [ "${g:-0}" -ge 127 ] && [ "${b:-0}" -ge 127 ] ||
                echo "${whats[$i]}: pixel (${xs[$i]}, ${ys[$i]}) is $got, expected the picture (each channel >= 127)"
        fi
    done
}

# Takes shots with `shoot PNG` until one of a WxH drawable is right or 20 s have passed,
# then records that shot's faults: a loaded machine may take a while to present a frame
# at a new size.
expect_shape() {  # what shoot-command w h
    local what=$1 shoot=$2 w=$3 h=$4 faults=
    for _ in $(seq 40); do
        $shoot "$out/$what.png" && faults=$(shape_faults "$out/$what.png" "$w" "$h") && [ -z "$faults" ] && break
        sleep 0.5
    done
    fit_4x3 "$w" "$h"
    if [ -n "$faults" ]; then
        while read -r line; do fail "$what: $line"; done <<<"$faults"
    else
        echo "$what: ${w}x${h}, picture ${pw}x${ph} at ($left, $top), bars and letterbox right"
    fi
}

window_id() { xdotool search --name '^morvik$' | head -1; }
window_shot() { import -window "$(window_id)" "$1" 2>/dev/null; }
geometry() { xdotool getwindowgeometry "$(window_id)" | awk '/Geometry/ { print $2 }'; }

# Waits for the window to reach a size (window managers and SDL take a few events).
expect_geometry() {  # WxH what
    local got=
    for _ in $(seq 40); do
        got=$(geometry)
        [ "$got" = "$1" ] && break
        sleep 0.25
    done
    [ "$got" = "$1" ] || fail "$2: window is $got, expected $1"
}

# The pointer over the window's middle is shown (in a window) or hidden (full screen).
expect_pointer() {  # shown|hidden what
    local x y status
    eval "$(xdotool getwindowgeometry --shell "$(window_id)")"
    x=$((X + WIDTH / 2))
    y=$((Y + HEIGHT / 2))
    xdotool mousemove "$x" "$y"
    for _ in $(seq 20); do
        "$POINTER_SHOWN" >/dev/null
        status=$?
        { [ "$1" = shown ] && [ "$status" = 0 ]; } || { [ "$1" = hidden ] && [ "$status" = 1 ]; } && return
        sleep 0.25
    done
    fail "$2: the pointer is not $1 ($("$POINTER_SHOWN"))"
}

# The frame log gains lines: the demo is still presenting frames.
expect_frames_go_on() {  # what
    local before after
    before=$(wc -l <"$work/frames.log")
    for _ in $(seq 40); do
        after=$(wc -l <"$work/frames.log")
        [ "$after" -gt "$before" ] && break
        sleep 0.25
    done
    [ "$after" -gt "$before" ] || fail "$1: no frame presented after it"
}

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
render)
    # --render reaches the renderer: on the stepped clock the first frames drawn at 2x
    # differ from the default ones at the same demo times, and --render 1 and 640x480
    # are the default picture itself.
    start_x 1280x960
    export VELMORA_DEBUG_FRAME_MS=500
    for size in default 1 640x480 2; do
        export VELMORA_FRAME_LOG=$out/frames-$size.log
        if [ $size = default ]; then start_demo; else start_demo --render $size; fi
        for _ in $(seq 600); do
            [ "$(grep -vc '^#' "$VELMORA_FRAME_LOG" 2>/dev/null)" -ge 8 ] && break
            kill -0 "$dpid" 2>/dev/null || break
            sleep 0.1
        done
        xdotool key Escape
        wait_demo "$(date +%s.%N)" 5
        expect_clean_exit 5 "--render $size"
        awk '!/^#/ && n < 8 { print $7, $8; n++ }' "$VELMORA_FRAME_LOG" >"$out/sums-$size"
        [ "$(wc -l <"$out/sums-$size")" = 8 ] || fail "--render $size: fewer than 8 frames logged"
    done
    cmp -s "$out/sums-default" "$out/sums-1" || fail "--render 1 is not the default picture"
    cmp -s "$out/sums-default" "$out/sums-640x480" || fail "--render 640x480 is not the default picture"
    same=$(join "$out/sums-default" "$out/sums-2" | awk '$2 == $3' | wc -l)
    [ "$same" = 0 ] || fail "--render 2: $same of 8 frames as at 640x480"
    echo "--render 1 and 640x480: the default frames; --render 2: all 8 frames differ"
    unset VELMORA_DEBUG_FRAME_MS VELMORA_FRAME_LOG
    ;;
scaling)
    # Under software GL on X the server scales the picture into the window, with its
    # bilinear filter; VELMORA_SCALING=gl keeps GL's scaled copy. The same paused frame
    # (the stepped clock, paused by itself at 9 s) both ways: the same place and black
    # bars, and the same picture but for the two filters' rounding, which must show (else
    # both runs took one way) and stay within a few levels.
    start_x 1920x1080
    ln -s "$DATA/textures" "$work/textures"
    export VELMORA_DEBUG_FRAME_MS=500 VELMORA_DEBUG_PAUSE_MS=9000
    for way in gl server; do
        export VELMORA_SCALING=$way VELMORA_FRAME_LOG=$out/frames-$way.log
        start_demo
        for _ in $(seq 600); do
            awk '!/^#/ && $7 >= 9000 { found = 1 } END { exit !found }' "$VELMORA_FRAME_LOG" 2>/dev/null && break
            kill -0 "$dpid" 2>/dev/null || break
            sleep 0.1
        done
        sleep 0.5  # the server draws what it was sent after the frame is logged
        shot
        cp "$out/screen.png" "$out/$way.png"
        for point in "10 10" "230 540" "1690 540" "1909 1070"; do
            expect_pixel $point $black "$way: the bar at $point"
        done
        xdotool key Escape
        wait_demo "$(date +%s.%N)" 5
        expect_clean_exit 5 "$way scaling"
        awk '!/^#/ { last = $7 " " $8 } END { print last }' "$VELMORA_FRAME_LOG" >"$out/paused-$way"
    done
    unset VELMORA_DEBUG_FRAME_MS VELMORA_DEBUG_PAUSE_MS VELMORA_SCALING VELMORA_FRAME_LOG
    echo "paused frame (demo ms, checksum): gl $(cat "$out/paused-gl"), server $(cat "$out/paused-server")"
    cmp -s "$out/paused-gl" "$out/paused-server" && [ "$(cut -d' ' -f1 "$out/paused-gl")" = 9000 ] ||
        fail "the two runs did not pause at the frame of 9000 ms"
    differing=$(compare -metric AE "$out/gl.png" "$out/server.png" null: 2>&1 | awk '{ printf "%d", $1 }')
    peak=$(compare -metric PAE "$out/gl.png" "$out/server.png" null: 2>&1 | sed -E 's/.*\((.*)\).*/\1/')
    mean=$(compare -metric MAE "$out/gl.png" "$out/server.png" null: 2>&1 | sed -E 's/.*\((.*)\).*/\1/')
    echo "server against GL scaling: $differing pixels differ, by at most $(echo "$peak * 255" | bc) levels, $(echo "$mean * 255" | bc) on average"
    [ "$differing" -gt 0 ] 2>/dev/null || fail "the server's scaling is GL's, pixel for pixel (was it used?)"
    [ "$(echo "$peak * 255 <= 8 && $mean * 255 <= 1" | bc)" = 1 ] || fail "the server's scaling is not GL's picture"
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
window)
    # --window: a 1280 x 960 window on a screen that has room; the picture keeps 4:3 and
    # follows every resize of a storm, ending wide and then tall.
    start_x 1920x1080
    start_demo --window
    expect_geometry 1280x960 "--window"
    expect_shape window-1280x960 window_shot 1280 960
    id=$(window_id)
    # A window too small for one row of the picture gets only its bars, and goes on.
    xdotool windowsize "$id" 1 1
    sleep 1
    kill -0 "$dpid" 2>/dev/null || fail "a 1 x 1 window ended the demo: $(cat "$out/stderr")"
    for size in "800 600" "1000 500" "640 900" "1500 700" "900 900" "1200 400" "300 800" "1919 1079"; do
        xdotool windowsize "$id" $size
    done
    xdotool windowsize "$id" 1600 900
    expect_geometry 1600x900 "resize storm"
    expect_shape window-1600x900 window_shot 1600 900
    xdotool windowsize "$id" 700 1000
    expect_geometry 700x1000 "resize"
    expect_shape window-700x1000 window_shot 700 1000
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 5 "Escape in a window"
    ;;
fullscreen-switch)
    # F11 and Alt+Enter switch both ways while frames go on. On a 1600 x 900 screen the
    # window is the largest 4:3 size that fits, 1200 x 900; one asked for keeps its size.
    start_x 1600x900
    start_demo
    expect_geometry 1600x900 "full screen"
    expect_shape fullscreen window_shot 1600 900
    expect_pointer hidden "full screen"
    xdotool key F11
    expect_geometry 1200x900 "F11 to a window"
    expect_frames_go_on "F11 to a window"
    expect_shape f11-window window_shot 1200 900
    expect_pointer shown "F11 to a window"
    xdotool key alt+Return
    expect_geometry 1600x900 "Alt+Enter to full screen"
    expect_frames_go_on "Alt+Enter to full screen"
    expect_shape alt-enter-fullscreen window_shot 1600 900
    expect_pointer hidden "Alt+Enter to full screen"
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 5 "Escape after two switches"

    start_demo --window=800x600
    expect_geometry 800x600 "--window=800x600"
    expect_pointer shown "--window=800x600"
    xdotool key F11
    expect_geometry 1600x900 "F11 to full screen"
    expect_frames_go_on "F11 to full screen"
    expect_shape f11-fullscreen window_shot 1600 900
    xdotool key F11
    expect_geometry 800x600 "F11 back to the window"
    expect_shape f11-back window_shot 800 600
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 5 "Escape after switching back"
    ;;
command-line)
    # --help and --version need no display; every bad line is one line naming the fault
    # and status 2, before any display is asked for (DISPLAY names no server, so a demo
    # that opened one first would say "no display" and end with status 1 instead).
    free=97
    while [ -e "/tmp/.X11-unix/X$free" ]; do free=$((free + 1)); done
    run_cli() {  # args...
        (cd "$work" && exec env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:$free SDL_AUDIODRIVER=dummy \
            timeout 20 "$VELMORA" "$@") >"$out/stdout" 2>"$out/stderr"
        status=$?
    }
    run_cli --help
    [ "$status" = 0 ] || fail "--help: status $status"
    grep -q '^Usage: velmora \[options\]$' "$out/stdout" || fail "--help printed no usage"
    cp "$out/stdout" "$out/help.txt"
    run_cli --version
    [ "$status" = 0 ] && [ "$(cat "$out/stdout")" = "velmora $VERSION" ] || fail "--version: status $status: $(cat "$out/stdout")"
    (cd "$work" && exec "$VELMORA" --help) >/dev/full 2>"$out/stderr"
    [ "$?" = 1 ] && grep -q 'cannot write the standard output' "$out/stderr" || fail "--help onto a full disk"
    while IFS='|' read -r args expect; do
        # shellcheck disable=SC2086
        eval "run_cli $args"
        echo "velmora $args -> status $status: $(cat "$out/stderr")"
        [ "$status" = 2 ] || fail "$args: status $status, expected 2"
        [ "$(wc -l <"$out/stderr")" = 1 ] || fail "$args: $(wc -l <"$out/stderr") lines on stderr"
        [ "$(cat "$out/stderr")" = "velmora: $expect" ] || fail "$args: said '$(cat "$out/stderr")'"
        [ -s "$out/stdout" ] && fail "$args: wrote to stdout"
    done <<EOF2
--bogus|--bogus: unknown option (see velmora --help)
-x|-x: unknown option (see velmora --help)
music.mp3|music.mp3: unexpected argument (see velmora --help)
--window=big|--window big: expected WIDTHxHEIGHT like 1280x960, each side 64 to 16384 (see velmora --help)
--window 10x10|--window 10x10: expected WIDTHxHEIGHT like 1280x960, each side 64 to 16384 (see velmora --help)
--render 9|--render 9: expected native, a factor from 1 to 8 (like 2 or 2.25) or a size like 640x480 (see velmora --help)
--render|--render: needs a value (see velmora --help)
--loop=yes|--loop=yes: takes no value (see velmora --help)
--data|--data: needs a value (see velmora --help)
--data /nonexistent/velmora|--data /nonexistent/velmora: No such file or directory (see velmora --help)
--window --bogus --help|--bogus: unknown option (see velmora --help)
EOF2
    ;;
wayland | wayland-nested)
    # The demo on Wayland, natively (SDL's Wayland driver), under cage, a kiosk compositor
    # that gives its one application the whole output. "wayland" runs cage headless with
    # software rendering: a 1280 x 720 output, full screen and --window alike. cage 0.1.4
    # offers no virtual keyboard (wtype) and no output resizing (wlr-randr), so that run
    # ends with SIGTERM, which SDL turns into a quit request. "wayland-nested" runs cage's
    # output as a window on Xvfb instead: resizing that window resizes the output, and keys
    # typed into it reach the demo through Wayland, so Escape and F11 are real key presses.
    # cage runs with -d (server-side decorations, that is none): without it SDL 2.26 takes
    # libdecor 0.1.1 for a window's frame, and under cage such a window is never shown.
    for tool in cage grim; do
        command -v $tool >/dev/null || { echo "SKIP: $tool is not installed (tools/install-deps.sh)"; exit 77; }
    done
    # cage refuses to run as root: as root, it and the demo run as nobody.
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null ||
            { echo "SKIP: running as root without a 'nobody' user or setpriv"; exit 77; }
        as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        chown nobody "$work"
    fi
    runtime=$work/runtime
    mkdir -m 700 "$runtime"
    [ "$(id -u)" = 0 ] && chown nobody "$runtime"
    as_user() { "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$runtime" "$@"; }
    # The build may lie where that user cannot reach it (a clone under /root): a copy of
    # the program in the test's own folder serves as well.
    if ! as_user test -x "$VELMORA"; then
        install -m 755 "$VELMORA" "$work/velmora"
        VELMORA=$work/velmora
    fi
    cpid=
    trap 'cleanup; [ -n "$cpid" ] && kill "$cpid" 2>/dev/null' EXIT
    # Starts cage; the demo starts once `go_demo` says so (the output may be sized first).
    start_cage() {  # backend velmora-options...
        local backend=$1 display=
        shift
        [ "$backend" = x11 ] && display=DISPLAY=$DISPLAY
        rm -f "$work/status" "$work/pid" "$work/frames.log" "$work/xdisplay" "$work/go" "$runtime"/wayland-*
        # shellcheck disable=SC2016
        as_user WLR_BACKENDS="$backend" WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_X11_OUTPUTS=1 \
            ${display:+"$display"} SDL_AUDIODRIVER=dummy VELMORA_FRAME_LOG="$work/frames.log" \
            cage -d -- sh -c 'cd "$HOME" && echo "$DISPLAY" >xdisplay; while [ ! -e go ]; do sleep 0.1; done
                              "$0" "$@" & echo $! >pid; wait $!; echo $? >status' \
            "$VELMORA" "$@" >"$out/cage.log" 2>&1 &
        cpid=$!
        for _ in $(seq 200); do [ -S "$runtime/wayland-0" ] && break; sleep 0.1; done
        [ -S "$runtime/wayland-0" ] || { cat "$out/cage.log"; fail "cage did not start"; exit 1; }
    }
    go_demo() {
        touch "$work/go"
        for _ in $(seq 600); do [ -s "$work/frames.log" ] && break; sleep 0.1; done
        [ -s "$work/frames.log" ] || { cat "$out/cage.log"; fail "no frame presented under cage"; exit 1; }
        # Natively on Wayland: nothing of the demo's on cage's XWayland server.
        if DISPLAY=$(cat "$work/xdisplay") xdotool search --name '^morvik$' >/dev/null 2>&1; then
            fail "the demo opened its window through XWayland"
        fi
    }
    output_window() {  # sets `output`, the X window that shows cage's output
        output=
        for _ in $(seq 100); do
            output=$(xwininfo -root -children | awk '$1 ~ /^0x/ { print $1; exit }')
            [ -n "$output" ] && return
            sleep 0.1
        done
        fail "no output window from cage"
    }
    # Resizes cage's output window until the output has that size: in a storm of resizes
    # wlroots' X11 backend now and then keeps an older size (its output commit fails), and
    # the same size asked again is no change to the X server, so the size is nudged first.
    resize_output() {  # w h
        for _ in 1 2 3 4 5; do
            xdotool windowsize "$output" "$1" "$2"
            for _ in $(seq 20); do
                as_user WAYLAND_DISPLAY=wayland-0 grim "$work/size.png" 2>/dev/null &&
                    [ "$(identify -format %wx%h "$work/size.png")" = "$1x$2" ] && return
                sleep 0.25
            done
            xdotool windowsize "$output" $(($1 - 8)) $(($2 - 8))
            sleep 0.5
        done
        fail "cage's output did not take the size $1x$2"
    }
    grim_shot() { as_user WAYLAND_DISPLAY=wayland-0 grim "$work/shot.png" && cp "$work/shot.png" "$1"; }
    end_cage() {  # what
        for _ in $(seq 100); do [ -e "$work/status" ] && break; sleep 0.05; done
        [ -e "$work/status" ] || fail "$1: the demo did not end"
        [ "$(cat "$work/status" 2>/dev/null)" = 0 ] || fail "$1: exit status $(cat "$work/status" 2>/dev/null)"
        echo "$1: exit status $(cat "$work/status" 2>/dev/null)"
        for _ in $(seq 100); do kill -0 "$cpid" 2>/dev/null || break; sleep 0.05; done
        kill "$cpid" 2>/dev/null
        wait "$cpid" 2>/dev/null
        cpid=
    }
    if [ "$case_name" = wayland ]; then
        for options in "" "--window"; do
            start_cage headless $options
            go_demo
            expect_shape "wayland${options:+-window}" grim_shot 1280 720
            kill -TERM "$(cat "$work/pid")"
            end_cage "SIGTERM${options:+ with $options}"
        done
    else
        start_x 1920x1080
        # The output is sized before the demo starts: resized under a running client,
        # wlroots' X11 output now and then stays at its old size for good (its output
        # commits fail). The X11 case resizes the demo's own window while it runs.
        start_cage x11 --window
        output_window
        resize_output 1600 900
        go_demo
        expect_shape wayland-window-1600x900 grim_shot 1600 900
        # Keys go to the output window (XTEST), and from cage to the demo.
        xdotool mousemove --window "$output" 10 10
        xdotool windowfocus "$output"
        xdotool key F11
        expect_frames_go_on "F11 on Wayland"
        xdotool key F11
        expect_frames_go_on "F11 back on Wayland"
        expect_shape wayland-f11-back grim_shot 1600 900
        xdotool key Escape
        end_cage "Escape on Wayland"

        # The same X server for the second run: its output window went with the first cage.
        start_cage x11 --window=1024x768
        output_window
        resize_output 700 1000
        go_demo
        expect_shape wayland-window-700x1000 grim_shot 700 1000
        xdotool mousemove --window "$output" 10 10
        xdotool windowfocus "$output"
        xdotool key Escape
        end_cage "Escape on Wayland in a tall output"
    fi
    ;;
display-lost)
    # The display lost at every moment of start-up (the start-up thread inside the GL
    # library included) and after it: the X server killed, the demo's connection killed,
    # its window destroyed. Every run ends at once with one line and status 1, never with
    # a crash. Twice over, since the moments fall differently each time.
    for round in 1 2; do
        for way in server client window; do
            for delay in 0 0.03 0.06 0.1 0.15 0.2 0.3 0.5 1.5; do
                start_x 640x480
                # XDG_RUNTIME_DIR as in a desktop session: without it, the Wayland probe SDL
                # makes when X is gone prints a line of its own.
                (cd "$work" && VELMORA_DATA="$DATA" XDG_RUNTIME_DIR="$work" SDL_AUDIODRIVER=dummy exec "$VELMORA") \
                    >"$out/stdout" 2>"$out/stderr" &
                dpid=$!
                sleep "$delay"
                case $way in
                    server) kill -9 "$xpid" ;;
                    client | window)
                        # As soon as the window exists (it does from just before start-up's thread).
                        option=--kill-client
                        [ "$way" = window ] && option=--destroy
                        until "$SEND_CLOSE" "$option" morvik 2>/dev/null; do
                            kill -0 "$dpid" 2>/dev/null || break
                            sleep 0.01
                        done ;;
                esac
                demo=$dpid
                wait_demo "$(date +%s.%N)" 10
                lines=$(wc -l <"$out/stderr")
                what="$way lost after $delay s (round $round)"
                # Shared memory it made for the X server goes with it, however it ended.
                left=$(ipcs -m -p | awk -v p="$demo" '$3 == p' | wc -l)
                [ "$left" = 0 ] || fail "$what: $left shared memory segments left behind"
                echo "$what: status $exit_status after $elapsed s: $(cat "$out/stderr")"
                [ "$exit_status" = 1 ] || fail "$what: exit status $exit_status"
                [ "$lines" = 1 ] && grep -q '^velmora: ' "$out/stderr" || fail "$what: $lines lines on stderr"
                kill -9 "$xpid" 2>/dev/null
                wait "$xpid" 2>/dev/null
                xpid=
            done
        done
    done
    ;;
frame-log)
    # A frame log that cannot be had never holds the demo up: one line with the reason,
    # the demo plays on and ends on Escape, with status 1 since the log asked for is lost.
    start_x 640x480
    mkfifo "$work/pipe"
    framelog() {  # log-path expected-text what [reader-command]
        local log=$1 expect=$2 what=$3 reader=${4:-}
        [ -n "$reader" ] && { $reader <"$log" >/dev/null & }
        VELMORA_DATA=$DATA VELMORA_FRAME_LOG=$log start_demo
        pressed=$(date +%s.%N)
        xdotool key Escape
        wait_demo "$pressed" 5
        lines=$(wc -l <"$out/stderr")
        echo "$what: status $exit_status after $elapsed s: $(cat "$out/stderr")"
        [ "$exit_status" = 1 ] || fail "$what: exit status $exit_status"
        [ "$lines" = 1 ] || fail "$what: $lines lines on stderr"
        grep -qF "velmora: $log: cannot write the frame log: $expect" "$out/stderr" || fail "$what: stderr lacks '$expect'"
        [ "$(echo "$elapsed < 5" | bc)" = 1 ] || fail "$what: Escape took $elapsed s"
    }
    framelog "$work/pipe" "no process reads this named pipe" "a named pipe with no reader"
    framelog "$work/pipe" "Broken pipe; logging stopped" "a reader that leaves" "head -c 100"
    framelog /dev/full "No space left on device; logging stopped" "a full device"
    framelog "$work/none/frames.log" "No such file or directory" "a folder that does not exist"
    # A log that works stays as it was: a header and one line per frame, status 0.
    VELMORA_DATA=$DATA VELMORA_FRAME_LOG=$work/frames.log start_demo
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 5 "a working frame log"
    [ "$(head -c 9 "$work/frames.log")" = "# driver " ] && [ "$(wc -l <"$work/frames.log")" -gt 5 ] ||
        fail "the frame log holds $(wc -l <"$work/frames.log") lines"
    # Where each frame's time goes: four more fields on every frame line, the scene first,
    # then drawing, scaling and presenting in whole microseconds.
    VELMORA_DATA=$DATA VELMORA_FRAME_LOG=$work/times.log VELMORA_DEBUG_FRAME_TIMES=1 start_demo
    xdotool key Escape
    wait_demo "$(date +%s.%N)" 5
    expect_clean_exit 5 "a frame log with frame times"
    bad=$(awk '!/^#/ && !(NF == 11 && $8 ~ /^[0-6]$/ && $9 > 0 && $10 > 0 && $11 > 0) { n++ } END { print n + 0 }' "$work/times.log")
    frames=$(grep -vc '^#' "$work/times.log")
    echo "frame times: $frames frames, $bad malformed"
    [ "$frames" -gt 5 ] && [ "$bad" = 0 ] || fail "frame times: $bad of $frames lines malformed: $(sed -n 2p "$work/times.log")"
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
