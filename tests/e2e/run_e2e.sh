#!/usr/bin/env bash
# End-to-end checks of the real demo binary on Xvfb: how the picture fills screens of
# different shapes, and how the program ends (Escape, a close request, its own end, no
# display at all, the display lost, a frame log that cannot be written).
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

start_x() {  # WIDTHxHEIGHT
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xpid=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    export DISPLAY=:$(cat "$work/display")
}

start_demo() {  # runs in an empty folder: no textures, no music
    (cd "$work" && SDL_AUDIODRIVER=dummy exec "$VELMORA") >"$out/stdout" 2>"$out/stderr" &
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
                wait_demo "$(date +%s.%N)" 10
                lines=$(wc -l <"$out/stderr")
                what="$way lost after $delay s (round $round)"
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
