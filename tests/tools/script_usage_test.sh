#!/usr/bin/env bash
# Every script under tools/ answers a bad command line with a line saying what is wrong,
# its usage and status 2, before it does any work; --help prints the usage and succeeds.
# The scripts run from a copy of tools/ in an empty tree, with only a few commands on
# PATH, so that one which went to work anyway fails at once instead of building,
# installing or starting servers.
# Usage: script_usage_test.sh SOURCE_DIR
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree" "$work/bin"
cp -r "$src/tools" "$work/tree/tools"
for c in dirname git cat rm mktemp; do ln -s "$(command -v "$c")" "$work/bin/$c"; done

# script (from tools/) and one bad command line per row; '' is an empty command line.
table=(
    "av-sync.sh|--server"
    "av-sync.sh|--build"
    "av-sync.sh|--server nowhere"
    "av-sync.sh|--bogus"
    "bench-decode.sh|x"
    "bench-decode.sh|0"
    "bench-decode.sh|1 2"
    "bench-live.sh|--size big"
    "bench-live.sh|--seconds 0"
    "bench-live.sh|--bogus"
    "bench-live.sh|no-such-commit"
    "bench-live.sh|a b c"
    "bench-scenes.sh|no-such-commit"
    "bench-scenes.sh|a b c"
    "bench-startup.sh|x"
    "bench-startup.sh|3 big"
    "bench-startup.sh|1 640x480 3"
    "build.sh|--bogus"
    "install-deps.sh|--bogus"
    "install-deps.sh|--sound-servers extra"
    "run-demo.sh|extra"
    "run-tests.sh|--lable e2e"
    "run-tests.sh|-R"
    "run-tests.sh|stray"
    "make_assets/contact_sheet.sh|"
    "make_assets/contact_sheet.sh|only-one"
    "make_assets/contact_sheet.sh|no-folder out.png"
)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() {  # script args...
    local script=$1
    shift
    (cd "$work" && timeout 20 env -i PATH="$work/bin" HOME="$work" /bin/bash "$work/tree/tools/$script" "$@") \
        >"$work/out" 2>"$work/err"
}

covered=" "
for row in "${table[@]}"; do
    script=${row%%|*}
    read -r -a args <<<"${row#*|}"
    covered+="$script "
    run "$script" ${args[@]+"${args[@]}"}
    status=$?
    last=$(tail -n 1 "$work/err")
    echo "$script ${args[*]-}: status $status: $(head -n 1 "$work/err")"
    [ "$status" = 2 ] || fail "$script ${args[*]-}: status $status, expected 2: $(cat "$work/err")"
    [ "$(wc -l <"$work/err")" -ge 2 ] || fail "$script ${args[*]-}: no reason before the usage"
    [[ $last == usage:* ]] || fail "$script ${args[*]-}: last line '$last' is not the usage"
    [ -s "$work/out" ] && fail "$script ${args[*]-}: wrote to stdout: $(cat "$work/out")"
done

for path in "$src"/tools/*.sh "$src"/tools/*/*.sh; do
    script=${path#"$src/tools/"}
    [[ $covered == *" $script "* ]] || fail "$script has no row in the table"
    run "$script" --help
    status=$?
    [ "$status" = 0 ] && grep -q '^usage:' "$work/out" || fail "$script --help: status $status, $(cat "$work/out" "$work/err")"
done
[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo ok
