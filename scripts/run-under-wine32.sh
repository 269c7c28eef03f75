#!/usr/bin/env bash
# Runs one i686 Windows test program under 32-bit Wine in the given 64-bit prefix (as 64-bit
# Windows runs a 32-bit program, under WOW64): on this host when it has 32-bit Wine, else in the
# root filesystem of scripts/make-wine32-root.sh (scripts/in-wine32.sh), one entry per program.
# The pass rule is run-under-wine.sh's: the program's own passing summary.
# Usage: run-under-wine32.sh PREFIX PROGRAM.exe [ARGS...]
set -uo pipefail
scripts=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
exec "$scripts/in-wine32.sh" "$scripts/run-under-wine.sh" "$@"
