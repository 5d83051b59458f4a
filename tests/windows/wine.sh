#!/usr/bin/env bash
# The Windows test programs under Wine, in the prefix named by WINEPREFIX: "setup" makes it anew
# for this run, "run PROGRAM ARGS..." runs one program in it, "cleanup" stops its wineserver.
# Without Wine every step is reported as skipped (77), never as passed.
set -euo pipefail
if ! command -v wine >/dev/null; then
    echo "SKIPPED: wine is not installed (scripts/install-deps.sh installs it)"
    exit 77
fi
case "$1" in
    setup)
        rm -rf "$WINEPREFIX"
        wineboot --init
        # Windows without a display: no X server is asked for, whatever DISPLAY says.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
        # A crashing program just ends. An empty debugger, not a missing one: without the
        # value Wine falls back to winedbg, which stays behind.
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /t REG_SZ /d '' /f
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Auto /t REG_SZ /d 1 /f
        wineserver -w
        ;;
    run)
        shift
        exec wine "$@"
        ;;
    cleanup)
        wineserver -k || true
        ;;
esac
