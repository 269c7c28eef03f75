#!/usr/bin/env bash
# Runs one command where 32-bit Wine works, for the i686 Windows programs: on this host when it
# has a working wine32 loader, else in the multiarch root filesystem of
# scripts/make-wine32-root.sh (made here when it is missing), entered with chroot in a mount
# namespace of the command's own. There, the source tree and the trees of the command's path
# arguments (the build tree holding a program or a prefix) are seen at the same paths as here,
# with /proc and /dev; /tmp is the root's own, shared by every command run in it, so that
# programs run at the same time on one prefix meet the one wineserver of that prefix, as they do
# on the host (nspawn would give each its own process and /tmp namespace, and so its own server).
#
# The command gets PELLUX_WINE_LOADER, the 32-bit loader, and WINESERVER, the server of 64-bit
# prefixes (those of 64-bit Windows, in which the i686 programs run as under WOW64).
#
# Before the command, the 32-bit loader is tried (wine --version), so that a machine that cannot
# run it says why instead of each program failing on its own: a kernel without IA-32 emulation
# (or a hypervisor that forbids 32-bit code) refuses every i386 program with "Exec format error".
#
# Usage: in-wine32.sh COMMAND [ARGS...]
#        in-wine32.sh --check    (makes the root when needed, tries the loader, says which Wine)
# Environment: PELLUX_WINE32_ROOT, the root filesystem (default: build/wine32-root in the
# source tree); PELLUX_WINE32_LOADER, the host's 32-bit loader (default /usr/lib/wine/wine).
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: in-wine32.sh COMMAND [ARGS...] | --check" >&2
  exit 2
fi
check_only=no
if [ "$1" = --check ]; then
  check_only=yes
fi

scripts=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
source_tree=$(dirname "$scripts")
root=${PELLUX_WINE32_ROOT:-$source_tree/build/wine32-root}
host_loader=${PELLUX_WINE32_LOADER:-/usr/lib/wine/wine}

# The 64-bit server: a 64-bit prefix needs it, whichever loader starts it.
server_in() {
  local base=$1
  if [ -x "$base/usr/lib/wine/wineserver64" ]; then
    echo /usr/lib/wine/wineserver64
  else
    echo /usr/lib/wine/wineserver
  fi
}

# The host runs 32-bit Wine itself when its wine32 loader starts.
if [ -x "$host_loader" ] && version=$("$host_loader" --version 2>/dev/null); then
  export PELLUX_WINE_LOADER="$host_loader"
  export WINESERVER
  WINESERVER=$(server_in "")
  if [ "$check_only" = yes ]; then
    echo "in-wine32: this host's 32-bit Wine: $host_loader ($version)"
    exit 0
  fi
  exec "$@"
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "in-wine32: this host has no working 32-bit Wine loader ($host_loader), and entering" \
       "the root filesystem $root needs root" >&2
  exit 1
fi

# Whether this kernel runs 32-bit x86 programs at all, tried before the root is made, as a
# machine without IA-32 emulation runs no program of it.
if ! "$scripts/host-runs-i386.sh" "$(dirname "$root")"; then
  exit 1
fi

# Made once, by whichever command comes first; make-wine32-root.sh returns at once when the
# root of its recipe is there.
if ! flock "$root.lock" "$scripts/make-wine32-root.sh" "$root" >&2; then
  echo "in-wine32: this host has no working 32-bit Wine loader ($host_loader), and the root" \
       "filesystem $root with 32-bit Wine is missing and could not be made" >&2
  exit 1
fi
if [ ! -x "$root/usr/lib/wine/wine" ]; then
  echo "in-wine32: the root filesystem $root has no 32-bit Wine loader (/usr/lib/wine/wine)" >&2
  exit 1
fi

# The tree of a path: the nearest folder above it with a CMakeCache.txt (a build tree), else
# the nearest existing folder that holds it (never the path itself, which the command may
# remove and make again, as a prefix).
tree_of() {
  local path=$1 folder
  folder=$(dirname "$path")
  while [ ! -d "$folder" ]; do folder=$(dirname "$folder"); done
  local probe=$folder
  while [ "$probe" != / ]; do
    if [ -f "$probe/CMakeCache.txt" ]; then
      echo "$probe"
      return
    fi
    probe=$(dirname "$probe")
  done
  echo "$folder"
}

trees=("$source_tree")
[ "$check_only" = yes ] && set -- /bin/true
for argument in "$@"; do
  case "$argument" in
    /*) ;;
    *) continue ;;
  esac
  tree=$(tree_of "$(readlink -m "$argument")")
  covered=no
  for seen in "${trees[@]}"; do
    case "$tree/" in
      "$seen"/*) covered=yes ;;
    esac
  done
  [ "$tree" = / ] && covered=yes
  [ "$covered" = no ] && trees+=("$tree")
done

export PELLUX_WINE_LOADER=/usr/lib/wine/wine
export WINESERVER
WINESERVER=$(server_in "$root")

# In the namespace: the trees (before /proc and /dev, so that a tree holding the root does not
# carry them twice), then /proc and /dev, then the command in the root with the root's own
# search path and home. The inner script expands its own arguments.
# shellcheck disable=SC2016
exec unshare --mount --propagation private -- /bin/bash -c '
  set -e
  root=$1
  check=$2
  count=$3
  shift 3
  while [ "$count" -gt 0 ]; do
    mkdir -p "$root$1"
    mount --rbind "$1" "$root$1"
    shift
    count=$((count - 1))
  done
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  unset TMPDIR
  # bash, not chroot itself, runs the loader: it names the exec error (chroot would hand an
  # ELF file the kernel refused to /bin/sh).
  if ! version=$(chroot "$root" /bin/bash -c "exec /usr/lib/wine/wine --version" 2>&1); then
    echo "in-wine32: the 32-bit Wine loader of $root does not start: $version" >&2
    if grep -q "Exec format error" <<<"$version"; then
      echo "in-wine32: this machine runs no 32-bit x86 program (the kernel refuses i386" \
           "programs: no IA-32 emulation), so no i686 Windows program can run under Wine here" >&2
    fi
    exit 1
  fi
  if [ "$check" = yes ]; then
    echo "in-wine32: 32-bit Wine in $root: $version"
    exit 0
  fi
  exec chroot "$root" /usr/bin/env HOME=/root \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
' in-wine32 "$root" "$check_only" "${#trees[@]}" "${trees[@]}" "$@"
