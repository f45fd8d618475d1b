# shellcheck shell=bash
# A virtual X screen for the tests and benchmarks that run the real demo. Sourced, not
# run: hence not named .sh, the ending of the commands in tools/.
#
# start_xvfb WIDTHxHEIGHT DIR: starts Xvfb with a 24-bit screen of that size, its display
# number and log in DIR, exports DISPLAY and sets xpid (the caller kills it). Under load,
# and right after an earlier server was killed, a new one has been seen to take more than
# 10 s to name its display: it gets 30 s, then one more try. Returns 1, having printed
# why and the server's log, when both tries fail.
start_xvfb() {
    local size=$1 dir=$2 attempt
    for attempt in 1 2; do
        rm -f "$dir/display"
        Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
        xpid=$!
        for _ in $(seq 300); do grep -qE '^[0-9]+$' "$dir/display" 2>/dev/null && break; sleep 0.1; done
        if grep -qE '^[0-9]+$' "$dir/display" 2>/dev/null; then
            DISPLAY=:$(cat "$dir/display")
            export DISPLAY
            return 0
        fi
        echo "Xvfb did not start in 30 s, try $attempt ($(kill -0 "$xpid" 2>/dev/null && echo still running || echo it ended))"
        cat "$dir/xvfb.log"
        kill -9 "$xpid" 2>/dev/null
        wait "$xpid" 2>/dev/null
        xpid=
    done
    return 1
}
