#!/usr/bin/env bash
# Builds the decoder's libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in WORK_DIR, replays every past crash input, then
# fuzzes for SECONDS over the test pictures and the corpus kept in WORK_DIR.
# Usage: run_fuzz.sh WORK_DIR SECONDS
# A new crash input is left in WORK_DIR/artifacts/; copy it into regressions/ (named
# after what it found) once the decoder is mended, so that every test run replays it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$1
seconds=$2
mkdir -p "$work/corpus" "$work/artifacts"

cmake -S "$here" -B "$work/build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" -j2 >/dev/null
fuzzer=$work/build/jpeg-fuzzer

# Past crashes first: each input runs once and must not fail.
"$fuzzer" -runs=0 "$here/regressions" >"$work/replay.log" 2>&1 || {
    cat "$work/replay.log"
    exit 1
}
echo "replayed $(ls "$here/regressions" | wc -l) past crash inputs"

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict="$here/jpeg.dict" -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$here/../data" "$here/regressions" >"$work/fuzz.log" 2>&1 || status=$?
# The progress lines stay in the log; the summary, and any finding, go to the output.
grep -E 'stat::number_of_executed_units|stat::peak_rss|DONE|ERROR|SUMMARY|Test unit written|runtime error|#[0-9]+ 0x' \
    "$work/fuzz.log" || true
exit $status
