#!/usr/bin/env bash
# Sets everything up, builds and runs every test (unit, GL, end-to-end, slow).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" --sound-servers
"$root/tools/build.sh"
cd "$root/build"
ctest --output-on-failure -j2 "$@"
