#!/usr/bin/env bash
# Makes, once per machine, the root filesystem in which the i686 Windows programs run under
# 32-bit Wine: this Debian release's main suite for amd64 and i386 with wine64 and wine32, as
# WOW64 runs a 32-bit program on 64-bit Windows. This machine's own apt cannot take wine32 beside
# its amd64 packages (the i386 index of the security suite fails to download), so the root is
# made apart, from the main suite only. Kept under build/ and made again only when the recipe
# below changes.
#
#   scripts/make-wine32-root.sh ROOT
set -euo pipefail

root=${1:?usage: make-wine32-root.sh ROOT}
suite=bookworm
mirror=http://deb.debian.org/debian
packages=(wine wine64 wine32:i386 libwine:i386 procps)

recipe="$suite $mirror amd64,i386 ${packages[*]}"
if [ -f "$root/.pellux-root" ] && [ "$(cat "$root/.pellux-root")" = "$recipe" ]; then
  exit 0
fi

if ! command -v mmdebstrap >/dev/null; then
  echo "make-wine32-root: mmdebstrap is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

partial="$root.partial"
rm -rf "$partial" "$root"
mkdir -p "$(dirname "$root")"
echo "make-wine32-root: making $root from $suite at $mirror (about 2 minutes the first time)"
include=$(IFS=,; echo "${packages[*]}")
if ! mmdebstrap --quiet --variant=apt --architectures=amd64,i386 --include="$include" \
    "$suite" "$partial" "deb $mirror $suite main" >"$partial.log" 2>&1; then
  echo "make-wine32-root: cannot make the 32-bit Wine root filesystem of $suite from $mirror" \
       "(is the registry reachable?); mmdebstrap said:" >&2
  tail -20 "$partial.log" >&2
  rm -rf "$partial"
  exit 1
fi
rm -f "$partial.log"
echo "$recipe" >"$partial/.pellux-root"
mv "$partial" "$root"
du -sh "$root" | sed 's/^/make-wine32-root: /'
