#!/usr/bin/env bash
# Sets everything up and runs the demo with its default music and pictures (data/).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "velmora: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set); run it from a desktop session." >&2
    exit 1
fi
mkdir -p "$root/data"
cd "$root/data"
exec "$root/build/velmora"
