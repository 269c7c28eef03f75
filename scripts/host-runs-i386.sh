#!/usr/bin/env bash
# Whether this machine runs 32-bit x86 programs at all (some kernels are built or booted without
# IA-32 emulation, and some hypervisors forbid 32-bit code): exit 0 when it does, else 1 with
# the reason on stderr. Tries a program of 96 bytes (an ELF header, one loadable segment, and
# "exit(42)" through int 0x80), written to FOLDER (default build/ of the source tree: programs
# must be able to run there, unlike a /tmp mounted noexec).
#
# Usage: host-runs-i386.sh [FOLDER]
set -euo pipefail

scripts=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
folder=${1:-$(dirname "$scripts")/build}
mkdir -p "$folder"
probe=$(mktemp -p "$folder" i386-probe.XXXXXX)
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'\
'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'\
'\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
status=0
said=$("$probe" 2>&1) || status=$?
if [ "$status" -eq 42 ]; then
  exit 0
fi
echo "host-runs-i386: a 32-bit x86 program does not run here (status $status: $said)" >&2
if grep -q "Exec format error" <<<"$said"; then
  echo "host-runs-i386: the kernel refuses i386 programs (no IA-32 emulation), so no i686" \
       "Windows program can run under Wine on this machine" >&2
fi
exit 1
