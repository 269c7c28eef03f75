#!/usr/bin/env bash
# Runs one Windows test program under Wine in the given throwaway prefix.
# Usage: run-under-wine.sh PREFIX PROGRAM.exe [ARGS...]
# A program that Wine cannot really start may still exit 0, so the run only passes when the
# test program itself said that its tests passed. PELLUX_WINE_LOADER names another loader (the
# 32-bit one of run-under-wine32.sh); the default is the 64-bit one.
set -uo pipefail
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
output=$(mktemp)
trap 'rm -f "$output"' EXIT
"${PELLUX_WINE_LOADER:-/usr/lib/wine/wine64}" "$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if ! grep -q '^\[  PASSED  \]' "$output"; then
  echo "run-under-wine: $1 printed no passing test summary" >&2
  exit 1
fi
