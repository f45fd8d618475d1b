#!/usr/bin/env bash
# Measures how far the picture's music level is from the sound, through real sound
# servers in software: for each of PulseAudio and PipeWire (with its Pulse layer) it
# starts a private server with a null sink, plays a click track through the demo's own
# music player on its default output (libpulse, as the server takes the stream), records
# the sink's monitor with arrival stamps, stops the server, and then gives per server the
# offset of each click (the first frame whose music level shows it, against the moment
# it left the sink) and their median and spread. The last line sums up every server
# measured. Exit status 0 when every server was measured and met the goal (median
# |offset| 10 ms, no click beyond 20 ms; with --demo 15 and 30 ms); 1 when a run that
# nothing disturbed missed it; otherwise 77 (skipped, with the reason) when a
# server is not installed, would not start or refused the stream, or missed the goal
# only in a run that the machine's load disturbed (the player stalled, the server
# dropped out or the sink's clock stepped at a click).
# Usage: tools/av-sync.sh [--server pulseaudio|pipewire|pipewire-native|all] [--build DIR]
#        [--keep DIR] [--demo]
# all: pulseaudio and pipewire, through libpulse. The player is a probe that
# runs the demo's frame loop without drawing, 500 frames a second, so that the offsets
# are the heard-position model's own; --demo plays the real demo on Xvfb instead, whose
# offsets add its frame time on this machine's software renderer.
set -u
cd "$(dirname "$0")/.."
usage="usage: tools/av-sync.sh [--server pulseaudio|pipewire|pipewire-native|all] [--build DIR] [--keep DIR] [--demo]"
bad_usage() { echo "av-sync: $1" >&2; echo "$usage" >&2; exit 2; }
servers=all build=build keep= demo=
while [ $# -gt 0 ]; do
    case $1 in
        --server | --build | --keep)
            [ $# -ge 2 ] && [ -n "$2" ] || bad_usage "$1 needs a value"
            case $1 in
                --server) servers=$2 ;;
                --build) build=$2 ;;
                --keep) keep=$2 ;;
            esac
            shift 2 ;;
        --demo) demo=1; shift ;;
        -h | --help) echo "$usage"; exit 0 ;;
        *) bad_usage "unknown argument '$1'" ;;
    esac
done
[ "$servers" = all ] && servers="pulseaudio pipewire"
for server in $servers; do
    case $server in
        pulseaudio | pipewire | pipewire-native) ;;
        *) bad_usage "no server '$server'" ;;
    esac
done
if ! command -v parec >/dev/null || ! { command -v pulseaudio || command -v pipewire; } >/dev/null; then
    echo "av-sync: no sound server installed (tools/install-deps.sh --sound-servers)"
    exit 77
fi
tool=$build/av-sync
if [ ! -x "$tool" ] || { [ -n "$demo" ] && [ ! -x "$build/velmora" ]; }; then
    echo "av-sync: $tool or $build/velmora is not built (cmake --build $build)" >&2
    exit 1
fi
root=$PWD
build=$(cd "$build" && pwd)
tool=$build/av-sync

if [ -n "$keep" ]; then work=$keep; rm -rf "$work"; mkdir -p "$work"; else work=$(mktemp -d); fi
work=$(cd "$work" && pwd)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

load() { echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"; }
echo "av-sync: machine: $(load) at the start"
trackFrames=$("$tool" track "$work/clicks.mp3") || exit 1

if [ -n "$demo" ]; then
    # shellcheck source=tools/xvfb.bash
    . "$root/tools/xvfb.bash"
    start_xvfb 640x480 "$work" || { echo "av-sync: Xvfb did not start"; exit 1; }
    pids+=("$xpid")
fi

# Plays the click track and logs the frames into DIR/frames.log. Status 3 when the
# server refused the stream.
play() {  # DIR
    if [ -z "$demo" ]; then
        "$tool" play "$work/clicks.mp3" "$1/frames.log" 2>"$1/play.log"
        return
    fi
    # The real demo, with the click track for its music and the default pictures, until
    # the heard position passes the track's end (its own end is 144 s away).
    mkdir -p "$1/demo"
    ln -s "$work/clicks.mp3" "$1/demo/music.mp3"
    ln -s "$root/data/textures" "$1/demo/textures"
    (cd "$1/demo" && VELMORA_FRAME_LOG="$1/frames.log" exec "$build/velmora") >"$1/play.log" 2>&1 &
    local player=$! heard
    for _ in $(seq 1200); do
        kill -0 $player 2>/dev/null || break
        heard=$(tail -n 1 "$1/frames.log" 2>/dev/null | cut -d' ' -f3)
        [ -n "$heard" ] && [ "$heard" -gt "$trackFrames" ] 2>/dev/null && break
        sleep 0.1
    done
    kill $player 2>/dev/null
    wait $player
    grep -q 'no audio output' "$1/play.log" && return 3
    [ -s "$1/frames.log" ]
}

# Waits up to 10 s for the Pulse protocol to answer.
waitPulse() {
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Everything a server needs lives under its own runtime folder, so that nothing else on
# the machine finds it and it finds nothing else.
measured=()
unmeasured=()  # "server: why", for a server this machine could not give a run
for server in $servers; do
    dir=$work/$server
    mkdir -p "$dir/run"
    export XDG_RUNTIME_DIR=$dir/run HOME=$dir/run PULSE_RUNTIME_PATH=$dir/run/pulse
    export PULSE_SERVER=unix:$dir/run/pulse/native
    unset SDL_AUDIODRIVER PULSE_SINK
    mine=()
    case $server in
        pulseaudio)
            command -v pulseaudio >/dev/null || { unmeasured+=("$server: not installed"); continue; }
            pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$dir/server.log" \
                -L module-native-protocol-unix -L "module-null-sink sink_name=avsync" 2>>"$dir/server.log" &
            mine+=($!)
            waitPulse || { unmeasured+=("$server: did not start"); kill "${mine[@]}" 2>/dev/null; continue; }
            ;;
        pipewire|pipewire-native)
            # pipewire-native: the same server, but SDL's own PipeWire client (with its
            # fixed-latency model) instead of libpulse through the Pulse layer.
            [ $server = pipewire-native ] && export SDL_AUDIODRIVER=pipewire
            for c in pipewire pipewire-pulse wireplumber dbus-daemon; do
                command -v $c >/dev/null || { unmeasured+=("$server: $c not installed"); continue 2; }
            done
            # The session manager wants a session bus; a private one serves.
            dbus-daemon --session --address="unix:path=$dir/run/bus" --nofork --nopidfile >"$dir/dbus.log" 2>&1 &
            mine+=($!)
            export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
            sleep 0.2
            pipewire >"$dir/server.log" 2>&1 &
            mine+=($!)
            sleep 0.3
            # No Bluetooth monitor: where it asks for logind and finds none (a container, a
            # fresh root) the session manager gives up and the server refuses every stream.
            mkdir -p "$HOME/.config/wireplumber/bluetooth.lua.d"
            echo 'bluez_monitor.enabled = false' >"$HOME/.config/wireplumber/bluetooth.lua.d/51-avsync.lua"
            wireplumber >"$dir/session.log" 2>&1 &
            mine+=($!)
            pipewire-pulse >"$dir/pulse.log" 2>&1 &
            mine+=($!)
            waitPulse || { unmeasured+=("$server: did not start"); kill "${mine[@]}" 2>/dev/null; continue; }
            pactl load-module module-null-sink sink_name=avsync >/dev/null
            sleep 0.5
            pactl set-default-sink avsync 2>/dev/null
            ;;
        *) echo "av-sync: no server $server" >&2; exit 2 ;;
    esac
    pids+=("${mine[@]}")
    pactl set-default-sink avsync 2>/dev/null
    export PULSE_SINK=avsync
    # The monitor is recorded at the sink's own rate, so that no resampler sits between
    # the sink's sample clock and the recording.
    rate=$(pactl list short sinks | awk '$2 == "avsync" { sub("Hz", "", $6); print $6 }')
    if [ -z "$rate" ]; then
        unmeasured+=("$server: no null sink")
    else
        echo "$rate" >"$dir/sink-rate"
        mkfifo "$dir/monitor.fifo"
        "$tool" stamp "$dir/monitor" <"$dir/monitor.fifo" &
        stamper=$!
        parec -d avsync.monitor --raw --format=float32le --rate="$rate" --channels=1 --latency-msec="${AVSYNC_RECORD_MS:-5}" \
            >"$dir/monitor.fifo" 2>"$dir/parec.log" &
        recorder=$!
        sleep 0.5
        play "$dir" &
        player=$!
        sleep 3
        # What the server says about its own latency while the clicks play.
        latency=$(pactl list sinks | awk '/^Sink #/ { ours = 0 } /Name: avsync$/ { ours = 1 } ours && /Latency:/ { sub(/^[ \t]*/, ""); print; exit }')
        echo "av-sync: $server sink ${latency:-latency unknown}"
        wait "$player"
        status=$?
        sleep 0.3
        kill "$recorder" 2>/dev/null
        wait "$recorder" "$stamper" 2>/dev/null
        if [ $status -eq 3 ]; then
            unmeasured+=("$server: refused the stream ($(tail -n 1 "$dir/play.log"))")
        else
            [ $status -eq 0 ] || echo "$server: play failed: $(cat "$dir/play.log")"
            measured+=("$server" "$dir")
        fi
    fi
    kill "${mine[@]}" 2>/dev/null
    wait "${mine[@]}" 2>/dev/null
    unset DBUS_SESSION_BUS_ADDRESS
done
echo "av-sync: machine: $(load) at the end"
for why in "${unmeasured[@]}"; do echo "av-sync: not measured: $why"; done
if [ ${#measured[@]} -eq 0 ]; then
    echo "av-sync: no server could be measured"
    exit 77
fi
# The probe paces its frames at 2 ms: a click first shown after a wait of over 10 ms
# measures the scheduler on a loaded machine. The demo's frame time is its own.
# The probe's goal is tighter: following the server's own timing it stayed within 8 ms
# of the sound at a load average of 16 on 2 cores, the measure's own 6 ms lead (the
# spectrum's window is centred on the heard frame) included.
options=(--stall-ms 10 --goal-ms 10 20)
[ -n "$demo" ] && options=()
"$tool" analyse "$work/clicks.mp3" "${options[@]}" "${measured[@]}"
status=$?
# A server that could not be measured leaves the check unfinished, not failed.
[ $status -eq 0 ] && [ ${#unmeasured[@]} -gt 0 ] && status=77
exit $status
