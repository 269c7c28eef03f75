#!/usr/bin/env bash
# Builds a fresh 64-bit Wine prefix for the i686 test programs, with the Wine that runs them
# (scripts/in-wine32.sh: this host's, or the root filesystem's, which is made when missing).
# Usage: make-wine32-prefix.sh PREFIX
set -euo pipefail
scripts=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
exec "$scripts/in-wine32.sh" "$scripts/make-wine-prefix.sh" "$@"
