#!/usr/bin/env bash
# Assembles the folder that ships on Windows: uplinker.exe and pelluxctl.exe (from PROGRAMS, the
# i686 build for the shipped folder), rebooter.exe (the i686 build), rebooter64.exe (the x86_64
# build's rebooter: the service starts it on 64-bit Windows) and html_templates\ (the error
# page). Never a bridge library: the vendor's are not ours to ship, and the stand-ins are for
# tests. Each program is checked to be the Windows image of the machine it must be.
#
#   make-windows-folder.sh PROGRAMS WIN32_BUILD WIN64_BUILD OUT
#
# `make windows-folder` runs it with build/win32 build/win32 build/win64 build/windows/Pellux;
# the installer tests make a folder of the x86_64 programs (PROGRAMS build/win64) to install
# under 64-bit Wine.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: make-windows-folder.sh PROGRAMS WIN32_BUILD WIN64_BUILD OUT" >&2
  exit 2
fi
programs=$1
win32=$2
win64=$3
out=$4
source_tree=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)

# "pei-i386" or "pei-x86-64": what the image says it is.
image_format() {
  x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null | sed -n 's/.*file format \(pei-[a-z0-9-]*\).*/\1/p'
}

programs_format=$(image_format "$programs/service/uplinker.exe" || true)
declare -A wanted=(
  ["$programs/service/uplinker.exe"]="uplinker.exe $programs_format"
  ["$programs/tools/pelluxctl/pelluxctl.exe"]="pelluxctl.exe $programs_format"
  ["$win32/service/rebooter.exe"]="rebooter.exe pei-i386"
  ["$win64/service/rebooter64.exe"]="rebooter64.exe pei-x86-64"
)
if [ -z "$programs_format" ]; then
  echo "make-windows-folder: $programs/service/uplinker.exe is missing or no Windows program" >&2
  exit 1
fi

rm -rf "$out"
mkdir -p "$out/html_templates"
for source in "${!wanted[@]}"; do
  read -r name format <<<"${wanted[$source]}"
  if [ ! -f "$source" ]; then
    echo "make-windows-folder: $source is missing (make win32 win64 builds it)" >&2
    exit 1
  fi
  found=$(image_format "$source")
  if [ "$found" != "$format" ]; then
    echo "make-windows-folder: $source is ${found:-no Windows image}, not $format" >&2
    exit 1
  fi
  cp "$source" "$out/$name"
done
cp "$source_tree/html_templates/standard_error.tpl" "$out/html_templates/"
# Nothing else: no library of any kind.
if find "$out" -iname '*.dll' | grep -q .; then
  echo "make-windows-folder: a library reached $out" >&2
  exit 1
fi
echo "make-windows-folder: $out ($programs_format programs)"
find "$out" -type f | sort | sed "s|^$out/|  |"
