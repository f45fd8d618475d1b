#!/usr/bin/env bash
# Sets everything up and runs the demo with its default music and pictures (data/).
# Without a display it renders the demo to a video instead and says where it is.
set -eu
usage="usage: tools/run-demo.sh   (no arguments)"
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
[ $# = 0 ] || { echo "run-demo: unexpected arguments: $*" >&2; echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
mkdir -p "$root/data"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    video="$root/build/velmora.mp4"
    echo "velmora: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set); rendering the demo to a video instead." >&2
    "$root/build/velmora-capture" --data "$root/data" --video "$video"
    echo "velmora: the demo is in $video; play it with any video player." >&2
    exit 0
fi
cd "$root/data"
exec "$root/build/velmora"
