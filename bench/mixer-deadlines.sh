#!/usr/bin/env bash
# How often the live mixer gave up waiting for a deck (a missed deadline: that deck is silent for
# 20 ms and its late audio is dropped) while doredoradar-cli broadcasts two capturing decks, with
# the machine optionally kept busy by N spinning processes. Counted from GStreamer's own
# aggregator log; the first aggregation after the start and the last one at the stop time out
# by design (a deck that has not delivered yet, the decks stopping).
#
# Usage: bench/mixer-deadlines.sh [seconds, default 40] [busy processes, default 0]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-40}
busy=${2:-0}
cmake --build build -j2 --target doredoradar-cli doredoradar-icecast-config >/dev/null

source scripts/local-services.sh
make_services_runtime mixer-deadlines
runtime=$services_runtime
trap 'stop_services; rm -rf "$runtime"' EXIT

# Pink noise into bench_sink (every tool records its monitor), Xvfb for libobs, Icecast.
start_bench_stage 18200

for _ in $(seq "$busy"); do
    (while :; do :; done) &
    services_pids+=($!)
done

GST_DEBUG=aggregator:6 GST_DEBUG_NO_COLOR=1 DOREDORADAR_SOURCE_PASSWORD="$password" \
    build/src/doredoradar-cli "icecast://source@127.0.0.1:$port/deadlines" \
    --deck1 bench_sink.monitor --deck2 bench_sink.monitor --codec opus --bitrate 128 \
    --duration "$seconds" >"$runtime/cli.log" 2>&1 || true

in_time=$(grep -ac "Actually aggregating, timeout: 0" "$runtime/cli.log" || true)
missed=$(grep -ac "Actually aggregating, timeout: 1" "$runtime/cli.log" || true)
echo "aggregations: $((in_time + missed)), deadlines missed: $missed" \
    "(busy processes: $busy, cores: $(nproc), ${seconds} s)"
# When: GStreamer's log time (since the process started); the start is about a second in.
first=$(grep -a -m1 "Actually aggregating" "$runtime/cli.log" | cut -d' ' -f1)
echo "first aggregation at $first; missed at:" \
    $(grep -a "Actually aggregating, timeout: 1" "$runtime/cli.log" | cut -d' ' -f1)
