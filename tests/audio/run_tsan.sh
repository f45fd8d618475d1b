#!/usr/bin/env bash
# Builds the audio path with ThreadSanitizer in a tree of its own and runs it on SDL's
# disk driver, then through libpulse to a private PulseAudio server with a null sink
# where one can be started (the report says when it could not); any race report fails
# the test. Usage: run_tsan.sh SOURCE_FOLDER BUILD_FOLDER CXX_COMPILER
set -eu
src=$1 out=$2 cxx=$3
cmake -S "$src" -B "$out" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j2
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$src/libpulse.supp"
"$out/audio_tsan" "$out"

if ! command -v pulseaudio >/dev/null; then
    echo "run_tsan: the libpulse path is not run: no PulseAudio server installed (tools/install-deps.sh --sound-servers)"
    exit 0
fi
# Everything the server needs under a folder of its own, so that it finds nothing else
# on the machine and nothing else finds it.
run=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$run"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$run HOME=$run PULSE_RUNTIME_PATH=$run/pulse PULSE_SERVER=unix:$run/pulse/native
pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$run/server.log" \
    -L module-native-protocol-unix -L "module-null-sink sink_name=tsan" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -S "$run/pulse/native" ] && break; sleep 0.1; done
if [ ! -S "$run/pulse/native" ]; then
    echo "run_tsan: the libpulse path is not run: the PulseAudio server did not start"
    exit 0
fi
status=0
"$out/audio_tsan" "$out" pulse || status=$?
[ $status -eq 77 ] && echo "run_tsan: the libpulse path is not run: the server refused the stream or never asked for the track" && status=0
exit $status
