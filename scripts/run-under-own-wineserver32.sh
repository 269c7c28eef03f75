#!/usr/bin/env bash
# The i686 variant of run-under-own-wineserver.sh: one i686 test program under a wineserver of
# its own, with 32-bit Wine (scripts/in-wine32.sh).
# Usage: run-under-own-wineserver32.sh PREFIX PROGRAM.exe [ARGS...]
set -uo pipefail
scripts=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
exec "$scripts/in-wine32.sh" "$scripts/run-under-own-wineserver.sh" "$@"
