#!/usr/bin/env bash
# Installs the Linux build into a folder of its own and checks the installed systemd unit with
# systemd-analyze verify, which must print nothing (an unknown key is only a warning there).
# Usage: verify-unit.sh BUILD_DIR DESTDIR
set -euo pipefail
build="$1"
root="$2"
rm -rf "$root"
DESTDIR="$root" cmake --install "$build" >/dev/null
unit=$(find "$root" -path '*/systemd/system/pellux.service' | head -n 1)
[ -n "$unit" ] || { echo "verify-unit: no pellux.service installed under $root" >&2; exit 1; }
program=$(sed -n 's/^ExecStart=//p' "$unit")
[ -x "$root$program" ] || { echo "verify-unit: $program was not installed" >&2; exit 1; }
# The unit names the program where it will be; verify it with the installed copy's path.
checked="$root/pellux.service"
sed "s|^ExecStart=.*|ExecStart=$root$program|" "$unit" > "$checked"
output=$(systemd-analyze verify "$checked" 2>&1) || { echo "$output" >&2; exit 1; }
if [ -n "$output" ]; then
  echo "$output" >&2
  exit 1
fi
echo "systemd-analyze verify: $unit is clean"
