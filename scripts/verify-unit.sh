#!/usr/bin/env bash
# Installs the Linux build into a folder of its own and checks the installed systemd units with
# systemd-analyze verify, which must print nothing (an unknown key is only a warning there): the
# daemon's unit, and an instance of the rebooter's template. Then the polkit rule's unit pattern
# against names it must admit and refuse.
# Usage: verify-unit.sh BUILD_DIR DESTDIR
set -euo pipefail
build="$1"
root="$2"
rm -rf "$root"
DESTDIR="$root" cmake --install "$build" >/dev/null

# Verifies the installed unit file $1 under the name $2, with its program at the installed
# copy's path.
verify() {
  local unit="$1" name="$2"
  local program
  program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
  [ -x "$root$program" ] || { echo "verify-unit: $program was not installed" >&2; exit 1; }
  mkdir -p "$root/checked"
  local checked="$root/checked/$name"
  sed "s|^ExecStart=$program|ExecStart=$root$program|" "$unit" > "$checked"
  local output
  output=$(systemd-analyze verify "$checked" 2>&1) || { echo "$output" >&2; exit 1; }
  if [ -n "$output" ]; then
    echo "$output" >&2
    exit 1
  fi
  echo "systemd-analyze verify: $unit is clean (as $name)"
}

unit=$(find "$root" -path '*/systemd/system/pellux.service' | head -n 1)
[ -n "$unit" ] || { echo "verify-unit: no pellux.service installed under $root" >&2; exit 1; }
verify "$unit" pellux.service
template=$(find "$root" -path '*/systemd/system/pellux-rebooter@.service' | head -n 1)
[ -n "$template" ] || { echo "verify-unit: no pellux-rebooter@.service under $root" >&2; exit 1; }
verify "$template" pellux-rebooter@fcf-1004-1234.service

rule=$(find "$root" -path '*/polkit-1/rules.d/50-pellux-rebooter.rules' | head -n 1)
[ -n "$rule" ] || { echo "verify-unit: no polkit rule under $root" >&2; exit 1; }
pattern=$(sed -n 's|.*/\(\^pellux-rebooter@[^/]*\$\)/\.test.*|\1|p' "$rule")
[ -n "$pattern" ] || { echo "verify-unit: no unit pattern in $rule" >&2; exit 1; }
grep -q 'action.lookup("verb") == "start"' "$rule" ||
  { echo "verify-unit: $rule does not limit the verb to start" >&2; exit 1; }
for admitted in pellux-rebooter@fcf-1004-1234.service pellux-rebooter@10c4-84c4-2.service; do
  printf '%s\n' "$admitted" | grep -Eq "$pattern" ||
    { echo "verify-unit: the polkit rule refuses $admitted" >&2; exit 1; }
done
for refused in pellux.service pellux-rebooter@.service pellux-rebooter@fcf-1004.service \
  pellux-rebooter@FCF-1004-1234.service pellux-rebooter@fcf-1004-12a.service \
  'pellux-rebooter@fcf-1004-1234.serviceX' 'xpellux-rebooter@fcf-1004-1234.service' \
  'pellux-rebooter@fcf-1004-1234;x.service' 'pellux-rebooter@fcf-1004-1234Xservice' \
  other@fcf-1004-1234.service; do
  if printf '%s\n' "$refused" | grep -Eq "$pattern"; then
    echo "verify-unit: the polkit rule admits $refused" >&2
    exit 1
  fi
done
echo "polkit rule: $pattern admits only the rebooter's instances"
