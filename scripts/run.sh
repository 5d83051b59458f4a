#!/usr/bin/env bash
# Sets up, builds and runs the desktop application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # No desktop session (a server or a container): run on a virtual screen instead.
    display=":$(( (RANDOM % 400) + 100 ))"
    Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$display"
    sleep 1
    echo "run: no display found; the application runs on the virtual screen $DISPLAY"
fi

exec_status=0
./build/src/doredoradar "$@" || exec_status=$?
exit "$exec_status"
