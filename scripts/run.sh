#!/usr/bin/env bash
# Sets up, builds and runs on this machine, with no account anywhere: a local Icecast and the
# stand-in cloud service (ondaro-devcloud) with its demo account in front of it; then, on a
# machine with a display, the desktop application already logged in to the demo account (pick a
# deck, press Go Live), and without one (or with --cli first) the command-line broadcaster
# sending the default audio input to the demo channel. Prints where to listen. Ctrl+C (or
# closing the application) stops everything this script started. Further arguments go to
# doredoradar-cli (for example: scripts/run.sh --cli --codec mp3 --bitrate 192).
set -euo pipefail
cd "$(dirname "$0")/.."

desktop=0
cli_asked=0
if [ "${1:-}" = "--cli" ]; then
    cli_asked=1
    shift
elif [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    desktop=1
fi

bash scripts/build.sh doredoradar doredoradar-cli ondaro-devcloud doredoradar-icecast-config
source scripts/local-services.sh

app=build/src/doredoradar
cli=build/src/doredoradar-cli

say() { echo "run: $*"; }

make_services_runtime doredoradar-run
stop_services_on_exit

# libobs, which captures the decks, needs an X display even without a window.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    start_virtual_display || { say "no X display, and no virtual one could be started"; exit 1; }
    say "no X display found; deck capture (libobs) runs on the virtual screen $DISPLAY"
fi

# Without a reachable sound server, a private one whose default input plays a test tone, so
# there is something to hear. (Asked without starting one: a client would otherwise spawn a
# daemon of its own.)
printf 'autospawn = no\n' >"$services_runtime/client.conf"
if ! PULSE_CLIENTCONFIG="$services_runtime/client.conf" pactl info >/dev/null 2>&1; then
    start_private_pulse demo_sink 440 ||
        { say "no sound server found, and no private PulseAudio could be started"; exit 1; }
    say "no sound server found; a private PulseAudio plays a 440 Hz test tone as the default input"
fi

# The demo account and its channel password live on, so the desktop application's login keeps
# working between runs; the Icecast behind it takes the channel password as its source password.
state="${XDG_DATA_HOME:-$HOME/.local/share}/ondaro-devcloud/run-demo"
mkdir -p "$state"
chmod 700 "$state"
if [ ! -s "$state/source-password" ] || [ ! -s "$state/accounts.json" ]; then
    rm -f "$state/accounts.json"
    (umask 077 && openssl rand -hex 16 >"$state/source-password")
fi
source_password=$(cat "$state/source-password")
admin_password=$(openssl rand -hex 16)

icecast_port=$(free_port 8000)
start_local_icecast "$icecast_port" "$source_password" "$admin_password" ||
    { say "Icecast did not start (see above)"; exit 1; }
say "Icecast on 127.0.0.1:$icecast_port"

api_port=8443
port_in_use "$api_port" && api_port=0
start_demo_cloud "$state" "$icecast_port" "$source_password" "$admin_password" "$api_port" ||
    { say "the stand-in cloud service did not start (see above)"; exit 1; }
grep -E "Demo account private token|REST API|Point the application" "$services_runtime/devcloud.log" |
    sed 's/^/run: /'
streaming_port=$demo_streaming_port
mount=$demo_mount

status=0
if [ "$desktop" = 1 ]; then
    # The token goes over in a file only this user can read, never on a command line.
    token_file="$services_runtime/demo-token"
    (umask 077 && echo "$demo_token" >"$token_file")
    say "opening the desktop application, logged in to the demo account: pick a deck input,"
    say "press Go Live and listen at http://127.0.0.1:$streaming_port$mount (closing it stops all)"
    env $demo_pointer DOREDORADAR_TOKEN_FILE="$token_file" "$app" || status=$?
    exit "$status"
fi

if [ "$cli_asked" = 0 ]; then
    say "no display: the command-line broadcaster goes live instead of the desktop application"
fi
say "going live to the demo channel; listen at http://127.0.0.1:$streaming_port$mount (Ctrl+C stops)"
DOREDORADAR_SOURCE_PASSWORD="$source_password" "$cli" \
    "icecast://source@127.0.0.1:$streaming_port$mount" --deck1 default \
    --name "Demo Radio" --title "Ondaro Doredoradar - Test transmission" "$@" || status=$?
exit "$status"
