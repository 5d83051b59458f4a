#!/usr/bin/env bash
# Installs everything that building, testing and the demo need on Debian 12.
# Idempotent and non-interactive; touches the network only when a package is missing.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config ca-certificates
    # Qt 6 (libgl-dev: Qt's GUI module asks for the OpenGL headers)
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libqt6svg6 libgl-dev
    # GStreamer: opusenc, vorbisenc, audiomixer (base); lamemp3enc, aacparse, pulsesink (good);
    # voaacenc (bad); avenc_aac (libav)
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    gstreamer1.0-libav
    # capture (the PulseAudio capture plug-in of libobs ships in obs-studio)
    libobs-dev obs-studio
    # platform libraries
    libsodium-dev libpulse-dev libxcb1-dev libxcb-ewmh-dev
    # real peers for tests and the demo (xauth for xvfb-run, x11-utils for xdpyinfo, ffmpeg for
    # ffprobe, jq to read the stand-in's account file)
    icecast2 pulseaudio pulseaudio-utils xvfb xauth x11-utils ffmpeg openssl curl jq
    # fonts
    fonts-inter
    # the Windows side of the platform layer: cross compiler, and Wine to run its tests
    g++-mingw-w64-x86-64-posix wine wine64
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${#missing[@]} package(s): ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
# icecast2 asks for passwords through debconf; our fixtures write their own configuration.
echo "icecast2 icecast2/icecast-setup boolean false" | "${sudo_cmd[@]}" debconf-set-selections 2>/dev/null || true
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
    "${missing[@]}"
