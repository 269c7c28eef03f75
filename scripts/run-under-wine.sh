#!/usr/bin/env bash
# Runs one Windows test program under Wine in the given throwaway prefix.
# Usage: run-under-wine.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
exec /usr/lib/wine/wine64 "$@"
