#!/usr/bin/env bash
# Runs one Windows test program under a wineserver of its own, for a test that reads what Wine's
# debug channels say about every process of that server: a service the service manager starts
# writes them to the error stream of the server's first process, which is this program here.
# The server runs over a shadow of the prefix (its registry copied, drive_c and dosdevices
# linked), so that the other tests' servers are not touched. Wine's event log channel and the
# advapi stubs' notes (ReportEventA with its event id) go to a file whose Windows path the test
# program finds in PELLUX_WINE_DEBUG_FILE.
# PELLUX_WINE_LOADER and WINESERVER name another loader and server (those of
# run-under-own-wineserver32.sh); the defaults are the 64-bit ones.
# Usage: run-under-own-wineserver.sh PREFIX PROGRAM.exe [ARGS...]
set -uo pipefail
prefix="$1"
shift
if [ -z "${WINESERVER:-}" ]; then
  WINESERVER=/usr/lib/wine/wineserver
  [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver64
fi
shadow=$(mktemp -d)
output="$shadow/output.txt"
debug="$shadow/wine-debug.txt"
# Our own server only: its prefix is the shadow.
trap 'WINEPREFIX="$shadow" "$WINESERVER" -k 2>/dev/null; rm -rf "$shadow"' EXIT
for entry in .update-timestamp dosdevices drive_c; do
  ln -s "$prefix/$entry" "$shadow/$entry"
done
cp "$prefix"/*.reg "$shadow"/
export WINEPREFIX="$shadow"
export WINEDEBUG=-all,+eventlog,fixme+advapi
export PELLUX_WINE_DEBUG_FILE="Z:$debug"
"${PELLUX_WINE_LOADER:-/usr/lib/wine/wine64}" "$@" 2>"$debug" | tee "$output"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$output"; then
  echo "run-under-own-wineserver: the debug channels said (last lines):" >&2
  tail -n 40 "$debug" >&2
  [ "$status" -ne 0 ] && exit "$status"
  echo "run-under-own-wineserver: $1 printed no passing test summary" >&2
  exit 1
fi
