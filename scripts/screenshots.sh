#!/bin/sh
# Renders the windows into PNG files under a virtual X display.
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
set -eu
build=${1:-build}
out=${2:-docs/screenshots}
exec xvfb-run -a -s "-screen 0 1280x800x24" "$build/tools/screenshots/doredoradar-screenshots" "$out"
