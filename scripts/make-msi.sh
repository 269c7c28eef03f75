#!/usr/bin/env bash
# Builds the Windows installer with wixl from packaging/windows/pellux.wxs: the shipped folder
# (scripts/make-windows-folder.sh), pellux_setup.dll of the same build as its programs, and the
# version of the project (CMakeLists.txt's project VERSION, major.minor.build; an installer
# version has three parts).
#
#   make-msi.sh ARCH FOLDER SETUP_DLL OUTDIR [VERSION]
#
# ARCH x86: the shipped package, OUTDIR/pellux-<version>.msi (i686 programs, Program Files
# (x86) on 64-bit Windows). ARCH x64: OUTDIR/pellux-<version>-x64.msi, the x86_64 programs in
# Program Files, which the installer tests install under 64-bit Wine. VERSION, for a test of
# upgrades, replaces the project's.
set -euo pipefail

if [ $# -lt 4 ] || [ $# -gt 5 ]; then
  echo "usage: make-msi.sh x86|x64 FOLDER SETUP_DLL OUTDIR [VERSION]" >&2
  exit 2
fi
arch=$1
folder=$(readlink -f "$2")
setup=$(readlink -f "$3")
outdir=$4
source_tree=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/.." && pwd)
version=${5:-$(sed -n 's/^project(Pellux VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' \
  "$source_tree/CMakeLists.txt")}
if ! [[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "make-msi: no version major.minor.build (found \"$version\")" >&2
  exit 1
fi
case "$arch" in
  x86) win64=no; program_files=ProgramFilesFolder; out="$outdir/pellux-$version.msi" ;;
  x64) win64=yes; program_files=ProgramFiles64Folder; out="$outdir/pellux-$version-x64.msi" ;;
  *) echo "make-msi: ARCH is x86 or x64, not $arch" >&2; exit 2 ;;
esac
for file in uplinker.exe rebooter.exe rebooter64.exe pelluxctl.exe html_templates/standard_error.tpl; do
  if [ ! -f "$folder/$file" ]; then
    echo "make-msi: $folder/$file is missing (make windows-folder makes the folder)" >&2
    exit 1
  fi
done
if [ ! -f "$setup" ]; then
  echo "make-msi: $setup is missing" >&2
  exit 1
fi
if ! command -v wixl >/dev/null; then
  echo "make-msi: wixl is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
# One product code per version and architecture, the same at every build of it: installing the
# same version again is then the same product, and another version a major upgrade (same
# UpgradeCode).
upgrade_code=8d43e1d9-8aaa-4a70-9e22-2a491cc51742
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
  "$upgrade_code" "pellux-$arch-$version")
mkdir -p "$outdir"
out=$(readlink -f "$out")
# wixl finds a source file only by a path relative to a folder it searches: the folder and the
# library are linked into one of its own.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
ln -s "$folder" "$stage/Pellux"
ln -s "$setup" "$stage/pellux_setup.dll"
(cd "$stage" && wixl -a "$arch" -o "$out" -I "$stage" \
  -D Version="$version" -D ProductCode="$product_code" -D Folder=Pellux \
  -D SetupActions=pellux_setup.dll -D Win64="$win64" -D ProgramFiles="$program_files" \
  "$source_tree/packaging/windows/pellux.wxs")
echo "make-msi: $out (version $version, $arch, product {$product_code})"
