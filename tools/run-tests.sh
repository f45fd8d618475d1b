#!/usr/bin/env bash
# Sets everything up, builds and runs every test (unit, GL, end-to-end, slow).
# Options are handed to ctest; only the ones below are taken, since ctest itself ignores
# what it does not know (a mistyped -L would run every test).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: tools/run-tests.sh [-R REGEX] [-E REGEX] [-L LABEL] [-LE LABEL] [-j N] [--repeat until-fail:N] [--timeout S] [-V|-VV] [-N] [--stop-on-failure] [--rerun-failed] [--output-on-failure]"
bad_usage() { echo "run-tests: $1" >&2; echo "$usage" >&2; exit 2; }
args=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        -h | --help) echo "$usage"; exit 0 ;;
        -R | -E | -L | -LE | -j | --repeat | --timeout)
            [ $# -ge 2 ] && [ -n "$2" ] || bad_usage "$1 needs a value"
            shift 2 ;;
        -V | -VV | -N | --stop-on-failure | --rerun-failed | --output-on-failure) shift ;;
        *) bad_usage "unknown argument '$1'" ;;
    esac
done
set -- ${args[@]+"${args[@]}"}
"$root/tools/install-deps.sh" --sound-servers
"$root/tools/build.sh"
cd "$root/build"
ctest --output-on-failure -j2 "$@"
