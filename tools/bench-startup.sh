#!/usr/bin/env bash
# Times the demo's start-up against a bare SDL2 program that only opens the same
# full-screen GL window and swaps once, side by side on one Xvfb server: the bare
# window's first swap, the demo's first scene frame (its second swap, after the black
# start-up frame), their ratio, and the demo's start-up phases. Times run from the
# process start (an exec wrapper) to the end of each call, stamped by an LD_PRELOAD shim
# on the SDL and GL calls that begin or end each phase, so the demo is run unchanged.
# Start-up work that runs on a thread of its own while the window opens is shown as such.
# Needs a built tree (tools/build.sh), Xvfb and the SDL2 development files.
# Usage: tools/bench-startup.sh [RUNS [WIDTHxHEIGHT]]   (default 7 runs, 1024x768)
# BASELINE=path/to/another/velmora times that build too, in the same rounds (for a
# before-and-after comparison on one machine at one time). WINDOW_MANAGER=openbox (or
# another) runs a window manager on the server, as a desktop has.
set -eu
usage="usage: tools/bench-startup.sh [RUNS [WIDTHxHEIGHT]]   (default 7 runs, 1024x768)"
bad_usage() { echo "bench-startup: $1" >&2; echo "$usage" >&2; exit 2; }
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
[ $# -le 2 ] || bad_usage "too many arguments"
[ $# -lt 1 ] || [[ $1 =~ ^[1-9][0-9]{0,3}$ ]] || bad_usage "RUNS must be a whole number above 0, not '$1'"
[ $# -lt 2 ] || [[ $2 =~ ^[1-9][0-9]{1,4}x[1-9][0-9]{1,4}$ ]] || bad_usage "the screen size must be WIDTHxHEIGHT, not '$2'"
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
screen=${2:-1024x768}
src=$root/tools/bench_startup
tmp=$(mktemp -d)
xpid=
cleanup() {
    [ -n "${wmpid:-}" ] && kill "$wmpid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

cc -O2 -o "$tmp/launch" "$src/launch.c"
cc -O2 -shared -fPIC -o "$tmp/swap_shim.so" "$src/swap_shim.c" $(pkg-config --cflags sdl2) -ldl
cc -O2 -o "$tmp/bare_window" "$src/bare_window.c" $(pkg-config --cflags --libs sdl2) -lGL

# shellcheck source=tools/xvfb.bash
. "$root/tools/xvfb.bash"
start_xvfb "$screen" "$tmp" || exit 1
# WINDOW_MANAGER=COMMAND runs that window manager on the server first (as on a desktop,
# where one answers the full-screen request; without one SDL waits up to 100 ms for it).
wmpid=
if [ -n "${WINDOW_MANAGER:-}" ]; then
    $WINDOW_MANAGER >"$tmp/wm.log" 2>&1 &
    wmpid=$!
    sleep 1
fi
export SDL_AUDIODRIVER=dummy

# One run: PROGRAM, swaps to wait for, output file; in data/, as the demo runs.
run() {
    (cd "$root/data" && VELMORA_BENCH_SWAPS=$2 VELMORA_BENCH_OUT=$3 LD_PRELOAD="$tmp/swap_shim.so" \
        timeout 60 "$tmp/launch" "$1" >/dev/null 2>"$3.stderr") || true
    [ -s "$3" ] || { echo "bench-startup: $1 gave no timings"; cat "$3.stderr"; exit 1; }
}

# Alternating, so that all see the same machine load.
baseline=${BASELINE:-}
for i in $(seq "$runs"); do
    run "$tmp/bare_window" 1 "$tmp/bare.$i"
    [ -n "$baseline" ] && run "$baseline" 2 "$tmp/base.$i"
    run "$root/build/velmora" 2 "$tmp/demo.$i"
done

# Median of column values read from stdin, one per line.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mark() {  # NAME FILE: the time of the last mark of that name, ms
    awk -v n="$1" '$1 == n { t = $2 } END { if (t != "") print t }' "$2"
}
list() {  # PREFIX NAME: that mark in every run, space-separated
    for i in $(seq "$runs"); do printf '%s ' "$(mark "$2" "$tmp/$1.$i")"; done
}

bare=$(list bare swap-1 | tr ' ' '\n' | grep . | median)
echo "Start-up on Xvfb ${screen}${WINDOW_MANAGER:+ with $WINDOW_MANAGER}, SDL_AUDIODRIVER=dummy, $runs runs each, median (ms from process start):"
echo "  bare window, first swap:          $bare   (runs: $(list bare swap-1))"
programs="demo"
[ -n "$baseline" ] && programs="base demo"
declare -A name=([demo]="velmora" [base]="baseline")
for p in $programs; do
    first=$(list $p swap-2 | tr ' ' '\n' | grep . | median)
    echo "  ${name[$p]}, black start-up frame:   $(list $p swap-1 | tr ' ' '\n' | grep . | median)   (runs: $(list $p swap-1))"
    echo "  ${name[$p]}, first scene frame:      $first   (runs: $(list $p swap-2))"
    awk -v a="$first" -v b="$bare" -v n="${name[$p]}" \
        'BEGIN { printf "  ratio %s first scene frame / bare first swap: %.2f (goal <= 1.25)\n", n, a / b }'
done

# Phases: each mark's median time, and the median of each run's time since the mark
# before it on the same thread (the first mark of the start-up thread counts from the
# main thread's mark before it). Listed in order of their median times.
declare -A label=(
    [window]="window (hidden until shown)" [context]="GL context"
    [display]="render target and GL set-up" [black-drawn]="black frame drawn"
    [setups]="scene set-ups, line smoothing" [font]="font" [warm-up]="first frame warm-up"
    [shown]="window shown" [swap-1]="black frame on screen" [sound]="sound initialised"
    [sound-output]="sound output opened" [music-load]="music loaded, playing"
    [swap-2]="first scene frame"
)
for i in 1 2 3 4 5 6 7 8 9 10; do label[texture-$i]="texture load $i"; done
# One run's marks as "name ends takes thread", in time order.
steps() {
    sort -g -k2 "$1" | awk '{
        prev = ($3 in last) ? last[$3] : any
        printf "%s %.2f %.2f %s\n", $1, $2, $2 - prev, $3
        last[$3] = $2; any = $2
    }'
}
for p in $programs; do
    for i in $(seq "$runs"); do steps "$tmp/$p.$i" >"$tmp/$p.$i.steps"; done
    echo "${name[$p]} start-up phases (median ms; 'ends at' from process start, 'takes' since the mark before on its thread):"
    printf '  %-32s %9s %9s  %s\n' phase "ends at" takes thread
    names=$(cat "$tmp/$p".*.steps | awk '{ print $1 }' | sort -u)
    for m in $names; do
        ends=$(cat "$tmp/$p".*.steps | awk -v n="$m" '$1 == n { print $2 }' | median)
        takes=$(cat "$tmp/$p".*.steps | awk -v n="$m" '$1 == n { print $3 }' | median)
        thread=$(cat "$tmp/$p".*.steps | awk -v n="$m" '$1 == n { t = $4 } END { print t == "main" ? "main" : "start-up" }')
        printf '%s %s %s %s\n' "$m" "$ends" "$takes" "$thread"
    done | sort -g -k2 | while read -r m ends takes thread; do
        printf '  %-32s %9.1f %9.1f  %s\n' "${label[$m]:-$m}" "$ends" "$takes" "$thread"
    done
done
