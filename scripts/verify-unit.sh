#!/usr/bin/env bash
# Installs the Linux build into folders of its own, once with the prefix it was configured with
# and once with each prefix given to `cmake --install --prefix`, and checks each tree as systemd,
# udevd and polkitd read it:
# - every file lies under the prefix or where its reader looks (udevd and polkitd read no rules
#   under /usr/local), nothing under another prefix, and each reader's file is where it looks;
# - the units name programs installed under the same prefix; systemd-analyze verify on the
#   daemon's unit (alone, and with the example drop-in for another serial adapter) and on an
#   instance of the rebooter's template prints nothing (an unknown key is only a warning there);
# - the settings the units must have, and the rebooter's exposure (systemd-analyze security
#   --offline) at most 3.0;
# - the udev rule marks the base station for the rebooter; the polkit rule's unit pattern against
#   names it must admit and refuse.
# Usage: verify-unit.sh BUILD_DIR WORK_DIR
set -euo pipefail
build="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "verify-unit: $*" >&2
  exit 1
}

# Verifies the unit file $1 of the tree $2 under the name $3, with its program at the installed
# copy's path; $4, if given, is a drop-in to apply.
verify() {
  local unit="$1" root="$2" name="$3" dropin="${4:-}"
  local program
  program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
  local checked="$root/checked/${dropin:+with-drop-in/}$name"
  mkdir -p "$(dirname "$checked")"
  sed "s|^ExecStart=$program|ExecStart=$root$program|" "$unit" >"$checked"
  if [ -n "$dropin" ]; then
    mkdir -p "$checked.d"
    cp "$dropin" "$checked.d/"
  fi
  local output
  output=$(cd "$(dirname "$checked")" && systemd-analyze verify "$checked" 2>&1) ||
    fail "$name${dropin:+ with $(basename "$dropin")}: $output"
  [ -z "$output" ] || fail "$name${dropin:+ with $(basename "$dropin")}: $output"
  echo "systemd-analyze verify: $name is clean${dropin:+ with $(basename "$dropin")}"
}

# The unit $1 has the line $2 exactly.
has_line() {
  grep -qxF "$2" "$1" || fail "$(basename "$1") lacks the line $2"
}

# Checks the tree installed under $1 for the prefix $2.
check_tree() {
  local root="$1" prefix="$2"
  local udev_rules polkit_rules
  if [ "$prefix" = /usr ]; then
    udev_rules=/usr/lib/udev/rules.d
    polkit_rules=/usr/share/polkit-1/rules.d
  else
    udev_rules=/etc/udev/rules.d
    polkit_rules=/etc/polkit-1/rules.d
  fi
  local file
  for file in "$prefix/libexec/pellux/uplinker" "$prefix/libexec/pellux/rebooter" \
    "$prefix/bin/pelluxctl" "$prefix/libexec/pellux/html_templates/standard_error.tpl" \
    "$prefix/lib/systemd/system/pellux.service" "$prefix/lib/systemd/system/pellux-rebooter@.service" \
    "$prefix/lib/sysusers.d/pellux.conf" "$prefix/lib/tmpfiles.d/pellux.conf" \
    "$prefix/lib/modules-load.d/pellux.conf" \
    "$prefix/share/doc/pellux/README.md" "$prefix/share/doc/pellux/examples/61-pellux-adapter.rules" \
    "$prefix/share/doc/pellux/examples/pellux-serial-adapter.conf" \
    "$udev_rules/60-pellux.rules" "$polkit_rules/50-pellux-rebooter.rules" \
    /usr/share/polkit-1/actions/org.pellux.uploader.policy; do
    [ -f "$root$file" ] || fail "prefix $prefix: $file was not installed"
  done
  # Nothing anywhere else: not under another prefix, no rule where nobody reads it.
  local stray
  stray=$(cd "$root" && find . -type f | sed 's|^\.||' | grep -v -e "^$prefix/" -e "^$udev_rules/" \
    -e "^$polkit_rules/" -e '^/usr/share/polkit-1/actions/' || true)
  [ -z "$stray" ] || fail "prefix $prefix: installed outside it: $stray"

  local unit="$root$prefix/lib/systemd/system/pellux.service"
  local template="$root$prefix/lib/systemd/system/pellux-rebooter@.service"
  for file in "$unit" "$template"; do
    has_line "$file" "Documentation=file://$prefix/share/doc/pellux/README.md"
  done
  has_line "$unit" "ExecStart=$prefix/libexec/pellux/uplinker"
  has_line "$template" "ExecStart=$prefix/libexec/pellux/rebooter %i"

  verify "$unit" "$root" pellux.service
  verify "$unit" "$root" pellux.service "$root$prefix/share/doc/pellux/examples/pellux-serial-adapter.conf"
  verify "$template" "$root" pellux-rebooter@fcf-1004-1234.service
  echo "prefix $prefix: a coherent tree"
}

