# Local stand-ins for going live on one machine, shared by scripts/run.sh and the benchmark
# scripts (sourced, not run): a private PulseAudio, a virtual X display, a local Icecast. Each is
# started in the background and remembered by PID; stop_services stops them, newest first.
# Needs the build (doredoradar-icecast-config) for the Icecast.

services_pids=()
services_runtime=""

# A private folder for the services' files: $services_runtime.
make_services_runtime() {
    services_runtime=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    # Run as root, Icecast drops to "nobody", which must reach its folder.
    if [ "$(id -u)" -eq 0 ]; then chmod 711 "$services_runtime"; fi
}

# Stops the services and removes the runtime folder when the sourcing script ends, Ctrl+C
# included, keeping its exit status.
stop_services_on_exit() {
    trap _end_services EXIT
    trap 'exit 130' INT TERM
}
_end_services() {
    local status=$?
    trap - EXIT INT TERM
    stop_services
    rm -rf "$services_runtime"
    exit "$status"
}

stop_pid() {
    kill "$1" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

stop_services() {
    for ((i = ${#services_pids[@]} - 1; i >= 0; i--)); do stop_pid "${services_pids[i]}"; done
    services_pids=()
}

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The first port from $1 on that nothing listens on.
free_port() {
    local port=$1
    while port_in_use "$port"; do port=$((port + 1)); done
    echo "$port"
}

# start_private_pulse SINK [SINE_HZ]: a PulseAudio of our own with a null sink SINK (the default
# output) whose monitor is the default input, optionally with a sine tone playing into it.
# Exports PULSE_SERVER.
start_private_pulse() {
    local sink=$1 sine=${2:-}
    local dir="$services_runtime/pulse"
    mkdir -p "$dir"
    {
        echo "load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1"
        echo "load-module module-null-sink sink_name=$sink rate=48000 channels=2"
        [ -n "$sine" ] && echo "load-module module-sine sink=$sink frequency=$sine"
        echo "set-default-sink $sink"
        echo "set-default-source $sink.monitor"
    } >"$dir/default.pa"
    env -u PULSE_SERVER -u DISPLAY HOME="$dir" XDG_RUNTIME_DIR="$dir" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        -F "$dir/default.pa" >"$services_runtime/pulse.log" 2>&1 &
    services_pids+=($!)
    export PULSE_SERVER="unix:$dir/native"
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        kill -0 "${services_pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "The private PulseAudio did not start; its log:" >&2
    cat "$services_runtime/pulse.log" >&2
    return 1
}

# A virtual X display on a free display number (screen size $1, default 1280x800x24); exports
# DISPLAY.
start_virtual_display() {
    exec 4>"$services_runtime/display"
    Xvfb -displayfd 4 -nolisten tcp -screen 0 "${1:-1280x800x24}" >"$services_runtime/xvfb.log" 2>&1 &
    services_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$services_runtime/display" ] && break
        kill -0 "${services_pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    exec 4>&-
    local number
    number=$(head -n1 "$services_runtime/display")
    if [ -z "$number" ]; then
        echo "The virtual X display (Xvfb) did not come up; its log:" >&2
        cat "$services_runtime/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$number"
}

# start_local_icecast PORT SOURCE_PASSWORD ADMIN_PASSWORD: an Icecast on 127.0.0.1:PORT with the
# configuration the tests use; waits until it answers. Sets icecast_pid.
start_local_icecast() {
    local port=$1 config
    mkdir -p "$services_runtime/icecast"
    config=$(ICECAST_SOURCE_PASSWORD="$2" ICECAST_ADMIN_PASSWORD="$3" \
        build/tools/icecast_config/doredoradar-icecast-config --dir "$services_runtime/icecast" \
        --port "$port")
    icecast2 -c "$config" >>"$services_runtime/icecast.log" 2>&1 &
    icecast_pid=$!
    services_pids+=($icecast_pid)
    for _ in $(seq 100); do
        curl -fs -o /dev/null "http://127.0.0.1:$port/status-json.xsl" && return 0
        kill -0 "$icecast_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$services_runtime/icecast.log" "$services_runtime/icecast/log/error.log" 2>/dev/null >&2 || true
    return 1
}

# start_demo_cloud STATE_DIR ICECAST_PORT SOURCE_PASSWORD ADMIN_PASSWORD API_PORT: the stand-in
# cloud service with its demo account (kept in STATE_DIR) in front of the local Icecast; waits
# until it is ready. Sets demo_token, demo_streaming_port, demo_mount and demo_pointer (the
# environment that points the application at it). Needs the build (ondaro-devcloud).
start_demo_cloud() {
    local state=$1 log="$services_runtime/devcloud.log"
    build/tools/devcloud/ondaro-devcloud --accounts "$state/accounts.json" --create-demo \
        --demo-source-password "$3" --cert-dir "$state/tls" --api-port "$5" \
        --icecast-port "$2" --icecast-admin-password "$4" >"$log" 2>&1 &
    services_pids+=($!)
    for _ in $(seq 200); do
        grep -q "ondaro-devcloud ready" "$log" && break
        kill -0 "${services_pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q "ondaro-devcloud ready" "$log"; then
        echo "The stand-in cloud service did not start; its log:" >&2
        cat "$log" >&2
        return 1
    fi
    local account='.accounts | to_entries | first | .value'
    demo_token=$(jq -er '.accounts | keys[0]' "$state/accounts.json") &&
        demo_streaming_port=$(jq -er "$account | .streaming_server_port" "$state/accounts.json") &&
        demo_mount=$(jq -er "$account | .channels[0].streaming_server_mountpoint" \
            "$state/accounts.json") ||
        { echo "The demo account in $state/accounts.json has no channel to stream to" >&2; return 1; }
    demo_pointer=$(sed -n 's/.*Point the application at it with: //p' "$log")
}

# Whether a mount is live on the local Icecast at PORT.
mount_live() {
    curl -fs "http://127.0.0.1:$1/status-json.xsl" | grep -q "\"listenurl\":\"[^\"]*$2\""
}

# The benchmarks' stage: live pink noise (a sine flatters every encoder) playing into bench_sink
# of a private PulseAudio, a virtual X display for libobs, and a local Icecast on a free port from
# PORT_BASE up. Sets `port` and `password` (source password), and points the per-user folders
# into the runtime folder.
start_bench_stage() {
    start_private_pulse bench_sink
    gst-launch-1.0 -q audiotestsrc is-live=true wave=pink-noise volume=0.5 \
        ! audio/x-raw,rate=48000,channels=2 ! pulsesink device=bench_sink >/dev/null 2>&1 &
    services_pids+=($!)
    start_virtual_display
    password=$(openssl rand -hex 12)
    port=$(free_port "$1")
    start_local_icecast "$port" "$password" "$password"
    export XDG_DATA_HOME="$services_runtime/data" XDG_CONFIG_HOME="$services_runtime/config"
}
