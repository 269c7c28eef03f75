#!/usr/bin/env bash
# Builds a fresh Wine prefix for one test run, so no state (registry values, files) survives
# from an earlier run. Usage: make-wine-prefix.sh PREFIX
set -euo pipefail
export WINEPREFIX="$1"
export WINEDEBUG=-all
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver64
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
"$WINESERVER" -w 2>/dev/null || true
test -f "$WINEPREFIX/system.reg" || { echo "Wine prefix $WINEPREFIX was not created" >&2; exit 1; }
echo "Wine prefix ready: $WINEPREFIX"
