#!/usr/bin/env bash
# Installs everything the build, the tests and the cross builds need. Safe to run again: it only
# calls apt-get when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format clang-tidy libclang-rt-14-dev
  libboost1.81-dev librapidxml-dev libcurl4-openssl-dev libudev-dev libsystemd-dev
  umockdev libumockdev-dev
  nlohmann-json3-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine64
  openssl tinyproxy
  dbus-daemon python3-dbusmock
  debhelper dpkg-dev fakeroot lintian scdoc bash-completion
  mmdebstrap systemd-container
  wixl msitools nsis
  chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
