#!/usr/bin/env bash
# Configures and builds into build/.
set -eu
usage="usage: tools/build.sh   (no arguments)"
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
[ $# = 0 ] || { echo "build: unexpected arguments: $*" >&2; echo "$usage" >&2; exit 2; }
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
