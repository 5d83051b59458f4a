#!/usr/bin/env bash
# Sets up, builds and goes live on this machine, with no account anywhere: a local Icecast, the
# stand-in cloud service (ondaro-devcloud) with its demo account in front of it, and the
# command-line broadcaster sending the default audio input to the demo channel. Prints where to
# listen. Ctrl+C stops everything this script started. Extra arguments go to doredoradar-cli
# (for example: scripts/run.sh --codec mp3 --bitrate 192).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh doredoradar-cli ondaro-devcloud doredoradar-icecast-config

cli=build/src/doredoradar-cli
devcloud=build/tools/devcloud/ondaro-devcloud
icecast_config=build/tools/icecast_config/doredoradar-icecast-config

say() { echo "run: $*"; }

runtime=$(mktemp -d "${TMPDIR:-/tmp}/doredoradar-run.XXXXXX")
pids=()
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # Newest first: the cloud stand-in before the Icecast behind it, the sound server last.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local port=$1
    while port_in_use "$port"; do port=$((port + 1)); done
    echo "$port"
}
wait_for_port() {
    for _ in $(seq 100); do port_in_use "$1" && return 0; sleep 0.1; done
    return 1
}

# libobs, which captures the decks, needs an X display even without a window.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    exec 4>"$runtime/display"
    Xvfb -displayfd 4 -nolisten tcp -screen 0 1280x800x24 >"$runtime/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$runtime/display")"
    say "no X display found; deck capture (libobs) runs on the virtual screen $DISPLAY"
fi

# Without a reachable sound server, a private one with a null sink whose monitor is the default
# input, and a test tone playing into it, so there is something to hear.
# (asked without starting one: a client would otherwise spawn a daemon of its own)
printf 'autospawn = no\n' >"$runtime/client.conf"
if ! PULSE_CLIENTCONFIG="$runtime/client.conf" pactl info >/dev/null 2>&1; then
    mkdir -p "$runtime/pulse"
    cat >"$runtime/pulse/default.pa" <<EOF
load-module module-native-protocol-unix socket=$runtime/pulse/native auth-anonymous=1
load-module module-null-sink sink_name=demo_sink rate=48000 channels=2 sink_properties=device.description=Demo_Sink
load-module module-sine sink=demo_sink frequency=440
set-default-sink demo_sink
set-default-source demo_sink.monitor
EOF
    env -u PULSE_SERVER -u DISPLAY HOME="$runtime/pulse" XDG_RUNTIME_DIR="$runtime/pulse" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        -F "$runtime/pulse/default.pa" >"$runtime/pulse.log" 2>&1 &
    pids+=($!)
    export PULSE_SERVER="unix:$runtime/pulse/native"
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
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
mkdir -p "$runtime/icecast"
# Run as root, Icecast drops to "nobody", which must reach its folder.
[ "$(id -u)" -eq 0 ] && chmod 711 "$runtime"
config=$(ICECAST_SOURCE_PASSWORD="$source_password" ICECAST_ADMIN_PASSWORD="$admin_password" \
    "$icecast_config" --dir "$runtime/icecast" --port "$icecast_port")
icecast2 -c "$config" >"$runtime/icecast.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    curl -fs -o /dev/null "http://127.0.0.1:$icecast_port/status-json.xsl" && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
done
if ! curl -fs -o /dev/null "http://127.0.0.1:$icecast_port/status-json.xsl"; then
    say "Icecast did not start:"
    cat "$runtime/icecast.log" "$runtime/icecast/log/error.log" 2>/dev/null || true
    exit 1
fi
say "Icecast on 127.0.0.1:$icecast_port"

api_port=8443
port_in_use "$api_port" && api_port=0
"$devcloud" --accounts "$state/accounts.json" --create-demo \
    --demo-source-password "$source_password" --cert-dir "$state/tls" --api-port "$api_port" \
    --icecast-port "$icecast_port" --icecast-admin-password "$admin_password" \
    >"$runtime/devcloud.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    grep -q "ondaro-devcloud ready" "$runtime/devcloud.log" && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "ondaro-devcloud ready" "$runtime/devcloud.log"; then
    say "the stand-in cloud service did not start:"
    cat "$runtime/devcloud.log"
    exit 1
fi
grep -E "Demo account private token|REST API|Point the application" "$runtime/devcloud.log" | sed 's/^/run: /'

# The demo channel: its streaming port and mount point, as the service hands them out.
streaming_port=$(grep -o '"streaming_server_port": *[0-9]*' "$state/accounts.json" | head -n1 | grep -o '[0-9]*$')
mount=$(grep -o '"streaming_server_mountpoint": *"[^"]*"' "$state/accounts.json" | head -n1 | sed 's/.*"\([^"]*\)"$/\1/')
wait_for_port "$streaming_port" || { say "the demo streaming port $streaming_port is not open"; exit 1; }

say "going live to the demo channel; listen at http://127.0.0.1:$streaming_port$mount (Ctrl+C stops)"
status=0
DOREDORADAR_SOURCE_PASSWORD="$source_password" "$cli" \
    "icecast://source@127.0.0.1:$streaming_port$mount" --deck1 default \
    --name "Demo Radio" --title "Ondaro Doredoradar - Test transmission" "$@" || status=$?
exit "$status"
