#!/usr/bin/env bash
# Frame times per scene of this tree against a reference commit, on the same machine in
# the same run: both capture tools render the whole demo with --benchmark at 60 fps, in
# alternating rounds (A B, then B A), and their tables are printed one after the other.
# The reference is built in a temporary worktree with this tree's processor-time meter
# applied, so that both tables have the same columns. Needs a built tree
# (tools/build.sh).
# Usage: tools/bench-scenes.sh [REFERENCE [ROUNDS]]   (default: the first filled scenes, 1 round)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: tools/bench-scenes.sh [REFERENCE [ROUNDS]]   (a commit; a whole number of rounds above 0)"
bad_usage() { echo "bench-scenes: $1" >&2; echo "$usage" >&2; exit 2; }
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
[ $# -le 2 ] || bad_usage "too many arguments"
[ $# -lt 1 ] || git -C "$root" rev-parse -q --verify "$1^{commit}" >/dev/null 2>&1 || bad_usage "no commit '$1'"
[ $# -lt 2 ] || [[ $2 =~ ^[1-9][0-9]{0,3}$ ]] || bad_usage "ROUNDS must be a whole number above 0, not '$2'"
reference=${1:-$(git -C "$root" log --format=%H -1 --grep='^Scenes: fill the seven render steps')}
rounds=${2:-1}
meter=$(git -C "$root" log --format=%H -1 --grep='capture benchmark also reports processor time')
work=$(mktemp -d)
trap 'git -C "$root" worktree remove --force "$work/tree" >/dev/null 2>&1; rm -rf "$work"' EXIT

echo "bench-scenes: reference $(git -C "$root" log --format='%h %s' -1 "$reference" | cut -c1-90)"
git -C "$root" worktree add --detach "$work/tree" "$reference" >/dev/null 2>&1
if [ -n "$meter" ] && ! git -C "$root" merge-base --is-ancestor "$meter" "$reference"; then
    git -C "$root" diff "$meter^" "$meter" -- tools/capture | git -C "$work/tree" apply
fi
cmake -S "$work/tree" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target velmora-capture >/dev/null

bench() {  # capture-binary label
    echo "== $2 (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    "$1" --data "$root/data" --benchmark --plot "$work/plot.png" 2>/dev/null | grep -v '^velmora-capture'
}
# Even rounds run this tree first: the machine's speed drifts over minutes, and a fixed
# order would give that drift to one side.
for round in $(seq "$rounds"); do
    echo "-- round $round of $rounds"
    if [ $((round % 2)) = 1 ]; then
        bench "$work/build/velmora-capture" "reference"
        bench "$root/build/velmora-capture" "this tree"
    else
        bench "$root/build/velmora-capture" "this tree"
        bench "$work/build/velmora-capture" "reference"
    fi
done
