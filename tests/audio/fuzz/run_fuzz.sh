#!/usr/bin/env bash
# Builds the music loader's libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in WORK_DIR, replays every past crash input, then
# fuzzes for SECONDS over the seed MP3s and the corpus kept in WORK_DIR.
# Usage: run_fuzz.sh WORK_DIR SECONDS
# A new crash input is left in WORK_DIR/artifacts/; copy it into regressions/ (named
# after what it found) once the loader is mended, so that every test run replays it.
# The seeds (seeds/) are written by the music-fuzz-seeds tool.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$1
seconds=$2
mkdir -p "$work/corpus" "$work/artifacts"

cmake -S "$here" -B "$work/build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" -j2 >/dev/null
fuzzer=$work/build/mp3-fuzzer

inputs=("$here/seeds")
[ -d "$here/regressions" ] && inputs+=("$here/regressions")

# Past crashes and the seeds first: each input runs once and must not fail.
"$fuzzer" -runs=0 "${inputs[@]}" >"$work/replay.log" 2>&1 || {
    cat "$work/replay.log"
    exit 1
}
echo "replayed $(ls "$here/regressions" 2>/dev/null | wc -l) past crash inputs and $(ls "$here/seeds" | wc -l) seeds"

status=0
# Inputs up to 16 KiB: several hundred MPEG frames, enough for resync, tags and format changes.
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
    -dict="$here/mp3.dict" -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "${inputs[@]}" >"$work/fuzz.log" 2>&1 || status=$?
# The progress lines stay in the log; the summary, and any finding, go to the output.
grep -E 'stat::number_of_executed_units|stat::peak_rss|DONE|ERROR|SUMMARY|Test unit written|runtime error|#[0-9]+ 0x' \
    "$work/fuzz.log" || true
exit $status
