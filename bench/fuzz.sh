#!/usr/bin/env bash
# Builds every libFuzzer target with clang (installing clang when it is missing) in build-fuzz/
# and runs each for a bounded time, starting from its seeds in tests/fuzz/corpus/. New inputs
# stay in build-fuzz/corpus/; a crash is written to build-fuzz/<target>-crash-*: fix it and add
# the input to the target's seeds. Not part of CI (which replays the seeds only).
#   bench/fuzz.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true

if ! command -v clang++ >/dev/null || ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a \
        | grep -q /; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi

targets=(fuzz_icecast_wire fuzz_ondaro_models fuzz_server_status fuzz_now_playing
    fuzz_cli_address fuzz_load_time_corrections)
[ "$#" -gt 0 ] && targets=("$@")

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DDOREDORADAR_BUILD_FUZZERS=ON >/dev/null
cmake --build build-fuzz --target "${targets[@]}" -j2

# Seeds of the icecast_wire target: a first byte picks the function (0 handshake answer,
# 1 percent-encoding, 2 title answer, 3 request fields separated by NUL).
wire=build-fuzz/corpus/fuzz_icecast_wire
mkdir -p "$wire"
printf '\x00HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 401 Authentication Required\r\n' >"$wire/seed-401"
printf '\x00HTTP/1.0 200 OK\r\n\r\n' >"$wire/seed-200"
printf '\x01\x10abc - x y \xc3\xa9 & = +' >"$wire/seed-percent"
printf '\x02HTTP/1.0 200 OK\r\n\r\n<iceresponse><message>Mountpoint will not accept URL updates</message></iceresponse>' >"$wire/seed-title"
printf '\x03radio.example\x00live\x00source\x00hackme\x00Name\x00Description\x00Genre\x00http://x/' >"$wire/seed-request"

# Qt's own allocations that live until exit are not findings; log lines only slow it down.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export QT_LOGGING_RULES="*.debug=false;*.info=false;*.warning=false"
failed=()
for target in "${targets[@]}"; do
    binary=$(find build-fuzz -name "$target" -type f -perm -u+x | head -n 1)
    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    echo "== $target"
    "$binary" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 -timeout=10 \
        -artifact_prefix="build-fuzz/$target-" \
        $([ -f "tests/fuzz/$target.dict" ] && echo "-dict=tests/fuzz/$target.dict") "$corpus" \
        $([ -d "tests/fuzz/corpus/$target" ] && echo "tests/fuzz/corpus/$target") ||
        failed+=("$target")
done
if [ "${#failed[@]}" -gt 0 ]; then
    echo "findings in: ${failed[*]}"
    exit 1
fi
