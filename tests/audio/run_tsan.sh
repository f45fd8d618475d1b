#!/usr/bin/env bash
# Builds the audio path with ThreadSanitizer in a tree of its own and runs it; any race
# report fails the test. Usage: run_tsan.sh SOURCE_FOLDER BUILD_FOLDER CXX_COMPILER
set -eu
src=$1 out=$2 cxx=$3
cmake -S "$src" -B "$out" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j2
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" "$out/audio_tsan" "$out"
