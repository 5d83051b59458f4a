#!/usr/bin/env bash
# Soak: doredoradar-cli broadcasting for a long while to a local Icecast that is restarted every
# few minutes, and once, between two of those, the sound server restarted under it. Reports
# crashes, how many restarts the broadcast came back from, whether the deck was heard again after
# the sound server's restart, and how resident memory moved (sampled every 10 s; growth counted
# from the end of the first minute).
#
# Usage: bench/soak.sh [minutes, default 30] [minutes between server restarts, default 5]
#        [reconnect delay in seconds, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-30}
restart_every=${2:-5}
reconnect_delay=${3:-5}
cli=build/src/doredoradar-cli
icecast_config=build/tools/icecast_config/doredoradar-icecast-config
cmake --build build -j2 --target doredoradar-cli doredoradar-icecast-config >/dev/null

runtime=$(mktemp -d "${TMPDIR:-/tmp}/soak.XXXXXX")
[ "$(id -u)" -eq 0 ] && chmod 711 "$runtime"
# A copy of its own: the build may go on meanwhile.
cp "$cli" "$runtime/doredoradar-cli"
cli="$runtime/doredoradar-cli"
pids=()
icecast_pid=""
pulse_pid=""
cleanup() {
    [ -n "$icecast_pid" ] && kill "$icecast_pid" 2>/dev/null || true
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null || true
    for pid in "${pids[@]}" $icecast_pid $pulse_pid; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    echo "soak: logs kept in $runtime (remove when done)"
}
trap cleanup EXIT

mkdir -p "$runtime/pulse"
cat >"$runtime/pulse/default.pa" <<EOF
load-module module-native-protocol-unix socket=$runtime/pulse/native auth-anonymous=1
load-module module-null-sink sink_name=soak_sink rate=48000 channels=2
load-module module-sine sink=soak_sink frequency=440
set-default-sink soak_sink
set-default-source soak_sink.monitor
EOF
export PULSE_SERVER="unix:$runtime/pulse/native"
start_pulse() {
    env -u PULSE_SERVER -u DISPLAY HOME="$runtime/pulse" XDG_RUNTIME_DIR="$runtime/pulse" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        -F "$runtime/pulse/default.pa" >>"$runtime/pulse.log" 2>&1 &
    pulse_pid=$!
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
}
start_pulse

exec 4>"$runtime/display"
Xvfb -displayfd 4 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$runtime/display")"

password=$(openssl rand -hex 12)
port=18500
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
mkdir -p "$runtime/icecast"
config=$(ICECAST_SOURCE_PASSWORD="$password" ICECAST_ADMIN_PASSWORD="$password" \
    "$icecast_config" --dir "$runtime/icecast" --port "$port")
start_icecast() {
    icecast2 -c "$config" >>"$runtime/icecast.log" 2>&1 &
    icecast_pid=$!
    for _ in $(seq 100); do curl -fs -o /dev/null "http://127.0.0.1:$port/status-json.xsl" && return 0; sleep 0.1; done
    return 1
}
stop_icecast() {
    kill "$icecast_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$icecast_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$icecast_pid" 2>/dev/null || true
    wait "$icecast_pid" 2>/dev/null || true
}
mount_live() { curl -fs "http://127.0.0.1:$port/status-json.xsl" | grep -q '"listenurl":"[^"]*/soak"'; }
start_icecast

export XDG_DATA_HOME="$runtime/data" XDG_CONFIG_HOME="$runtime/config"
# A first short run builds GStreamer's plug-in registry, as any installation's first start does.
DOREDORADAR_SOURCE_PASSWORD="$password" "$cli" "icecast://source@127.0.0.1:$port/warm" \
    --deck1 default --duration 2 >"$runtime/warm.log" 2>&1 || true
DOREDORADAR_SOURCE_PASSWORD="$password" "$cli" "icecast://source@127.0.0.1:$port/soak" \
    --deck1 default --reconnect-delay "$reconnect_delay" --retries 1000 >"$runtime/cli.log" 2>&1 &
cli_pid=$!
for _ in $(seq 300); do grep -q "On air" "$runtime/cli.log" && break; sleep 0.1; done

rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null || echo 0; }
echo "seconds,rss_kib" >"$runtime/rss.csv"
start=$(date +%s)
end=$((start + minutes * 60))
next_restart=$((start + restart_every * 60))
# Half-way, between two server restarts: the sound server crashes and comes back.
sound_restart=$((start + minutes * 30 + restart_every * 30))
sound_back=not-reached
restarts=0
resumed=0
baseline=""
crashed=no
while [ "$(date +%s)" -lt "$end" ]; do
    sleep 10
    now=$(date +%s)
    if ! kill -0 "$cli_pid" 2>/dev/null; then crashed=yes; break; fi
    rss=$(rss_kib)
    echo "$((now - start)),$rss" >>"$runtime/rss.csv"
    [ -z "$baseline" ] && [ $((now - start)) -ge 60 ] && baseline=$rss
    if [ "$now" -ge "$next_restart" ] && [ $((end - now)) -gt 60 ]; then
        before=$(grep -c "On air" "$runtime/cli.log" || true)
        stop_icecast
        sleep 2
        start_icecast
        restarts=$((restarts + 1))
        back=no
        for _ in $(seq 60); do
            if [ "$(grep -c "On air" "$runtime/cli.log" || true)" -gt "$before" ] && mount_live; then back=yes; break; fi
            sleep 1
        done
        [ "$back" = yes ] && resumed=$((resumed + 1))
        echo "soak: restart $restarts at $((now - start)) s: back on air: $back"
        next_restart=$((next_restart + restart_every * 60))
    fi
    if [ "$sound_back" = not-reached ] && [ "$now" -ge "$sound_restart" ]; then
        before=$(grep -c "has its input back" "$runtime/cli.log" || true)
        kill -9 "$pulse_pid"
        wait "$pulse_pid" 2>/dev/null || true
        sleep 2
        start_pulse
        sound_back=no
        for _ in $(seq 30); do
            if [ "$(grep -c "has its input back" "$runtime/cli.log" || true)" -gt "$before" ]; then sound_back=yes; break; fi
            sleep 1
        done
        echo "soak: sound server restarted at $((now - start)) s: deck heard again: $sound_back"
    fi
done

status=crashed
if [ "$crashed" = no ]; then
    kill -INT "$cli_pid"
    for _ in $(seq 50); do kill -0 "$cli_pid" 2>/dev/null || break; sleep 0.1; done
    wait "$cli_pid" && status=0 || status=$?
fi
last=$(tail -n1 "$runtime/rss.csv" | cut -d, -f2)
peak=$(tail -n +2 "$runtime/rss.csv" | cut -d, -f2 | sort -n | tail -n1)
echo
echo "soak: $minutes min, server restarted every $restart_every min, reconnect delay $reconnect_delay s"
echo "soak: crashes: $([ "$crashed" = yes ] && echo 1 || echo 0), exit status at the end: $status"
echo "soak: restarts resumed: $resumed of $restarts"
echo "soak: sound server restart: deck heard again: $sound_back"
echo "soak: RSS after the first minute ${baseline:-?} KiB, at the end $last KiB (growth $(( ${last:-0} - ${baseline:-0} )) KiB), peak $peak KiB"
