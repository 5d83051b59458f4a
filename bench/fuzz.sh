#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (installing clang when it is missing) in build-fuzz/
# and runs each for a bounded time. Not part of CI.
#   bench/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

if ! command -v clang++ >/dev/null || ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a \
        | grep -q /; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDOREDORADAR_BUILD_FUZZERS=ON >/dev/null
cmake --build build-fuzz --target fuzz_icecast_wire -j2

corpus=build-fuzz/corpus/icecast_wire
mkdir -p "$corpus"
# Seeds: a first byte picks the function (0 handshake answer, 1 percent-encoding, 2 title answer,
# 3 request fields separated by NUL).
printf '\x00HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 401 Authentication Required\r\n' >"$corpus/seed-401"
printf '\x00HTTP/1.0 200 OK\r\n\r\n' >"$corpus/seed-200"
printf '\x01\x10abc - x y \xc3\xa9 & = +' >"$corpus/seed-percent"
printf '\x02HTTP/1.0 200 OK\r\n\r\n<iceresponse><message>Mountpoint will not accept URL updates</message></iceresponse>' >"$corpus/seed-title"
printf '\x03radio.example\x00live\x00source\x00hackme\x00Name\x00Description\x00Genre\x00http://x/' >"$corpus/seed-request"

build-fuzz/bench/fuzz_icecast_wire -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "$corpus"