# The build's own prefix, as configured.
configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ -n "$configured" ] || fail "no CMAKE_INSTALL_PREFIX in $build/CMakeCache.txt"
DESTDIR="$work/configured" cmake --install "$build" >/dev/null
check_tree "$work/configured" "$configured"
# Prefixes given at install time.
for prefix in /usr /usr/local /opt/pellux; do
  DESTDIR="$work/given${prefix//\//-}" cmake --install "$build" --prefix "$prefix" >/dev/null
  check_tree "$work/given${prefix//\//-}" "$prefix"
done

# What the units must say; the tree of the prefix /usr stands for all.
root="$work/given-usr"
unit="$root/usr/lib/systemd/system/pellux.service"
template="$root/usr/lib/systemd/system/pellux-rebooter@.service"
for line in 'StateDirectoryMode=0750' 'LogsDirectoryMode=0750' 'ExecReload=/bin/kill -HUP $MAINPID' \
  'TimeoutStopSec=15s' 'DeviceAllow=char-ttyUSB rw' 'DeviceAllow=char-ttyACM rw'; do
  has_line "$unit" "$line"
done
# The folders the unit makes have the modes of the tmpfiles entries.
tmpfiles="$root/usr/lib/tmpfiles.d/pellux.conf"
grep -qx 'd /var/lib/pellux 0750 pellux pellux -' "$tmpfiles" || fail "tmpfiles: /var/lib/pellux"
grep -qx 'd /var/log/pellux 0750 pellux pellux -' "$tmpfiles" || fail "tmpfiles: /var/log/pellux"
for line in 'CapabilityBoundingSet=CAP_KILL' 'SystemCallFilter=@system-service' \
  'ProtectKernelTunables=yes' 'ReadWritePaths=/sys/devices' 'ProtectControlGroups=yes' \
  'ProcSubset=pid' 'IPAddressDeny=any' 'UMask=0077' 'NoNewPrivileges=yes'; do
  has_line "$template" "$line"
done
instance="$root/checked/pellux-rebooter@fcf-1004-1234.service"
exposure=$(systemd-analyze security --offline=true "$instance" 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gave no exposure for the rebooter"
systemd-analyze security --offline=true --threshold=30 "$instance" >/dev/null 2>&1 ||
  fail "the rebooter's exposure $exposure is above 3.0"
echo "systemd-analyze security: the rebooter's exposure is $exposure"

# The udev rule marks the base station's USB device, and only on the line that matches it.
rule="$root/usr/lib/udev/rules.d/60-pellux.rules"
marked=$(tr -d '\\\n' <"$rule" | grep -o 'SUBSYSTEM=="usb"[^#]*PELLUX_BASE_STATION}="1"' || true)
case "$marked" in
*'ATTR{idVendor}=="10c4", ATTR{idProduct}=="84c4"'*) ;;
*) fail "60-pellux.rules does not mark the 10c4:84c4 USB device as a base station" ;;
esac

rule=$(find "$root" -path '*/polkit-1/rules.d/50-pellux-rebooter.rules' | head -n 1)
pattern=$(sed -n 's|.*/\(\^pellux-rebooter@[^/]*\$\)/\.test.*|\1|p' "$rule")
[ -n "$pattern" ] || fail "no unit pattern in $rule"
grep -q 'action.lookup("verb") == "start"' "$rule" || fail "$rule does not limit the verb to start"
for admitted in pellux-rebooter@fcf-1004-1234.service pellux-rebooter@10c4-84c4-2.service \
  pellux-rebooter@ffff-ffff-2147483647.service; do
  printf '%s\n' "$admitted" | grep -Eq "$pattern" || fail "the polkit rule refuses $admitted"
done
for refused in pellux.service pellux-rebooter@.service pellux-rebooter@fcf-1004.service \
  pellux-rebooter@FCF-1004-1234.service pellux-rebooter@fcf-1004-12a.service \
  pellux-rebooter@0fcf-1004-1234.service pellux-rebooter@fcf-01004-1234.service \
  pellux-rebooter@fcfff-1004-1234.service pellux-rebooter@fcf-1004-01234.service \
  pellux-rebooter@fcf-1004-12345678901.service pellux-rebooter@0-1004-1234.service \
  'pellux-rebooter@fcf-1004-1234.serviceX' 'xpellux-rebooter@fcf-1004-1234.service' \
  'pellux-rebooter@fcf-1004-1234;x.service' 'pellux-rebooter@fcf-1004-1234Xservice' \
  other@fcf-1004-1234.service; do
  if printf '%s\n' "$refused" | grep -Eq "$pattern"; then
    fail "the polkit rule admits $refused"
  fi
done
echo "polkit rule: $pattern admits only the rebooter's instances"
