#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix; CTest's emulator
# for the Windows builds. Usage: scripts/wine-run.sh PREFIX PROGRAM [ARGS...]
# WINEARCH=win32 runs a 32-bit prefix with Wine's 32-bit loader; anything
# else (the default) a 64-bit prefix with wine64.
# Each build tree has its own prefix, so runs never share Wine's state; the
# crash debugger is disabled so a crash ends the run instead of hanging it.
# KESTRUNE_WINE_MORE_OVERRIDES adds DLL overrides of the caller's own.
set -euo pipefail
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d${KESTRUNE_WINE_MORE_OVERRIDES:+;$KESTRUNE_WINE_MORE_OVERRIDES}"
if [ "${WINEARCH:-}" = win32 ]; then
  wine=/usr/lib/wine/wine
  [ -x "$wine" ] || wine=$(command -v wine)
else
  export WINEARCH=win64
  wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
fi
export WINELOADER="$wine"
run() { timeout -k 10 "${KESTRUNE_WINE_TIMEOUT:-600}" "$wine" "$@"; }

# Now and then, under load, Wine ends within milliseconds, silently and
# before the program has run. Even a program that does nothing takes about
# 100 ms under Wine, so only an end sooner than 40 ms is taken for such a
# start and tried once more; anything that ran keeps its own status.
started=$EPOCHREALTIME
run "$@" && exit 0 || status=$?
ended=$EPOCHREALTIME
if (( ${ended/./} - ${started/./} < 40000 )); then
  echo "wine-run.sh: Wine ended at once (status $status) without running $1; starting it again" >&2
  run "$@"
fi
exit "$status"
