#!/usr/bin/env bash
# Builds a fresh 64-bit Wine prefix for the i686 test programs, with the Wine that runs them
# (scripts/in-wine32.sh: this host's, or the root filesystem's, which is made when missing).
# A 64-bit prefix gets its 32-bit system folder (syswow64) only from 32-bit Wine: without it
# every i686 program fails to load kernel32.dll, so the prefix is refused then.
# Usage: make-wine32-prefix.sh PREFIX
set -euo pipefail
prefix=${1:?usage: make-wine32-prefix.sh PREFIX}
scripts=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
"$scripts/in-wine32.sh" "$scripts/make-wine-prefix.sh" "$prefix"
if [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "make-wine32-prefix: $prefix has no 32-bit system folder" \
       "(drive_c/windows/syswow64/kernel32.dll): 32-bit Wine did not set it up" >&2
  exit 1
fi
