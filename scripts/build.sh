#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/. Target names given as
# arguments build only those (and what they need); none builds everything.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build -j "$(nproc)" ${1:+--target "$@"}
