#!/usr/bin/env bash
# Runs a Windows program under wine64 in the given prefix; CTest's emulator
# for the Windows build. Usage: scripts/wine-run.sh PREFIX PROGRAM [ARGS...]
# Each build tree has its own prefix, so runs never share Wine's state; the
# crash debugger is disabled so a crash ends the run instead of hanging it.
set -euo pipefail
export WINEPREFIX="$1"
shift
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINELOADER="$wine"
exec timeout -k 10 "${KESTRUNE_WINE_TIMEOUT:-600}" "$wine" "$@"
