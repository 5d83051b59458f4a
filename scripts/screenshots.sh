#!/usr/bin/env bash
# Renders the windows into PNG files for the README (default folder docs/screenshots): the
# settings dialog with a sample account, and the main window on air. For the latter it sets up
# what scripts/run.sh does, all private to this run: a virtual display, a PulseAudio whose
# default input plays a 440 Hz tone and where a program plays 1000 Hz, a local Icecast and the
# stand-in cloud with its demo account, whose token the application is handed.
# Usage: scripts/screenshots.sh [OUTPUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots}")
mkdir -p "$out"

bash scripts/build.sh doredoradar-screenshots ondaro-devcloud doredoradar-icecast-config
source scripts/local-services.sh

make_services_runtime doredoradar-screenshots
stop_services_on_exit

start_virtual_display 1600x1000x24
start_private_pulse shots_sink 440
# What the window and the program play go to speakers of their own, not into the microphone
# (shots_sink.monitor, which the tool puts on deck 1): deck 1 hears the tone, deck 2 the program.
pactl load-module module-null-sink sink_name=speakers rate=48000 channels=2 >/dev/null
pactl set-default-sink speakers
# Changing the default takes the tone along; it belongs in the microphone.
for input in $(pactl list short sink-inputs | cut -f1); do pactl move-sink-input "$input" shots_sink; done
gst-launch-1.0 -q audiotestsrc is-live=true freq=1000 volume=0.3 ! audioconvert \
    ! pulsesink device=speakers >/dev/null 2>&1 &
services_pids+=($!)
export XDG_DATA_HOME="$services_runtime/data" XDG_CONFIG_HOME="$services_runtime/config"
state="$XDG_DATA_HOME/ondaro-devcloud"
mkdir -p "$state"
password=$(openssl rand -hex 12)
icecast_port=$(free_port 8100)
start_local_icecast "$icecast_port" "$password" "$password"
start_demo_cloud "$state" "$icecast_port" "$password" "$password" 0
(umask 077 && echo "$demo_token" >"$services_runtime/token")

env $demo_pointer DOREDORADAR_TOKEN_FILE="$services_runtime/token" \
    build/tools/screenshots/doredoradar-screenshots --live "$out"
echo "screenshots: written to $out"
