#!/usr/bin/env bash
# Installs everything the demo, its tools and its tests need, from Debian 12 packages.
# Safe to run again: it installs only what is missing. With --sound-servers it also
# installs the PulseAudio and PipeWire servers that tools/av-sync.sh runs privately; the
# demo alone leaves them out, so that a desktop's own sound server is never disturbed.
set -eu
usage="usage: tools/install-deps.sh [--sound-servers]"
case ${1:-} in -h | --help) echo "$usage"; exit 0 ;; esac
if [ $# -gt 1 ] || { [ $# = 1 ] && [ "$1" != --sound-servers ]; }; then
    echo "install-deps: bad arguments: $*" >&2
    echo "$usage" >&2
    exit 2
fi
packages=(
    build-essential cmake pkg-config git
    libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri libegl-mesa0
    libx11-dev libxext-dev libxrender-dev
    libmpg123-dev libkissfft-dev libsoxr-dev libmp3lame-dev libpulse-dev
    libjpeg62-turbo-dev libjpeg-turbo-progs
    libfreetype-dev libfontconfig-dev fonts-liberation2 libpng-dev
    ffmpeg
    libgtest-dev clang libclang-rt-14-dev
    xvfb xdotool x11-utils imagemagick apitrace bc
    dpkg-dev file lintian desktop-file-utils man-db groff-base appstream
    cage xwayland grim
)
if [ "${1:-}" = --sound-servers ]; then
    packages+=(pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
