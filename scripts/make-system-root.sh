#!/usr/bin/env bash
# Makes, once per machine, the root filesystem that the system tests boot with systemd-nspawn: a
# minimal Debian of this release's main suite with systemd, dbus, polkitd and udev and what the
# package needs at run time, so that installing the package there needs no network. Kept under
# build/ and made again only when the list of packages below changes.
#
#   scripts/make-system-root.sh ROOT
set -euo pipefail

root=${1:?usage: make-system-root.sh ROOT}
suite=bookworm
mirror=http://deb.debian.org/debian
packages=(
  systemd systemd-sysv dbus polkitd udev libpam-systemd
  libcurl4 libudev1 libsystemd0 libstdc++6 ca-certificates
  procps
)

recipe="$suite $mirror ${packages[*]}"
if [ -f "$root/.pellux-root" ] && [ "$(cat "$root/.pellux-root")" = "$recipe" ]; then
  exit 0
fi

if ! command -v mmdebstrap >/dev/null; then
  echo "make-system-root: mmdebstrap is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

partial="$root.partial"
rm -rf "$partial" "$root"
mkdir -p "$(dirname "$root")"
echo "make-system-root: making $root from $suite at $mirror (about 90 s the first time)"
include=$(IFS=,; echo "${packages[*]}")
if ! mmdebstrap --quiet --variant=apt --include="$include" "$suite" "$partial" \
    "deb $mirror $suite main" >"$partial.log" 2>&1; then
  echo "make-system-root: cannot make the root filesystem of $suite from $mirror" \
       "(is the registry reachable?); mmdebstrap said:" >&2
  tail -20 "$partial.log" >&2
  rm -rf "$partial"
  exit 1
fi
rm -f "$partial.log"
echo "$recipe" >"$partial/.pellux-root"
mv "$partial" "$root"
du -sh "$root" | sed 's/^/make-system-root: /'
