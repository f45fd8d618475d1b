#!/usr/bin/env bash
# What a viewer sees: the real velmora full screen under Xvfb, the whole demo, this tree
# against a reference commit in alternating rounds (A B, then B A) on the same machine.
# From the frame log (VELMORA_FRAME_LOG, with VELMORA_DEBUG_FRAME_TIMES=1) it prints per
# scene the frames, the median, p99 and worst interval between presented frames and the
# count over 16.7 ms (60 Hz), then the median time per frame spent drawing the scene,
# scaling it into the window and presenting it (the swap). Xvfb has no vsync, so the
# demo runs as fast as it can. The last table pools every round, side by side. The
# reference is built in a temporary worktree, with this tree's frame-time logging
# applied where it lacks it. Needs a built tree (tools/build.sh) and Xvfb.
# Usage: tools/bench-live.sh [--size WxH]... [--seconds N] [REFERENCE [ROUNDS]]
#   default: sizes 1920x1080 and 1280x1024, the whole run, the commit that added the
#   frame-time logging as reference, 1 round. REFERENCE "none" runs this tree only.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: tools/bench-live.sh [--size WxH]... [--seconds N] [REFERENCE [ROUNDS]]"
bad_usage() { echo "bench-live: $1" >&2; echo "$usage" >&2; exit 2; }
sizes=()
seconds=
args=()
while [ $# -gt 0 ]; do
    case $1 in
        -h | --help) echo "$usage"; exit 0 ;;
        --size)
            [ $# -ge 2 ] && [[ $2 =~ ^[1-9][0-9]{1,4}x[1-9][0-9]{1,4}$ ]] ||
                bad_usage "--size needs WIDTHxHEIGHT, not '${2:-}'"
            sizes+=("$2"); shift 2 ;;
        --seconds)
            [ $# -ge 2 ] && [[ $2 =~ ^[1-9][0-9]{0,3}$ ]] || bad_usage "--seconds needs a whole number above 0, not '${2:-}'"
            seconds=$2; shift 2 ;;
        -*) bad_usage "unknown option '$1'" ;;
        *) args+=("$1"); shift ;;
    esac
done
[ ${#args[@]} -le 2 ] || bad_usage "too many arguments"
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 1280x1024)
rounds=${args[1]:-1}
[[ $rounds =~ ^[1-9][0-9]{0,3}$ ]] || bad_usage "ROUNDS must be a whole number above 0, not '$rounds'"
logging=$(git -C "$root" log --format=%H -1 --grep='^Frame log: where each frame' 2>/dev/null || true)
reference=${args[0]:-$logging}
[ "$reference" = none ] || git -C "$root" rev-parse -q --verify "$reference^{commit}" >/dev/null 2>&1 ||
    bad_usage "no commit '${reference}'"
[ -x "$root/build/velmora" ] || { echo "bench-live: build the tree first (tools/build.sh)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "bench-live: needs Xvfb" >&2; exit 1; }

work=$(mktemp -d)
xpid=
cleanup() {
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    git -C "$root" worktree remove --force "$work/tree" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=tools/xvfb.bash
. "$root/tools/xvfb.bash"

programs=()
labels=()
if [ "$reference" != none ]; then
    echo "bench-live: reference $(git -C "$root" log --format='%h %s' -1 "$reference" | cut -c1-90)"
    git -C "$root" worktree add --detach "$work/tree" "$reference" >/dev/null 2>&1
    if ! grep -q VELMORA_DEBUG_FRAME_TIMES "$work/tree/app/demo.cpp"; then
        git -C "$root" diff "$logging^" "$logging" -- app | git -C "$work/tree" apply
    fi
    cmake -S "$work/tree" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF >/dev/null
    cmake --build "$work/build" -j"$(nproc)" --target velmora >/dev/null
    programs+=("$work/build/velmora")
    labels+=(reference)
fi
programs+=("$root/build/velmora")
labels+=("this tree")

# Per scene from frame logs: the interval before each frame (the first frame of each log
# has none) and its drawing, scaling and presenting times. Prints one table.
# The scene and the three times are the last four columns of each line.
table() {
    awk '!/^#/ && NF >= 11 {
        if (FILENAME != file) { file = FILENAME; last = "" }
        s = $(NF-3)
        if (last != "") print s, "i", ($1 - last) / 1e6
        print s, "d", $(NF-2) / 1e3; print s, "s", $(NF-1) / 1e3; print s, "p", $NF / 1e3
        last = $1
    }' "$@" | sort -k1,1n -k2,2 -k3,3g | awk '
    function flush() {
        if (n == 0) return
        if (kind == "i") {
            frames[scene] = n; med[scene] = v[int((n + 1) / 2)]
            p99[scene] = v[int(n * 0.99 + 0.999999)]; worst[scene] = v[n]; over[scene] = slow
        } else t[scene, kind] = v[int((n + 1) / 2)]
        if (scene > top) top = scene
        n = 0; slow = 0
    }
    { if ($1 != scene || $2 != kind) { flush(); scene = $1; kind = $2 }
      v[++n] = $3; if (kind == "i" && $3 > 16.7) slow++ }
    END {
        flush()
        printf "%-6s %7s %8s %8s %8s %6s | %8s %8s %8s\n", "scene", "frames", "median", "p99", "worst", ">16.7", "draw", "scale", "present"
        for (s = 0; s <= top; s++) {
            all += frames[s]; allOver += over[s]
            printf "%-6d %7d %8.1f %8.1f %8.1f %6d | %8.1f %8.1f %8.1f\n", s, frames[s], med[s], p99[s], worst[s], over[s], t[s, "d"], t[s, "s"], t[s, "p"]
        }
        printf "all    %7d  (%d over 16.7 ms, %.1f %%); times in ms, the last three medians\n", all, allOver, all ? 100 * allOver / all : 0
    }'
}

for size in "${sizes[@]}"; do
    start_xvfb "$size" "$work" || { echo "bench-live: Xvfb did not start"; exit 1; }
    for round in $(seq "$rounds"); do
        # Even rounds run the programs in reverse order, so that a drift in the machine's
        # speed falls on both sides alike.
        order=()
        for i in "${!programs[@]}"; do
            if [ $((round % 2)) = 1 ]; then order+=("$i"); else order=("$i" "${order[@]}"); fi
        done
        for i in "${order[@]}"; do
            log=$work/$size.$i.$round.log
            echo "== $size, ${labels[$i]}, round $round of $rounds (load average $(cut -d' ' -f1-3 /proc/loadavg))"
            SDL_AUDIODRIVER=dummy VELMORA_FRAME_LOG=$log VELMORA_DEBUG_FRAME_TIMES=1 \
                timeout ${seconds:-600} "${programs[$i]}" --data "$root/data" >"$work/run.log" 2>&1 ||
                [ -n "$seconds" ] || { echo "bench-live: ${programs[$i]} failed"; cat "$work/run.log"; exit 1; }
            table "$log"
        done
    done
    kill "$xpid"; wait "$xpid" 2>/dev/null || true
    xpid=
    if [ "$rounds" -gt 1 ] || [ ${#programs[@]} -gt 1 ]; then
        for i in "${!programs[@]}"; do
            echo "== $size, ${labels[$i]}, all rounds"
            table "$work/$size.$i".*.log
        done
    fi
done
